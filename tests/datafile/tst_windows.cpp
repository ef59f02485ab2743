// The data file component where Windows behaves unlike Linux: sharing modes, read-only files,
// long paths, its own error messages, space reservation and the temporary file.

#include "faultyfilesystemcalls.h"
#include "testsupport.h"

#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/datafilestore.h>
#include <quelm/errortext.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <windows.h>

using namespace quelm;
using Call = FaultyFileSystemCalls::Call;

namespace {

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A handle another program holds, closed when it goes.
class OtherProgram
{
public:
    OtherProgram(const std::filesystem::path &path, DWORD access, DWORD share)
        : m_handle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr)),
          m_error(GetLastError())
    {
    }
    ~OtherProgram()
    {
        if (opened()) {
            CloseHandle(m_handle);
        }
    }
    OtherProgram(const OtherProgram &) = delete;
    OtherProgram &operator=(const OtherProgram &) = delete;

    bool opened() const { return m_handle != INVALID_HANDLE_VALUE; }
    DWORD error() const { return m_error; }

private:
    HANDLE m_handle;
    DWORD m_error;
};

// The message of what `action` throws; "" when it throws nothing.
template <typename Action> std::string errorOf(Action action)
{
    try {
        action();
    } catch (const DataFileError &error) {
        return error.what();
    }
    return {};
}

void create(DataFileStore &store, std::int32_t number, std::int32_t bars)
{
    store.createFile(number, bars);
}

void close(DataFileStore &store, std::int32_t number)
{
    store.closeFile(number);
}

// A temporary file made the way the store makes one, given by its full path.
int createNew(const std::filesystem::path &path, FileSystemCalls::Handle &file)
{
    FileSystemCalls &calls = systemFileCalls();
    FileSystemCalls::Handle folder = FileSystemCalls::invalidHandle;
    if (const int error = calls.openDirectory(path.parent_path(), folder)) {
        return error;
    }
    const int error = calls.createNew(folder, path.filename(), file);
    calls.close(folder);
    return error;
}

// The store's temporary file under `root`, if there is one.
std::optional<std::filesystem::path> temporaryUnder(const std::filesystem::path &root)
{
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".") && name.ends_with(".tmp")) {
            return entry.path();
        }
    }
    return std::nullopt;
}

