#include "floors.h"

#include "benchmarks.h"

#include <quelm/datafileformat.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace quelm::bench {
namespace {

// A header and a record for each bar, as in a data file.
off_t fileSize(std::int64_t bars)
{
    return static_cast<off_t>(format::headerSize + format::recordSize * bars);
}

std::array<char, format::headerSize> header = {'Q', 'U', 'E', 'L', 'M'};

[[noreturn]] void fail(const char *call, int error)
{
    throw std::system_error(error, std::generic_category(), call);
}

int check(const char *call, int result)
{
    if (result < 0) {
        fail(call, errno);
    }
    return result;
}

void reserve(int file, std::int64_t bars)
{
    if (const int error = ::posix_fallocate(file, 0, fileSize(bars))) {
        fail("posix_fallocate", error);
    }
}

void writeHeader(int file)
{
    if (check("pwrite", static_cast<int>(::pwrite(file, header.data(), header.size(), 0))) !=
        static_cast<int>(header.size())) {
        fail("pwrite", EIO);
    }
}

} // namespace

double durableFloor(const std::filesystem::path &folder, std::int64_t bars, bool markClosed)
{
    const std::string target = (folder / "0001.qdf").string();
    const auto start = std::chrono::steady_clock::now();
    const int directory = check("open", ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int file = ::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
    // Where the file system cannot make nameless files, a hidden name and a rename that never
    // replaces, as the store does there.
    const bool named = file < 0 && (errno == EOPNOTSUPP || errno == EISDIR);
    const std::string temporary = (folder / ".0001.qdf.tmp").string();
    if (named) {
        file = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    check("open", file);
    reserve(file, bars);
    writeHeader(file);
    check("fdatasync", ::fdatasync(file));
    if (named) {
        check("renameat2",
              ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE));
    } else {
        const std::string self = "/proc/self/fd/" + std::to_string(file);
        check("linkat",
              ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW));
    }
    check("fsync", ::fsync(directory));
    if (markClosed) {
        check("pread", static_cast<int>(::pread(file, header.data(), header.size(), 0)));
        writeHeader(file);
        check("fdatasync", ::fdatasync(file));
    }
    check("close", ::close(file));
    check("close", ::close(directory));
    return secondsSince(start);
}

double bareFloor(const std::filesystem::path &folder, std::int64_t bars)
{
    const std::filesystem::path target = folder / "0001.qdf";
    const auto start = std::chrono::steady_clock::now();
    const int file =
        check("open", ::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    reserve(file, bars);
    writeHeader(file);
    check("close", ::close(file));
    return secondsSince(start);
}

} // namespace quelm::bench
