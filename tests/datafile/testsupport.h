#pragma once

#include "encoding.h"
#include "faultyfilesystemcalls.h"
#include "rows.h"
#include "tempfolder.h"

#include <quelm/datafileerror.h>
#include <quelm/datafilestore.h>
#include <quelm/errortext.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

// What the data file tests share: a temporary folder per test, a look at what is on disk, and
// a short way to catch the message of a failure.
namespace testsupport {

// A test with a fresh temporary folder of its own.
class FolderTest : public ::testing::Test
{
protected:
    TempFolder folder;
};

template <typename Row> class FolderTestWithRows : public ::testing::TestWithParam<Row>
{
protected:
    TempFolder folder;
};

// Windows has no nameless files: there the store always makes a file under a temporary name
// and renames it, and never gives a nameless file its name.
#ifdef _WIN32
inline constexpr bool systemHasNamelessFiles = false;
#else
inline constexpr bool systemHasNamelessFiles = true;
#endif

// A store in the test's folder on counted system calls that a test can make fail; without
// nameless files it takes the path of a temporary name and a rename.
template <typename Base> class StoreFixture : public Base
{
protected:
    // A hook may refer to the test's own variables, gone before the store closes its handles.
    ~StoreFixture() override { calls.before = nullptr; }

    quelm::DataFileStore &makeStore(bool nameless = true)
    {
        if (!nameless) {
            calls.fail(FaultyFileSystemCalls::CreateUnnamed, EOPNOTSUPP, true);
        }
        return m_store.emplace(this->folder.path(), calls);
    }

    FaultyFileSystemCalls calls;

private:
    std::optional<quelm::DataFileStore> m_store;
};

inline std::string text(const std::filesystem::path &path)
{
    return quelm::pathText(path);
}

// Every file and folder under `root`, relative to it with '/' between names, sorted.
inline std::vector<std::string> tree(const std::filesystem::path &root)
{
    std::vector<std::string> entries;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::u8string name = entry.path().lexically_relative(root).generic_u8string();
        entries.emplace_back(name.begin(), name.end());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Every file under `root` with its bytes; folders map to "".
inline std::map<std::string, std::string> snapshot(const std::filesystem::path &root)
{
    std::map<std::string, std::string> files;
    for (const std::string &entry : tree(root)) {
        const auto path = root / std::filesystem::u8path(entry);
        files[entry] = std::filesystem::is_directory(path) ? std::string() : contents(path);
    }
    return files;
}

// Stores `bars` after the bars the file at `path` counts in bars written, and counts them in its
// header's tail with their records' checksum, as appends not yet flushed leave a file.
inline void writeTail(const std::filesystem::path &path, const std::vector<quelm::Bar> &bars)
{
    std::string bytes = contents(path);
    quelm::HeaderBytes header{};
    std::copy_n(bytes.begin(), header.size(), header.begin());
    const quelm::DataFileHeader fields = quelm::decodeHeader(header);
    std::string records;
    for (const quelm::Bar &bar : bars) {
        const quelm::RecordBytes record = quelm::encodeBar(bar);
        records.append(record.begin(), record.end());
    }
    bytes.replace(quelm::fileSizeFor(fields.barsWritten), records.size(), records);
    quelm::TailChecksum checksum;
    checksum.add(records.data(), records.size());
    header =
        quelm::encodeHeader(fields, {static_cast<std::uint32_t>(bars.size()), checksum.value()});
    std::copy(header.begin(), header.end(), bytes.begin());
    write(path, bytes);
}

// The message of the DataFileError that `action` throws, its errno in `error`; "" when none.
template <typename Action> std::string errorOf(Action action, int *error = nullptr)
{
    try {
        action();
    } catch (const quelm::DataFileError &failure) {
        if (error) {
            *error = failure.errorNumber();
        }
        return failure.what();
    }
    return {};
}

inline std::string createError(quelm::DataFileStore &store, std::int32_t number, std::int32_t bars,
                               int *error = nullptr)
{
    return errorOf([&] { store.createFile(number, bars); }, error);
}

inline std::string regexEscape(const std::string &literal)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(literal, special, R"(\$&)");
}

inline bool matches(const std::string &textToCheck, const std::string &pattern)
{
    return std::regex_match(textToCheck, std::regex(pattern));
}

inline std::int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace testsupport
