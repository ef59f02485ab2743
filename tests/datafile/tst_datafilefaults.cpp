#include "testsupport.h"

#include <quelm/datafile.h>

#include <cerrno>

using namespace quelm;
using namespace testsupport;
using Call = FaultyFileSystemCalls::Call;

// Makes each system call that creating or closing a file uses fail in turn, and checks that
// the failure is told in plain words, that nothing is left behind, and that the store goes on.

struct CreateFaultRow : Row
{
    bool nameless;
    Call call;
    int skip;
    int error;
    std::string reason; // a regular expression
};

class FailedCreate : public StoreFixture<FolderTestWithRows<CreateFaultRow>>
{
};

class FailedFirstCreate : public StoreFixture<FolderTestWithRows<CreateFaultRow>>
{
};

namespace {

const std::string ioError = "the disk reported an input/output error";
const std::string diskFull =
    R"(the disk is full \(needs 4\.8 KiB, [0-9.]+ (bytes|[KMGT]iB) free\))";
const std::string sizeLimit =
    R"(the file needs 4\.8 KiB, more than this process may write \(its file size limit\))";
const std::string nameTaken = "a file of that name already exists";

} // namespace

TEST_P(FailedCreate, LeavesNothingAndTheStoreGoesOn)
{
    const CreateFaultRow &row = GetParam();
    if (row.call == Call::LinkUnnamed && !systemHasNamelessFiles) {
        GTEST_SKIP() << "this system has no nameless files to give a name";
    }
    DataFileStore &store = makeStore(row.nameless);
    store.createFile(1, 10);
    const auto before = tree(store.root());

    calls.fail(row.call, row.error, false, row.skip);
    const int callsBefore = calls.count(row.call);
    int thrown = 0;
    const std::string message = createError(store, 7, 100, &thrown);
    const std::string path = text(*store.runFolder() / "0007.qdf");
    EXPECT_TRUE(matches(message, "Cannot create data file 7 at " + regexEscape(path) + ": " +
                                     row.reason + "\\."))
        << message;
    EXPECT_EQ(thrown, row.error);
    EXPECT_EQ(calls.count(row.call) - callsBefore, 1 + row.skip); // a failed call is never retried
    EXPECT_EQ(tree(store.root()), before);
    EXPECT_FALSE(store.filePath(7));

    store.createFile(7, 100);
    EXPECT_EQ(DataFile::open(*store.filePath(7)).header().capacity, 100u);
}

// The same steps make a file at a path of the caller's choosing.
TEST_P(FailedCreate, AtAPathLeavesNothingAndCanBeRetried)
{
    const CreateFaultRow &row = GetParam();
    if (row.call == Call::LinkUnnamed && !systemHasNamelessFiles) {
        GTEST_SKIP() << "this system has no nameless files to give a name";
    }
    if (!row.nameless) {
        calls.fail(Call::CreateUnnamed, EOPNOTSUPP, true);
    }
    const auto path = folder.path() / "bars.qdf";
    calls.fail(row.call, row.error, false, row.skip);
    int thrown = 0;
    const std::string message =
        errorOf([&] { DataFile::create(path, 100, DataFile::Mode::Exclusive, calls); }, &thrown);
    EXPECT_TRUE(matches(message, "Cannot create data file " + regexEscape(text(path)) + ": " +
                                     row.reason + "\\."))
        << message;
    EXPECT_EQ(thrown, row.error);
    EXPECT_EQ(tree(folder.path()), std::vector<std::string>());

    DataFile::create(path, 100, DataFile::Mode::Exclusive, calls);
    EXPECT_EQ(DataFile::open(path).header().capacity, 100u);
}