bool isHidden(const std::filesystem::path &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

// Waits up to `seconds` for `condition`.
template <typename Condition> bool waitFor(Condition condition, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string utf8(const std::wstring &text)
{
    const std::u8string converted = std::filesystem::path(text).u8string();
    return {converted.begin(), converted.end()};
}

// ---- Space reservation ----

class Reserve : public testing::TestWithParam<std::uint64_t>
{
};

// Wine refuses allocation info, as do some file systems and filter drivers; the size must be
// set all the same. A size far beyond any volume fails as a full disk.
TEST_P(Reserve, SetsTheSizeWhereAllocationIsRefusedToo)
{
    const bool fits = GetParam() < std::uint64_t{1} << 60;
    testsupport::TempFolder folder;
    const std::filesystem::path path = folder.path() / "reserved";
    FileSystemCalls &calls = systemFileCalls();
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    ASSERT_EQ(createNew(path, handle), 0);
    FileHandle file(calls, handle);

    FILE_ALLOCATION_INFO probe = {};
    const bool refused = !SetFileInformationByHandle(reinterpret_cast<HANDLE>(handle),
                                                     FileAllocationInfo, &probe, sizeof probe);
    RecordProperty("allocation_info_refused", refused ? "yes" : "no");

    const int error = calls.reserve(handle, GetParam());
    ASSERT_EQ(error, fits ? 0 : ENOSPC) << reasonText(error);
    std::uint64_t size = 0;
    ASSERT_EQ(calls.fileSize(handle, size), 0);
    EXPECT_EQ(size, fits ? GetParam() : 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Reserve,
                         testing::Values(0u, 64u, 64u + 48u * 1000u, 64u + 48u * 200000u,
                                         std::uint64_t{1} << 62));

// ---- The temporary file ----

TEST(TemporaryFile, IsHiddenWhileMadeAndShownOnceNamed)
{
    testsupport::TempFolder folder;
    FaultyFileSystemCalls calls;
    std::optional<bool> hiddenBeforeRename;
    calls.before = [&](Call call) {
        if (call == FaultyFileSystemCalls::RenameNoReplace) {
            hiddenBeforeRename = isHidden(temporaryUnder(folder.path()).value());
        }
    };
    DataFileStore store(folder.path(), calls);
    create(store, 1, 5);

    ASSERT_TRUE(hiddenBeforeRename.has_value());
    EXPECT_TRUE(*hiddenBeforeRename);
    EXPECT_FALSE(isHidden(store.filePath(1).value()));
    EXPECT_FALSE(temporaryUnder(folder.path()));
    close(store, 1);
}

// A file that took the final name while the store was making its own stays as it is.
TEST(TemporaryFile, NeverReplacesAFileThatTookItsName)
{
    testsupport::TempFolder folder;
    FaultyFileSystemCalls calls;
    std::filesystem::path taken;
    calls.before = [&](Call call) {
        if (call == FaultyFileSystemCalls::RenameNoReplace) {
            taken = temporaryUnder(folder.path()).value().parent_path() / "0001.qdf";
            std::ofstream(taken) << "someone else's";
        }
    };
    DataFileStore store(folder.path(), calls);

    EXPECT_NE(errorOf([&] { create(store, 1, 5); }).find("a file of that name already exists"),
              std::string::npos);
    std::ifstream in(taken);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "someone else's");
    EXPECT_FALSE(temporaryUnder(folder.path()));
}

TEST(TemporaryFile, GoesWhenClosedUnnamed)
{
    testsupport::TempFolder folder;
    // Wine shows every name that starts with a dot as hidden: this one does not.
    const std::filesystem::path path = folder.path() / "temporary";
    FileSystemCalls &calls = systemFileCalls();
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    ASSERT_EQ(createNew(path, handle), 0);
    EXPECT_TRUE(isHidden(path));
    EXPECT_EQ(calls.close(handle), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

// Run by GoesWhenItsProcessIsKilled in a process of its own: makes a temporary file in the
// folder it is given, says so, and waits to be killed.
TEST(TemporaryFileChild, HoldsOneUntilKilled)
{
    wchar_t folder[MAX_PATH * 4];
    if (GetEnvironmentVariableW(L"QUELM_TEMPORARY_CHILD", folder, std::size(folder)) == 0) {
        GTEST_SKIP() << "runs only as the child of TemporaryFile.GoesWhenItsProcessIsKilled";
    }
    const std::filesystem::path root(folder);
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    ASSERT_EQ(createNew(root / ".0001.qdf.1.tmp", handle), 0);
    std::ofstream(root / "ready") << "ready";
    Sleep(60000);
}

TEST(TemporaryFile, GoesWhenItsProcessIsKilled)
{
    testsupport::TempFolder folder;
    wchar_t self[MAX_PATH * 4];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, std::size(self)), 0u);
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" --gtest_filter=TemporaryFileChild.HoldsOneUntilKilled";
    ASSERT_TRUE(SetEnvironmentVariableW(L"QUELM_TEMPORARY_CHILD", folder.path().c_str()));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const BOOL started = CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &child);
    SetEnvironmentVariableW(L"QUELM_TEMPORARY_CHILD", nullptr);
    ASSERT_TRUE(started);
    CloseHandle(child.hThread);

    const std::filesystem::path temporary = folder.path() / ".0001.qdf.1.tmp";
    const bool ready =
        waitFor([&] { return std::filesystem::exists(folder.path() / "ready"); }, 30);
    TerminateProcess(child.hProcess, 9);
    EXPECT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
    CloseHandle(child.hProcess);
    ASSERT_TRUE(ready);
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(temporary); }, 10));
}

// ---- Other programs holding the files ----

struct ScannerCase
{
    const char *name;
    DWORD share;
    bool getsTheFile;
};

void PrintTo(const ScannerCase &row, std::ostream *out)
{
    *out << row.name;
}

class Scanner : public testing::TestWithParam<ScannerCase>
{
};

// A virus scanner or an indexer opens the new file just before it gets its final name and holds
// it: the file is named all the same, and closes all the same. One that does not share the
// right to delete does not get the file at all.
TEST_P(Scanner, DoesNotStopAFileBeingNamedOrClosed)
{
    const ScannerCase &row = GetParam();
    testsupport::TempFolder folder;
    FaultyFileSystemCalls calls;
    std::optional<OtherProgram> scanner;
    calls.before = [&](Call call) {
        if (call == FaultyFileSystemCalls::RenameNoReplace) {
            scanner.emplace(temporaryUnder(folder.path()).value(), GENERIC_READ, row.share);
        }
    };
    DataFileStore store(folder.path(), calls);

    EXPECT_EQ(errorOf([&] { create(store, 1, 3); }), "");
    ASSERT_TRUE(scanner.has_value());
    EXPECT_EQ(scanner->opened(), row.getsTheFile) << "error " << scanner->error();
    EXPECT_EQ(errorOf([&] { close(store, 1); }), "");
    EXPECT_NO_THROW(DataFile::open(store.filePath(1).value()));
}

