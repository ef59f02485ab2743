#include "encoding.h"
#include "testsupport.h"

#include <quelm/datafile.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <set>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace quelm;
using namespace testsupport;

struct NewFileRow : Row
{
    std::int32_t number;
    std::int32_t bars;
};

class NewFile : public FolderTestWithRows<NewFileRow>
{
};

namespace {

using StoreTest = FolderTest;

// The file at `path` has the size of `bars` bars, and on POSIX all of its space reserved.
void expectSizeAndSpace(const std::filesystem::path &path, std::uint64_t bars)
{
    const std::uint64_t size = 64 + 48 * bars;
    EXPECT_EQ(std::filesystem::file_size(path), size);
#ifndef _WIN32
    struct stat status = {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_GE(static_cast<std::uint64_t>(status.st_blocks) * 512, size) << "space not reserved";
#endif
}

} // namespace

TEST_P(NewFile, IsReadyForItsBars)
{
    const NewFileRow &row = GetParam();
    DataFileStore store(folder.path());
    const std::int64_t before = nowMs();
    std::int32_t number = row.number;
    std::int32_t count = row.bars;
    ASSERT_EQ(store.CreateDataFile(number, count), 0);
    EXPECT_EQ(number, row.number);
    EXPECT_EQ(count, row.bars);

    ASSERT_TRUE(store.runFolder());
    const auto path = *store.runFolder() / DataFileStore::fileName(row.number);
    EXPECT_EQ(store.filePath(row.number), path);
    const std::string runFolder = text(store.runFolder()->filename());
    EXPECT_EQ(tree(store.root()),
              (std::vector<std::string>{runFolder, runFolder + "/" + text(path.filename())}));
    expectSizeAndSpace(path, static_cast<std::uint64_t>(row.bars));

    const DataFileHeader header = DataFile::open(path).header();
    EXPECT_EQ(header.fileNumber, row.number);
    EXPECT_EQ(header.capacity, static_cast<std::uint64_t>(row.bars));
    EXPECT_EQ(header.barsWritten, 0u);
    EXPECT_FALSE(header.closedCleanly);
    EXPECT_GE(header.createdMs, before);
    EXPECT_LE(header.createdMs, nowMs());
}

INSTANTIATE_TEST_SUITE_P(DataFileStore, NewFile,
                         ::testing::Values(NewFileRow{"no bars", 3, 0}, NewFileRow{"one bar", 3, 1},
                                           NewFileRow{"ten bars", 3, 10},
                                           NewFileRow{"a million bars", 3, 1000000},
                                           NewFileRow{"the first number", 1, 10},
                                           NewFileRow{"the largest number", 9999, 10}),
                         RowName());

// A file made at a path of the caller's choosing is made as the store makes its own.
TEST_P(NewFile, AtAPathIsReadyForItsBars)
{
    const NewFileRow &row = GetParam();
    const auto path = folder.path() / "bars.qdf";
    const std::int64_t before = nowMs();
    DataFile file = DataFile::create(path, static_cast<std::uint64_t>(row.bars));
    EXPECT_EQ(tree(folder.path()), std::vector<std::string>{"bars.qdf"});
    expectSizeAndSpace(path, static_cast<std::uint64_t>(row.bars));
    if (row.bars > 0) {
        file.appendBar({1, 1, 1, 1, 1, 1});
    }
    file.flush();
    const DataFileHeader header = DataFile::open(path).header();
    EXPECT_EQ(header.fileNumber, 0);
    EXPECT_EQ(header.capacity, static_cast<std::uint64_t>(row.bars));
    EXPECT_EQ(header.barsWritten, row.bars > 0 ? 1u : 0u);
    EXPECT_GE(header.createdMs, before);
    EXPECT_LE(header.createdMs, nowMs());
}

struct BadPathRow : Row
{
    std::string path; // in the test's folder, which holds the file "taken" and the folder "sub"
    std::string reason; // "%1" stands for the path's folder
    int error;
};

class BadPath : public FolderTestWithRows<BadPathRow>
{
};

TEST_P(BadPath, IsRefusedAndChangesNothing)
{
    const BadPathRow &row = GetParam();
    std::filesystem::create_directory(folder.path() / "sub");
    DataFile::create(folder.path() / "taken", 3).appendBar({1, 2, 3, 1, 2, 3});
    const auto before = snapshot(folder.path());

    const auto path = folder.path() / std::filesystem::u8path(row.path);
    std::string reason = row.reason;
    if (const auto at = reason.find("%1"); at != std::string::npos) {
        reason.replace(at, 2, text(path.parent_path()));
    }
    int error = 0;
    EXPECT_EQ(errorOf([&] { DataFile::create(path, 10); }, &error),
              "Cannot create data file " + text(path) + ": " + reason + ".");
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(snapshot(folder.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    DataFile, BadPath,
    ::testing::Values(BadPathRow{"a file there", "taken", "a file of that name already exists",
                                 EEXIST},
                      BadPathRow{"a folder there", "sub", "a file of that name already exists",
                                 EEXIST},
                      BadPathRow{"a folder's path", "sub/", "the path names a folder, not a file",
                                 EISDIR},
                      BadPathRow{"a missing folder", "missing/bars.qdf",
                                 "its folder %1 cannot be opened: it or a folder on its path "
                                 "does not exist",
                                 ENOENT}),
    RowName());

TEST(DataFileStoreNames, FileNamesHaveFourDigits)
{
    EXPECT_EQ(DataFileStore::fileName(1), "0001.qdf");
    EXPECT_EQ(DataFileStore::fileName(42), "0042.qdf");
    EXPECT_EQ(DataFileStore::fileName(DataFileStore::maxFileNumber), "9999.qdf");
}

TEST_F(StoreTest, ClosingMarksTheFileClosedCleanly)
{
    std::filesystem::path path;
    {
        DataFileStore store(folder.path());
        store.createFile(1, 10);
        store.createFile(2, 10);
        path = *store.filePath(1);
        // A writer's appends not flushed yet, which closing keeps counted.
        writeTail(path, {Bar{1'796'623'260'000, 2, 3, 1, 2, 5}});
        const DataFileHeader made = DataFile::open(path).header();
        EXPECT_EQ(made.barsWritten, 1u);
        store.closeFile(1);
        DataFileHeader closed = DataFile::open(path).header();
        EXPECT_TRUE(closed.closedCleanly);
        closed.closedCleanly = false;
        EXPECT_EQ(closed, made);
        store.closeFile(1);
        EXPECT_TRUE(DataFile::open(path).header().closedCleanly);
    }
    // File 2 was never closed: it stays valid and says so.
    EXPECT_FALSE(DataFile::open(path.parent_path() / "0002.qdf").header().closedCleanly);
}

TEST_F(StoreTest, MakesTheRunFolderOnlyWhenAFileIsMade)
{
    const auto root = folder.path() / "a" / "b" / "Quelm";
    {
        DataFileStore store(root);
        EXPECT_TRUE(std::filesystem::is_directory(root));
        EXPECT_FALSE(store.runFolder());
        store.closeFile(1);
    }
    EXPECT_EQ(tree(root), std::vector<std::string>());

    DataFileStore store(root);
    store.createFile(1, 10);
    const std::string name = text(store.runFolder()->filename());
    EXPECT_TRUE(matches(name, R"(\d{4}-\d\d-\d\d \d\d-\d\d-\d\d)")) << name;
}

struct BadRequestRow : Row
{
    std::int32_t number;
    std::int32_t bars;
    std::string message; // "%1" stands for the path of file 1
};

class BadRequest : public FolderTestWithRows<BadRequestRow>
{
};

namespace {

const std::string negativeBars = "Cannot create data file 2: a file cannot be made ready to take ";
const std::string mustBePositive = " bars; the number of bars must be 0 or more.";

std::string outOfRange(std::int32_t number)
{
    return "Cannot create data file " + std::to_string(number) +
           ": file numbers run from 1 to 9999.";
}

} // namespace

TEST_P(BadRequest, IsRefusedAndChangesNothing)
{
    const BadRequestRow &row = GetParam();
    DataFileStore store(folder.path());
    store.createFile(1, 10);
    store.closeFile(1);
    const auto before = snapshot(store.root());

    std::string message = row.message;
    if (const auto at = message.find("%1"); at != std::string::npos) {
        message.replace(at, 2, text(*store.filePath(1)));
    }
    EXPECT_EQ(createError(store, row.number, row.bars), message);
    EXPECT_EQ(snapshot(store.root()), before);
    store.createFile(2, 5);
}

INSTANTIATE_TEST_SUITE_P(
    DataFileStore, BadRequest,
    ::testing::Values(
        BadRequestRow{"negative bars", 2, -7, negativeBars + "-7" + mustBePositive},
        BadRequestRow{"one bar below none", 2, -1, negativeBars + "-1" + mustBePositive},
        BadRequestRow{"lowest bar count", 2, INT32_MIN,
                      negativeBars + std::to_string(INT32_MIN) + mustBePositive},
        BadRequestRow{"number 0", 0, 10, outOfRange(0)},
        BadRequestRow{"negative number", -1, 10, outOfRange(-1)},
        BadRequestRow{"number past 9999", 10000, 10, outOfRange(10000)},
        BadRequestRow{"number made and closed", 1, 10,
                      "Cannot create data file 1: this run has already made it, at %1."}),
    RowName());

TEST_F(StoreTest, ClosingANumberNotOpenDoesNothing)
{
    DataFileStore store(folder.path());
    store.createFile(1, 10);
    store.closeFile(1);
    const auto before = snapshot(store.root());
    for (const std::int32_t number : {1, 2, 0, -5, INT32_MAX}) {
        SCOPED_TRACE(number);
        std::int32_t argument = number;
        EXPECT_EQ(store.CloseDataFile(argument), 0);
        EXPECT_EQ(argument, number);
    }
    EXPECT_EQ(snapshot(store.root()), before);
}

TEST_F(StoreTest, LaterRunLeavesEarlierRunUntouched)
{
    {
        DataFileStore first(folder.path());
        for (std::int32_t number = 1; number <= 2; ++number) {
            first.createFile(number, 10 * number);
            first.closeFile(number);
        }
    }
    const auto firstRun = snapshot(folder.path());

    DataFileStore second(folder.path());
    for (std::int32_t number = 1; number <= 3; ++number) {
        second.createFile(number, 7);
        second.closeFile(number);
    }
    auto now = snapshot(folder.path());
    EXPECT_EQ(now.size(), firstRun.size() + 4);
    for (const auto &[name, bytes] : firstRun) {
        EXPECT_EQ(now[name], bytes) << name;
    }
}

TEST_F(StoreTest, TwoStoresShareARoot)
{
    DataFileStore first(folder.path());
    DataFileStore second(folder.path());
    first.createFile(1, 10);
    second.createFile(1, 20);
    EXPECT_NE(*first.runFolder(), *second.runFolder());
    EXPECT_EQ(DataFile::open(*first.filePath(1)).header().capacity, 10u);
    EXPECT_EQ(DataFile::open(*second.filePath(1)).header().capacity, 20u);
}

struct UnusableRootRow : Row
{
    std::string blocker; // a file put there first, relative to the test's folder
    std::string root;
    std::string blocked; // the folder the file stands in for, or "" for the reason below
    std::string reason;
    int error;
    const char *notOnWindows; // why Windows cannot show it, when it cannot
};

class UnusableRoot : public FolderTestWithRows<UnusableRootRow>
{
};

namespace {

std::string deepPath()
{
    std::string path = std::string(250, 'd');
    for (int i = 1; i < 20; ++i) {
        path += "/" + std::string(250, 'd');
    }
    return path;
}

const std::string tooLong = "a name in the path is too long for the file system";

} // namespace

TEST_P(UnusableRoot, IsRefusedWithTheReason)
{
    const UnusableRootRow &row = GetParam();
#ifdef _WIN32
    if (row.notOnWindows) {
        GTEST_SKIP() << row.notOnWindows;
    }
#endif
    if (!row.blocker.empty()) {
        write(folder.path() / row.blocker, "not a folder");
    }
    const auto path = (folder.path() / std::filesystem::u8path(row.root)).lexically_normal();
    const std::string reason =
        row.blocked.empty()
            ? row.reason
            : "a file stands where the folder " + text(folder.path() / row.blocked) + " should be";
    int error = 0;
    EXPECT_EQ(errorOf([&] { DataFileStore store(path); }, &error),
              "Cannot make the data folder " + text(path) + ": " + reason + ".");
    EXPECT_EQ(error, row.error);
}

INSTANTIATE_TEST_SUITE_P(
    DataFileStore, UnusableRoot,
    ::testing::Values(UnusableRootRow{"a file where the root should be", "Quelm", "Quelm", "Quelm",
                                      "", ENOTDIR, nullptr},
                      UnusableRootRow{"a file where a parent should be", "data", "data/Quelm",
                                      "data", "", ENOTDIR, nullptr},
                      UnusableRootRow{"a name too long", "", std::string(300, 'n'), "", tooLong,
                                      ENAMETOOLONG, nullptr},
                      UnusableRootRow{
                          "a path too long", "", deepPath(), "", tooLong, ENAMETOOLONG,
                          "Windows takes paths of up to 32767 characters, so this one is not too "
                          "long there (LongPath in tst_windows makes files deep down); under Wine "
                          "the host's own limit stops it with a general failure instead"}),
    RowName());

TEST_F(StoreTest, ReportsAFileWhereTheRunFolderShouldBe)
{
    const auto root = folder.path() / "Quelm";
    DataFileStore store(root);
    std::filesystem::remove(root);
    write(root, "not a folder");

    const std::string message = createError(store, 1, 10);
    EXPECT_TRUE(matches(message, "Cannot create data file 1: the folder for this run, " +
                                     regexEscape(text(root)) +
                                     R"([/\\][^/\\]+, cannot be made: a file stands where a )"
                                     R"(folder should be\.)"))
        << message;

    std::filesystem::remove(root);
    std::filesystem::create_directory(root);
    store.createFile(1, 10);
}

namespace {

// Sets the time zone of the process for its life.
class TimeZone
{
public:
    explicit TimeZone(const std::string &zone)
    {
        if (const char *old = std::getenv("TZ")) {
            m_old = old;
        }
        set(zone.c_str());
    }
    ~TimeZone() { set(m_old ? m_old->c_str() : nullptr); }
    TimeZone(const TimeZone &) = delete;
    TimeZone &operator=(const TimeZone &) = delete;

private:
    static void set(const char *zone)
    {
#ifdef _WIN32
        ::_putenv_s("TZ", zone ? zone : "");
        ::_tzset();
#else
        if (zone) {
            ::setenv("TZ", zone, 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
#endif
    }

    std::optional<std::string> m_old;
};

std::string localName(std::time_t when)
{
    char name[32];
    std::strftime(name, sizeof name, "%Y-%m-%d %H-%M-%S", std::localtime(&when));
    return name;
}

// A zone whose clock now shows an afternoon hour, hours away from UTC: there a 12-hour clock
// and UTC both give other names than the local 24-hour time.
std::string afternoonZone()
{
    const std::time_t now = std::time(nullptr);
    const int utcHour = std::gmtime(&now)->tm_hour;
    for (int hour = 15; hour <= 23; ++hour) {
        const int offset = ((hour - utcHour) % 24 + 36) % 24 - 12; // -12 to 11
        if (offset != 0) {
            return "QLM" + std::string(offset > 0 ? "-" : "+") + std::to_string(std::abs(offset));
        }
    }
    return "QLM-1";
}

// The names a run folder can get while it is made between `from` and `to`.
std::set<std::string> namesBetween(std::time_t from, std::time_t to, const std::string &suffix)
{
    std::set<std::string> names;
    for (std::time_t second = from; second <= to; ++second) {
        names.insert(localName(second) + suffix);
    }
    return names;
}

} // namespace

TEST_F(StoreTest, RunFolderIsNamedByTheLocal24HourClock)
{
    const TimeZone zone(afternoonZone());
    DataFileStore store(folder.path());
    const std::time_t before = std::time(nullptr);
    store.createFile(1, 10);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(namesBetween(before, after, "").count(text(store.runFolder()->filename())), 1u)
        << text(store.runFolder()->filename()) << " was made at " << localName(before);
}

struct SameSecondRow : Row
{
    std::vector<std::string> taken; // suffixes of folders already there for each second
    std::string suffix;             // the one the new run folder gets
};

class SameSecond : public StoreFixture<FolderTestWithRows<SameSecondRow>>
{
};

// Runs that start in the same second get " (002)" and up. Each taken folder holds a file, as an
// earlier run's folder does: an empty one would be cleared as a killed run's leftover.
TEST_P(SameSecond, RunGetsTheNextFreeSuffix)
{
    const std::time_t now = std::time(nullptr);
    calls.fixedTime = std::int64_t{now} * 1000 + 999;
    for (const std::string &suffix : GetParam().taken) {
        const auto taken = folder.path() / (localName(now) + suffix);
        std::filesystem::create_directory(taken);
        write(taken / "0001.qdf", "an earlier run's file");
    }
    DataFileStore &store = makeStore();
    store.createFile(1, 10);
    EXPECT_EQ(text(store.runFolder()->filename()), localName(now) + GetParam().suffix);
}

INSTANTIATE_TEST_SUITE_P(DataFileStore, SameSecond,
                         ::testing::Values(SameSecondRow{"first run of the second", {}, ""},
                                           SameSecondRow{"second run", {""}, " (002)"},
                                           SameSecondRow{"third run", {"", " (002)"}, " (003)"},
                                           SameSecondRow{"tenth run",
                                                         {"", " (002)", " (003)", " (004)",
                                                          " (005)", " (006)", " (007)", " (008)",
                                                          " (009)"},
                                                         " (010)"}),
                         RowName());

TEST_F(StoreTest, RenameNeverReplacesAnExistingFile)
{
    FileSystemCalls &calls = systemFileCalls();
    const auto from = folder.path() / "from";
    const auto to = folder.path() / "to";
    FileSystemCalls::Handle directory = FileSystemCalls::invalidHandle;
    ASSERT_EQ(calls.holdDirectory(folder.path(), true, directory), 0);
    const FileHandle held(calls, directory);
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    ASSERT_EQ(calls.createNew(directory, "from", handle), 0);
    FileHandle file(calls, handle);
    ASSERT_EQ(calls.writeAt(file.get(), 0, "new", 3), 0);
    write(to, "old");
    EXPECT_EQ(calls.renameNoReplace(handle, directory, "from", "to"), EEXIST);
    EXPECT_EQ(contents(to), "old");

    std::filesystem::remove(to);
    EXPECT_EQ(calls.renameNoReplace(handle, directory, "from", "to"), 0);
    if (handle != file.get()) {
        file = FileHandle(calls, handle);
    }
    file.close();
    EXPECT_FALSE(std::filesystem::exists(from));
    EXPECT_EQ(contents(to), "new");
}

struct SwappedFileRow : Row
{
    // Puts something in place of `made`; false when this system cannot.
    bool (*swap)(const std::filesystem::path &made, const DataFileHeader &header);
    std::string reason;
};

class SwappedFile : public FolderTestWithRows<SwappedFileRow>
{
};

namespace {

// A valid, empty data file with `header`.
void writeDataFile(const std::filesystem::path &path, const DataFileHeader &header)
{
    const HeaderBytes bytes = encodeHeader(header);
    std::string file(fileSizeFor(header.capacity), '\0');
    std::copy(bytes.begin(), bytes.end(), file.begin());
    write(path, file);
}

const std::string notMade = "the file there is not the one this run made ";

} // namespace

// Between making and closing, something else takes the file's place: it is not marked, and
// the user is told.
TEST_P(SwappedFile, IsLeftAsItIs)
{
    const SwappedFileRow &row = GetParam();
    DataFileStore store(folder.path());
    store.createFile(1, 10);
    store.createFile(2, 10);
    const auto made = *store.filePath(1);
    const DataFileHeader header = DataFile::open(made).header();
    if (!row.swap(made, header)) {
        GTEST_SKIP() << "this system cannot make that here";
    }
    const auto before = snapshot(folder.path());

    EXPECT_EQ(errorOf([&] { store.closeFile(1); }), "Cannot close data file 1 at " + text(made) +
                                                        ": " + row.reason +
                                                        "; it was left as it is.");
    EXPECT_EQ(snapshot(folder.path()), before);
    store.closeFile(2);
    EXPECT_TRUE(DataFile::open(*store.filePath(2)).header().closedCleanly);
}

INSTANTIATE_TEST_SUITE_P(
    DataFileStore, SwappedFile,
    ::testing::Values(
        SwappedFileRow{"another file of the run",
                       [](const std::filesystem::path &made, const DataFileHeader &) {
                           std::filesystem::remove(made);
                           std::filesystem::copy_file(made.parent_path() / "0002.qdf", made);
                           return true;
                       },
                       notMade + "(its header gives file number 2)"},
        SwappedFileRow{"the same number made at another time",
                       [](const std::filesystem::path &made, const DataFileHeader &header) {
                           DataFileHeader other = header;
                           other.createdMs -= 1000;
                           std::filesystem::remove(made);
                           writeDataFile(made, other);
                           return true;
                       },
                       notMade + "(its header gives another creation time)"},
        SwappedFileRow{"not a data file",
                       [](const std::filesystem::path &made, const DataFileHeader &) {
                           write(made, std::string(100, 'x'));
                           return true;
                       },
                       "it is not a Quelm data file (its first bytes are not \"QUELMDAT\")"},
        SwappedFileRow{"a link to the file",
                       [](const std::filesystem::path &made, const DataFileHeader &) {
                           const auto kept = made.parent_path().parent_path() / "kept.qdf";
                           std::filesystem::rename(made, kept);
                           std::error_code error;
                           std::filesystem::create_symlink(kept, made, error);
                           return !error;
                       },
                       "a symbolic link stands where the file should be"}),
    RowName());

// A store starting up clears what killed runs left: hidden temporary files and empty run
// folders. It never touches a folder a running store holds, nor anything it did not make.
TEST_F(StoreTest, StartClearsOnlyLeftoversNoRunningStoreHolds)
{
    const std::string temporary = ".0002.qdf.0123456789abcdef.tmp";
    DataFileStore running(folder.path());
    running.createFile(1, 10);
    const std::string live = text(running.runFolder()->filename());
    write(*running.runFolder() / temporary, "being made");
    const auto make = [&](const std::string &path, const std::string &file) {
        std::filesystem::create_directories(folder.path() / path);
        if (!file.empty()) {
            write(folder.path() / path / file, "left");
        }
    };
    make("2020-01-01 00-00-00", "");
    make("2020-01-01 00-00-01 (002)", temporary);
    make("2020-01-01 00-00-02", temporary);
    write(folder.path() / "2020-01-01 00-00-02" / "0001.qdf", "a file of that run");
    make("2020-01-01 00-00-03", ".0002.qdf.tmp");
    make("2020-01-01 00-00-04", "0001.qdf.0123456789abcdef.tmp");
    make("notes", "");
    make("2020-01-01", "");

    DataFileStore starting(folder.path());
    EXPECT_EQ(tree(folder.path()),
              (std::vector<std::string>{"2020-01-01", "2020-01-01 00-00-02",
                                        "2020-01-01 00-00-02/0001.qdf", "2020-01-01 00-00-03",
                                        "2020-01-01 00-00-03/.0002.qdf.tmp", "2020-01-01 00-00-04",
                                        "2020-01-01 00-00-04/0001.qdf.0123456789abcdef.tmp", live,
                                        live + "/" + temporary, live + "/0001.qdf", "notes"}));
    running.closeFile(1);
}

class SwappedRunFolder : public FolderTestWithRows<Row>
{
};

// Someone moves the run folder away and puts a link to another folder in its place: the next
// file still goes into the run's own folder, never into the other one. Windows does not let
// the held folder be moved at all.
TEST_P(SwappedRunFolder, NextFileStaysInTheRun)
{
    FaultyFileSystemCalls calls;
    if (std::string(GetParam().name) == "temporary") {
        calls.fail(FaultyFileSystemCalls::CreateUnnamed, EOPNOTSUPP, true);
    }
    DataFileStore store(folder.path(), calls);
    store.createFile(1, 10);
    const auto runFolder = *store.runFolder();
    const auto moved = folder.path() / "moved";
    const auto other = folder.path() / "other";
    std::filesystem::create_directory(other);
    std::error_code error;
    std::filesystem::rename(runFolder, moved, error);
    if (error) {
        store.createFile(2, 10);
        EXPECT_TRUE(std::filesystem::exists(runFolder / "0002.qdf"));
        return;
    }
    std::filesystem::create_directory_symlink(other, runFolder, error);
    if (error) {
        GTEST_SKIP() << "this system cannot make a link to a folder here";
    }

    store.createFile(2, 10);
    EXPECT_EQ(tree(other), std::vector<std::string>());
    EXPECT_EQ(tree(moved), (std::vector<std::string>{"0001.qdf", "0002.qdf"}));
    store.closeFile(2);
    EXPECT_TRUE(DataFile::open(moved / "0002.qdf").header().closedCleanly);
}

INSTANTIATE_TEST_SUITE_P(DataFileStore, SwappedRunFolder,
                         ::testing::Values(Row{"nameless"}, Row{"temporary"}), RowName());