INSTANTIATE_TEST_SUITE_P(
    DataFileStore, FailedCreate,
    ::testing::Values(
        CreateFaultRow{"nameless: create", true, Call::CreateUnnamed, 0, EIO, ioError},
        CreateFaultRow{"nameless: create, too many files open", true, Call::CreateUnnamed, 0,
                       EMFILE, "too many files are open in this program"},
        CreateFaultRow{"nameless: create, too many files open in the system", true,
                       Call::CreateUnnamed, 0, ENFILE, "too many files are open in the system"},
        CreateFaultRow{"nameless: reserve, disk full", true, Call::Reserve, 0, ENOSPC, diskFull},
        CreateFaultRow{"nameless: reserve, size limit", true, Call::Reserve, 0, EFBIG, sizeLimit},
        CreateFaultRow{"nameless: write header", true, Call::WriteAt, 0, EIO, ioError},
        CreateFaultRow{"nameless: flush", true, Call::SyncData, 0, EIO, ioError},
        CreateFaultRow{"nameless: link, name taken", true, Call::LinkUnnamed, 0, EEXIST, nameTaken},
        CreateFaultRow{"nameless: flush folder", true, Call::SyncDirectory, 0, EIO, ioError},
        CreateFaultRow{"temporary: create, name too long", false, Call::CreateNew, 0, ENAMETOOLONG,
                       "a name in the path is too long for the file system"},
        CreateFaultRow{"temporary: reserve, disk full", false, Call::Reserve, 0, ENOSPC, diskFull},
        CreateFaultRow{"temporary: write header", false, Call::WriteAt, 0, EIO, ioError},
        CreateFaultRow{"temporary: flush", false, Call::SyncData, 0, EIO, ioError},
        CreateFaultRow{"temporary: rename, name taken", false, Call::RenameNoReplace, 0, EEXIST,
                       nameTaken},
        CreateFaultRow{"temporary: flush folder", false, Call::SyncDirectory, 0, EIO, ioError}),
    RowName());

TEST_P(FailedFirstCreate, LeavesNoRunFolder)
{
    const CreateFaultRow &row = GetParam();
    DataFileStore &store = makeStore(row.nameless);

    calls.fail(row.call, row.error, false, row.skip);
    int thrown = 0;
    const std::string message = createError(store, 1, 100, &thrown);
    EXPECT_TRUE(matches(message, "Cannot create data file 1:? " + row.reason + "\\.")) << message;
    EXPECT_EQ(thrown, row.error);
    EXPECT_EQ(tree(store.root()), std::vector<std::string>());
    EXPECT_FALSE(store.runFolder());

    store.createFile(1, 100);
    EXPECT_EQ(DataFile::open(*store.filePath(1)).header().capacity, 100u);
}

namespace {
const std::string folderFailed = "the folder for this run, .*, cannot be made: ";
}

INSTANTIATE_TEST_SUITE_P(
    DataFileStore, FailedFirstCreate,
    ::testing::Values(
        CreateFaultRow{"make the run folder, name too long", true, Call::MakeDirectory, 0,
                       ENAMETOOLONG,
                       folderFailed + "a name in the path is too long for the file system"},
        CreateFaultRow{"read the local time", true, Call::LocalTime, 0, EOVERFLOW,
                       "the local time, which names the folder for this run, cannot be read: .*"},
        CreateFaultRow{"hold the run folder", true, Call::HoldDirectory, 0, EIO,
                       folderFailed + ioError},
        CreateFaultRow{"hold the run folder, too many files open", true, Call::HoldDirectory, 0,
                       EMFILE, folderFailed + "too many files are open in this program"},
        CreateFaultRow{"open the data folder", true, Call::OpenDirectory, 0, EIO,
                       folderFailed + ioError},
        CreateFaultRow{"flush the data folder", true, Call::SyncDirectory, 0, EIO,
                       folderFailed + ioError},
        CreateFaultRow{"create", true, Call::CreateUnnamed, 0, EIO, "at .*: " + ioError},
        CreateFaultRow{"reserve", true, Call::Reserve, 0, ENOSPC, "at .*: " + diskFull},
        CreateFaultRow{"flush the run folder", true, Call::SyncDirectory, 1, EIO,
                       "at .*: " + ioError},
        CreateFaultRow{"temporary: rename", false, Call::RenameNoReplace, 0, EIO,
                       "at .*: " + ioError}),
    RowName());

namespace {
using StoreTest = StoreFixture<FolderTest>;
}