INSTANTIATE_TEST_SUITE_P(ShareModes, Scanner,
                         testing::Values(ScannerCase{"shares_everything", shareAll, true},
                                         ScannerCase{"shares_reading_and_writing",
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, false},
                                         ScannerCase{"shares_nothing", 0, false}),
                         testsupport::RowName());

// The store keeps its files open; a program that opens them the way the C library does (not
// sharing the right to delete) can still read them meanwhile.
TEST(OtherProgram, OpensAFileTheStoreKeepsOpen)
{
    testsupport::TempFolder folder;
    DataFileStore store(folder.path());
    create(store, 1, 3);
    {
        OtherProgram reader(store.filePath(1).value(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_TRUE(reader.opened()) << "error " << reader.error();
        EXPECT_EQ(errorOf([&] { close(store, 1); }), "");
    }
}

struct HolderCase
{
    const char *name;
    DWORD access;
    DWORD share;
    DataFile::Mode mode;
    bool opens;
};

void PrintTo(const HolderCase &row, std::ostream *out)
{
    *out << row.name;
}

class Holder : public testing::TestWithParam<HolderCase>
{
};

// A file another program holds without sharing what we ask for, or holds to delete or rename
// it, is "in use by another program".
TEST_P(Holder, OpeningSaysTheFileIsInUse)
{
    const HolderCase &row = GetParam();
    testsupport::TempFolder folder;
    std::filesystem::path path;
    {
        DataFileStore store(folder.path());
        create(store, 1, 3);
        close(store, 1);
        path = store.filePath(1).value();
    }
    OtherProgram holder(path, row.access, row.share);
    ASSERT_TRUE(holder.opened());

    int errorNumber = 0;
    std::string message;
    try {
        DataFile file = DataFile::open(path, row.mode);
        file.flush();
    } catch (const DataFileError &error) {
        message = error.what();
        errorNumber = error.errorNumber();
    }
    if (row.opens) {
        EXPECT_EQ(message, "");
    } else {
        EXPECT_NE(message.find("in use by another program"), std::string::npos) << message;
        EXPECT_EQ(errorNumber, fromWindowsError(ERROR_SHARING_VIOLATION));
    }
}

constexpr DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
constexpr auto readOnly = DataFile::Mode::ReadOnly;
constexpr auto writable = DataFile::Mode::ReadWrite;

INSTANTIATE_TEST_SUITE_P(
    ShareModes, Holder,
    testing::Values(
        HolderCase{"exclusive_read_only", readWrite, 0, readOnly, false},
        HolderCase{"exclusive_read_write", readWrite, 0, writable, false},
        HolderCase{"readers_only_read_only", GENERIC_READ, FILE_SHARE_READ, readOnly, true},
        HolderCase{"readers_only_read_write", GENERIC_READ, FILE_SHARE_READ, writable, false},
        HolderCase{"no_delete_read_write", readWrite, FILE_SHARE_READ | FILE_SHARE_WRITE, writable,
                   true},
        HolderCase{"deleting_or_renaming_it", DELETE, shareAll, readOnly, false}),
    testsupport::RowName());

// ---- Read-only files ----

class ReadOnlyFile : public testing::Test
{
protected:
    void SetUp() override
    {
        DataFileStore store(folder.path());
        create(store, 1, 3);
        close(store, 1);
        path = store.filePath(1).value();
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    // Wine keeps the attribute as file permissions, which do not bind root.
    static bool enforced(const std::filesystem::path &file)
    {
        OtherProgram writer(file, GENERIC_WRITE, shareAll);
        return !writer.opened();
    }
    void TearDown() override { SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL); }

    testsupport::TempFolder folder;
    std::filesystem::path path;
};

TEST_F(ReadOnlyFile, OpeningToWriteSaysItIsReadOnly)
{
    if (!enforced(path)) {
        GTEST_SKIP() << "this system lets the file be opened for writing (Wine run as root)";
    }
    try {
        DataFile::open(path, DataFile::Mode::ReadWrite);
        FAIL() << "opened a read-only file for writing";
    } catch (const DataFileError &error) {
        EXPECT_NE(std::string(error.what()).find("it is marked read-only"), std::string::npos)
            << error.what();
        EXPECT_EQ(error.errorNumber(), fromWindowsError(ERROR_FILE_READ_ONLY));
    }
}

// Windows refuses to flush a handle without write access (Wine does not): there is nothing to
// flush in a file opened to read, so flushing it succeeds.
TEST_F(ReadOnlyFile, OpensToReadAndFlushes)
{
    FaultyFileSystemCalls calls;
    calls.fail(FaultyFileSystemCalls::SyncData, fromWindowsError(ERROR_ACCESS_DENIED), true);
    DataFile file = DataFile::open(path, DataFile::Mode::ReadOnly, calls);
    EXPECT_EQ(file.header().fileNumber, 1);
    EXPECT_NO_THROW(file.flush());
}

// ---- Long paths ----

TEST(LongPath, StoreMakesAndClosesFilesDeepDown)
{
    testsupport::TempFolder folder;
    std::filesystem::path root = folder.path();
    while (root.native().size() < 300) {
        root /= std::wstring(60, L'd') + std::to_wstring(root.native().size());
    }
    DataFileStore store(root);
    for (const std::int32_t number : {1, 2}) {
        EXPECT_EQ(errorOf([&] { create(store, number, 4); }), "");
        EXPECT_EQ(errorOf([&] { close(store, number); }), "");
    }
    const std::filesystem::path path = store.filePath(2).value();
    EXPECT_GT(path.native().size(), 300u);
    const DataFile file = DataFile::open(path);
    EXPECT_TRUE(file.header().closedCleanly);
}

// ---- Folder entries ----

TEST(Folder, IsFlushedThroughAHandleOfItsOwn)
{
    testsupport::TempFolder folder;
    FileSystemCalls &calls = systemFileCalls();
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    ASSERT_EQ(calls.openDirectory(folder.path(), handle), 0);
    ASSERT_NE(handle, FileSystemCalls::invalidHandle);
    FileHandle directory(calls, handle);
    EXPECT_EQ(calls.syncDirectory(handle), 0);
    // The flush reaches the system: a handle held only to clear the folder may not write.
    ASSERT_EQ(calls.holdDirectory(folder.path(), false, handle), 0);
    FileHandle held(calls, handle);
    EXPECT_EQ(calls.syncDirectory(handle), EACCES);
}

// ---- Error texts ----

std::string systemMessage(DWORD code)
{
    wchar_t text[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, std::size(text), nullptr);
    std::wstring message = text;
    while (!message.empty() && (iswspace(message.back()) || message.back() == L'.')) {
        message.pop_back();
    }
    return utf8(message);
}

class ErrorText : public testing::TestWithParam<DWORD>
{
};

TEST_P(ErrorText, KeepsTheSystemsMessageAndCode)
{
    const DWORD code = GetParam();
    const std::string text = reasonText(fromWindowsError(code));
    const std::string number = "(Windows error " + std::to_string(code) + ")";
    EXPECT_TRUE(text.ends_with(number)) << text;
    const std::string message = systemMessage(code);
    if (!message.empty()) {
        EXPECT_EQ(text, message + " " + number);
    }
}

INSTANTIATE_TEST_SUITE_P(UnmappedErrors, ErrorText,
                         testing::Values(ERROR_INVALID_NAME, ERROR_NOT_READY, ERROR_BAD_NETPATH,
                                         ERROR_NETWORK_ACCESS_DENIED));

TEST(ErrorTextSharing, SaysInUseByAnotherProgram)
{
    for (const DWORD code : {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION}) {
        EXPECT_EQ(reasonText(fromWindowsError(code)),
                  "it is in use by another program (Windows error " + std::to_string(code) + ")");
    }
}

// A name Windows does not allow reaches the user in the system's own words.
TEST(ErrorTextFromTheSystem, InvalidNameKeepsItsMessage)
{
    testsupport::TempFolder folder;
    try {
        DataFileStore store(folder.path() / "a<b");
        FAIL() << "made a folder with an invalid name";
    } catch (const DataFileError &error) {
        EXPECT_EQ(error.errorNumber(), fromWindowsError(ERROR_INVALID_NAME)) << error.what();
        EXPECT_NE(std::string(error.what()).find("(Windows error 123)"), std::string::npos)
            << error.what();
    }
}

// ---- The programs' manifest ----

TEST(Manifest, InspectToolAsksForUtf8AndLongPaths)
{
    const HMODULE module =
        LoadLibraryExW(std::filesystem::path(QUELM_INSPECT).c_str(), nullptr,
                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const auto *data = static_cast<const char *>(LockResource(LoadResource(module, found)));
    const std::string manifest(data, SizeofResource(module, found));
    FreeLibrary(module);
    EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos);
    EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos);
}

} // namespace