TEST_F(StoreTest, TooLittleFreeSpaceIsToldBeforeWriting)
{
    calls.reportedFree = 1000;
    DataFileStore &store = makeStore();
    const auto full = [](const std::string &where) {
        return "Cannot create data file 2 " + where +
               ": the disk is full (needs 4.8 KiB, 1000 bytes free).";
    };
    int thrown = 0;
    EXPECT_EQ(createError(store, 2, 100, &thrown), full("in " + text(folder.path())));
    EXPECT_EQ(thrown, ENOSPC);
    EXPECT_EQ(calls.count(Call::MakeDirectory) + calls.count(Call::CreateUnnamed), 0);
    EXPECT_EQ(tree(store.root()), std::vector<std::string>());

    calls.reportedFree.reset();
    EXPECT_EQ(createError(store, 1, 100), "");
    calls.reportedFree = 1000;
    const auto before = tree(store.root());
    EXPECT_EQ(createError(store, 2, 100), full("at " + text(*store.runFolder() / "0002.qdf")));
    EXPECT_EQ(calls.count(Call::CreateUnnamed), 1);
    EXPECT_EQ(tree(store.root()), before);
}

struct CloseFaultRow : Row
{
    Call call;
};

class FailedClose : public StoreFixture<FolderTestWithRows<CloseFaultRow>>
{
};

TEST_P(FailedClose, IsReportedOnce)
{
    const Call call = GetParam().call;
    DataFileStore &store = makeStore();
    store.createFile(4, 10);
    const int syncsBefore = calls.count(Call::SyncData);

    calls.fail(call, EIO);
    int error = 0;
    EXPECT_EQ(errorOf([&] { store.closeFile(4); }, &error),
              "Cannot close data file 4 at " + text(*store.filePath(4)) + ": " + ioError + ".");
    EXPECT_EQ(error, EIO);
    EXPECT_LE(calls.count(Call::SyncData) - syncsBefore, 1);
    const int callsBefore = calls.count(call);
    store.closeFile(4);
    EXPECT_EQ(calls.count(call), callsBefore);
    EXPECT_EQ(DataFile::open(*store.filePath(4)).header().capacity, 10u);
}

INSTANTIATE_TEST_SUITE_P(DataFileStore, FailedClose,
                         ::testing::Values(CloseFaultRow{"open again", Call::OpenInDirectory},
                                           CloseFaultRow{"read the header", Call::ReadAt},
                                           CloseFaultRow{"write the header", Call::WriteAt},
                                           CloseFaultRow{"flush", Call::SyncData},
                                           CloseFaultRow{"close", Call::Close}),
                         RowName());

// Closing marks the file closed cleanly and flushes it before its handle goes.
TEST_F(StoreTest, CloseFlushesTheMarkedFile)
{
    DataFileStore &store = makeStore();
    store.createFile(2, 10);
    std::vector<Call> order;
    calls.before = [&](Call call) { order.push_back(call); };
    store.closeFile(2);
    EXPECT_EQ(order, (std::vector<Call>{Call::OpenInDirectory, Call::ReadAt, Call::WriteAt,
                                        Call::SyncData, Call::Close}));
}

struct ForeignFileRow : Row
{
    bool nameless;
    Call publish; // the call that gives the file its final name
};

class ForeignFile : public StoreFixture<FolderTestWithRows<ForeignFileRow>>
{
};

// Another program puts a file of the same name into the run folder just before the store
// publishes its own: that file stays as it was and the creation fails.
TEST_P(ForeignFile, IsNeverReplaced)
{
    if (GetParam().publish == Call::LinkUnnamed && !systemHasNamelessFiles) {
        GTEST_SKIP() << "this system has no nameless files to give a name";
    }
    DataFileStore &store = makeStore(GetParam().nameless);
    store.createFile(1, 10);
    const auto target = *store.runFolder() / "0002.qdf";
    calls.before = [&](Call call) {
        if (call == GetParam().publish) {
            write(target, "another program's file");
        }
    };
    int error = 0;
    EXPECT_EQ(createError(store, 2, 10, &error),
              "Cannot create data file 2 at " + text(target) + ": " + nameTaken + ".");
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(contents(target), "another program's file");
    EXPECT_EQ(tree(store.root()).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(DataFileStore, ForeignFile,
                         ::testing::Values(ForeignFileRow{"nameless", true, Call::LinkUnnamed},
                                           ForeignFileRow{"temporary", false,
                                                          Call::RenameNoReplace}),
                         RowName());

// Some file systems (ramfs, some FUSE ones) keep no count of their space; the reservation then
// decides whether the file fits.
TEST_F(StoreTest, UnknownFreeSpaceLeavesItToTheReservation)
{
    calls.freeUnknown = true;
    DataFileStore &store = makeStore();
    EXPECT_EQ(createError(store, 1, 100), "");
    EXPECT_EQ(DataFile::open(*store.filePath(1)).header().capacity, 100u);

    calls.fail(Call::Reserve, ENOSPC);
    EXPECT_EQ(createError(store, 2, 100), "Cannot create data file 2 at " +
                                              text(*store.runFolder() / "0002.qdf") +
                                              ": the disk is full (needs 4.8 KiB).");
}

struct LeftFileRow : Row
{
    bool nameless;
    bool first; // the run's first file, or one after another
};

class LeftFile : public StoreFixture<FolderTestWithRows<LeftFileRow>>
{
};

// The folder cannot be flushed after the file got its name, and the name cannot be taken back:
// the file stays, and the user is told where, and the run stays in that one folder.
TEST_P(LeftFile, IsReportedWhereItIsAndTheRunKeepsItsFolder)
{
    const LeftFileRow &row = GetParam();
    DataFileStore &store = makeStore(row.nameless);
    const std::int32_t number = row.first ? 1 : 3;
    if (!row.first) {
        store.createFile(1, 10);
    }
    calls.fail(Call::SyncDirectory, EIO, false, row.first ? 1 : 0);
    calls.fail(Call::RemoveFile, EACCES);
    int error = 0;
    const std::string message = createError(store, number, 10, &error);
    ASSERT_TRUE(store.runFolder());
    const auto runFolder = *store.runFolder();
    const auto path = runFolder / DataFileStore::fileName(number);
    EXPECT_EQ(message, "Cannot create data file " + std::to_string(number) +
                           " safely: its folder could not be flushed (" + ioError +
                           "), and the file could not be removed either (permission was "
                           "denied); it is left at " +
                           text(path) + ", not closed cleanly.");
    EXPECT_EQ(error, EIO);
    EXPECT_FALSE(DataFile::open(path).header().closedCleanly);
    EXPECT_EQ(store.filePath(number), path);

    store.createFile(2, 10);
    EXPECT_EQ(store.runFolder(), runFolder);
    EXPECT_EQ(tree(store.root()).size(), row.first ? 3u : 4u);
}

INSTANTIATE_TEST_SUITE_P(DataFileStore, LeftFile,
                         ::testing::Values(LeftFileRow{"nameless: first file", true, true},
                                           LeftFileRow{"nameless: later file", true, false},
                                           LeftFileRow{"temporary: first file", false, true},
                                           LeftFileRow{"temporary: later file", false, false}),
                         RowName());

// Another store starting up may clear the new run folder before this one holds it, taking it
// for a killed run's: the run goes on in a folder of the next name.
TEST_F(StoreTest, RunFolderRemovedBeforeItIsHeldIsMadeAgain)
{
    DataFileStore &store = makeStore();
    calls.before = [&](Call call) {
        if (call == Call::HoldDirectory && calls.count(Call::HoldDirectory) == 1) {
            for (const std::string &entry : tree(folder.path())) {
                std::filesystem::remove(folder.path() / entry);
            }
        }
    };
    EXPECT_EQ(createError(store, 1, 10), "");
    EXPECT_TRUE(matches(text(store.runFolder()->filename()), R"(.* \(002\))"));
    EXPECT_EQ(tree(folder.path()).size(), 2u);
}
