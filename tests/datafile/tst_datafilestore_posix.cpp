// The store under the real system calls of Linux, in child processes that set limits, mount a
// small disk, filter system calls or get killed halfway.
#include "runprogram.h"
#include "testsupport.h"

#include <quelm/datafile.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quelm;
using namespace testsupport;
using Call = FaultyFileSystemCalls::Call;

namespace {

using PosixStoreTest = FolderTest;

// From now on each of `syscalls` fails with `error` in this process; false if the filter could
// not be installed.
bool failSystemCalls(const std::vector<int> &syscalls, int error)
{
    scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) {
        return false;
    }
    bool added = true;
    for (const int syscall : syscalls) {
        added = added && ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), syscall, 0) == 0;
    }
    const bool loaded = added && ::seccomp_load(filter) == 0;
    ::seccomp_release(filter);
    return loaded;
}

constexpr int filterRefused = 77;

// In a child process: mounts a file system of `type` at `mountPoint`, seen by this process
// only (a user and mount namespace of its own); false if the system refuses.
bool mountPrivately(const char *type, const std::filesystem::path &mountPoint, const char *options)
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        return false;
    }
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
    std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount(type, mountPoint.c_str(), type, 0, options) == 0;
}

// The highest descriptor number this process has open.
int highestDescriptor()
{
    int highest = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        highest = std::max(highest, std::stoi(entry.path().filename().string()));
    }
    return highest;
}

// What is under `root`, with the run folder's name given as "run" and the random part of a
// temporary name as "X".
std::vector<std::string> shape(const std::filesystem::path &root)
{
    static const std::regex runFolder(R"(^\d{4}-\d\d-\d\d \d\d-\d\d-\d\d)");
    static const std::regex random(R"(\.[0-9a-f]{16}\.tmp$)");
    std::vector<std::string> entries;
    for (const std::string &entry : tree(root)) {
        entries.push_back(
            std::regex_replace(std::regex_replace(entry, runFolder, "run"), random, ".X.tmp"));
    }
    return entries;
}

std::size_t openDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto &entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

} // namespace

// Past its file size limit a process gets SIGXFSZ, which would kill it; the store must turn
// that into an error, leave nothing behind and go on working.
TEST_F(PosixStoreTest, FileSizeLimitIsAnError)
{
    const auto root = folder.path();
    Child child([&] {
        const rlimit limit = {1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        DataFileStore store(root);
        Child::say(createError(store, 1, 100000) + "\n");
        Child::say(createError(store, 2, 10) + "\n");
        return 0;
    });
    const std::string said = child.readUntil();
    ASSERT_EQ(child.wait(), 0) << said;
    const auto entries = tree(root);
    ASSERT_EQ(entries.size(), 2u);
    const std::string file = text(root / entries[0] / "0001.qdf");
    EXPECT_EQ(said, "Cannot create data file 1 at " + file +
                        ": the file needs 4.6 MiB, more than this process may write (its file "
                        "size limit).\n\n");
    EXPECT_EQ(entries[1], entries[0] + "/0002.qdf");
}

// A real full disk: a 1 MiB tmpfs mounted in a user and mount namespace of a child process.
TEST_F(PosixStoreTest, DiskFullIsReportedWithSizes)
{
    const auto mountPoint = folder.path();
    const auto root = mountPoint / "Quelm";
    Child child([&] {
        if (!mountPrivately("tmpfs", mountPoint, "size=1m")) {
            return filterRefused;
        }
        FaultyFileSystemCalls calls;
        DataFileStore store(root, calls);
        Child::say(createError(store, 1, INT32_MAX) + "\n");
        Child::say(std::to_string(calls.count(Call::Reserve)) + "\n");
        // Past a free-space check told too much, the reservation itself must fail cleanly.
        calls.reportedFree = UINT64_MAX / 2;
        calls.before = [&](Call call) {
            if (call == Call::Reserve) {
                calls.reportedFree.reset();
            }
        };
        Child::say(createError(store, 1, 100000) + "\n");
        std::string entries;
        for (const std::string &entry : tree(root)) {
            entries += entry + ",";
        }
        Child::say(entries + "\n");
        Child::say(createError(store, 1, 1000) + "\n");
        return 0;
    });
    const std::vector<std::string> said = lines(child.readUntil());
    const int code = child.wait();
    if (code == filterRefused) {
        GTEST_SKIP() << "this system refuses a user namespace with its own tmpfs";
    }
    ASSERT_EQ(code, 0);
    ASSERT_EQ(said.size(), 5u);
    const std::string free = "[0-9.]+ (bytes|KiB|MiB) free";
    const std::string rootText = regexEscape(text(root));
    EXPECT_TRUE(matches(said[0], "Cannot create data file 1 in " + rootText +
                                     R"(: the disk is full \(needs 96\.0 GiB, )" + free +
                                     R"(\)\.)"))
        << said[0];
    EXPECT_EQ(said[1], "0");
    EXPECT_TRUE(matches(said[2], "Cannot create data file 1 at " + rootText +
                                     R"(/[^/]+/0001\.qdf: the disk is full \(needs 4\.6 MiB, )" +
                                     free + R"(\)\.)"))
        << said[2];
    EXPECT_EQ(said[3], "");
    EXPECT_EQ(said[4], "");
}

struct KillRow : Row
{
    int killAt; // the call before which the child dies; -1: a timed kill
    bool nameless;
    bool named; // whether file 2 has its name when the child dies
};

class KilledCreation : public FolderTestWithRows<KillRow>
{
};

TEST_P(KilledCreation, LeavesNoPartialFile)
{
    const KillRow &row = GetParam();
    const auto root = folder.path();
    Child child([&] {
        FaultyFileSystemCalls calls;
        if (!row.nameless) {
            calls.fail(Call::CreateUnnamed, EOPNOTSUPP, true);
        }
        DataFileStore store(root, calls);
        store.createFile(1, 10);
        calls.before = [&](Call call) {
            if (call == row.killAt) {
                ::raise(SIGKILL);
            }
        };
        Child::say("go\n");
        store.createFile(2, 10000000);
        ::pause();
        return 0;
    });
    ASSERT_EQ(child.readUntil('\n'), "go\n");
    if (row.killAt < 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 3000));
        child.kill(SIGKILL);
    }
    ASSERT_EQ(child.wait(), 128 + SIGKILL) << "-1: still running at the deadline";

    const auto entries = tree(root);
    ASSERT_FALSE(entries.empty());
    const auto runFolder = root / entries[0];
    for (std::size_t i = 1; i < entries.size(); ++i) {
        const auto path = root / entries[i];
        if (path.extension() != ".qdf" || path.filename().string().starts_with('.')) {
            continue;
        }
        SCOPED_TRACE(entries[i]);
        const DataFileHeader header = DataFile::open(path).header();
        EXPECT_EQ(path.filename().string(), DataFileStore::fileName(header.fileNumber));
        EXPECT_FALSE(header.closedCleanly);
    }
    EXPECT_TRUE(std::filesystem::exists(runFolder / "0001.qdf"));
    if (row.killAt >= 0) {
        EXPECT_EQ(std::filesystem::exists(runFolder / "0002.qdf"), row.named);
    }
}

INSTANTIATE_TEST_SUITE_P(
    DataFileStore, KilledCreation,
    ::testing::Values(KillRow{"nameless: before the header", Call::WriteAt, true, false},
                      KillRow{"nameless: before the flush", Call::SyncData, true, false},
                      KillRow{"nameless: before the link", Call::LinkUnnamed, true, false},
                      KillRow{"nameless: before the folder flush", Call::SyncDirectory, true, true},
                      KillRow{"temporary: before reserving", Call::Reserve, false, false},
                      KillRow{"temporary: before the flush", Call::SyncData, false, false},
                      KillRow{"temporary: before the rename", Call::RenameNoReplace, false, false},
                      KillRow{"during a large creation", -1, true, false}),
    RowName());

struct KilledWriterRow : Row
{
    int flushEvery;            // bars between flushes; 0: never
    std::int64_t killAfter;    // appends returned when the kill comes; -1: at a random moment
    Call killAt = Call::Close; // with killAfter: it dies before the next call of this kind
    int skip = 0;              // that runs after `skip` such calls
};

class KilledWriter : public FolderTestWithRows<KilledWriterRow>
{
};

namespace {

// Bar i of a killed writer; every field tells i apart.
Bar barFor(std::uint64_t i)
{
    const double price = 100.0 + static_cast<double>(i % 1000) / 8;
    return {1'796'623'260'000 + static_cast<std::int64_t>(i) * 60'000,
            price,
            price + 1,
            price - 1,
            price + 0.5,
            static_cast<double>(i)};
}

} // namespace

// A writer appending one bar a call is killed with SIGKILL: the file counts every bar whose
// append returned, and at most the one under way, each exactly as written.
TEST_P(KilledWriter, KeepsEveryAppendThatReturned)
{
    const KilledWriterRow &row = GetParam();
    constexpr std::uint64_t capacity = 200'000;
    DataFileStore store(folder.path());
    const auto path = store.createFile(1, capacity);
    void *shared = ::mmap(nullptr, sizeof(std::atomic<std::int64_t>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto &returned = *new (shared) std::atomic<std::int64_t>(0);
    Child child([&] {
        FaultyFileSystemCalls calls;
        DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite, calls);
        int skip = row.skip;
        calls.before = [&](Call call) {
            if (returned == row.killAfter && call == row.killAt && skip-- == 0) {
                ::raise(SIGKILL);
            }
        };
        for (std::uint64_t i = 0; i < capacity; ++i) {
            file.appendBar(barFor(i));
            returned = static_cast<std::int64_t>(i + 1);
            if (row.flushEvery > 0 && (i + 1) % row.flushEvery == 0) {
                file.flush();
            }
        }
        ::pause();
        return 0;
    });
    if (row.killAfter < 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (returned < 100 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::rand() % 50));
        child.kill(SIGKILL);
    }
    ASSERT_EQ(child.wait(), 128 + SIGKILL) << "-1: still running at the deadline";
    const auto said = static_cast<std::uint64_t>(returned.load());
    ::munmap(shared, sizeof(std::atomic<std::int64_t>));

    const DataFile file = DataFile::open(path);
    const std::uint64_t counted = file.header().barsWritten;
    EXPECT_GE(counted, said);
    EXPECT_LE(counted, row.killAfter < 0 ? said + 1 : said);
    const std::vector<Bar> bars = file.readBars(0, counted);
    for (std::uint64_t i = 0; i < counted; ++i) {
        ASSERT_EQ(bars[i], barFor(i)) << "bar " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    DataFile, KilledWriter,
    ::testing::Values(
        KilledWriterRow{"flushed every 1000 bars, at a random moment", 1000, -1},
        KilledWriterRow{"never flushed, at a random moment", 0, -1},
        KilledWriterRow{"between an append's record and its header", 1000, 1500, Call::WriteAt, 1},
        KilledWriterRow{"between a flush's records and its count", 1000, 2000, Call::WriteAt},
        KilledWriterRow{"between the records and the count of a fold", 0, format::maxTailBars,
                        Call::WriteAt, 1}),
    RowName());

// A store gives back every file and folder handle it opened, also those of a failed creation.
TEST_F(PosixStoreTest, StoreLeavesNoHandleOpen)
{
    const std::size_t before = openDescriptors();
    {
        DataFileStore store(folder.path());
        for (std::int32_t number = 1; number <= 3; ++number) {
            store.createFile(number, 10);
        }
        store.closeFile(1);
        store.closeFile(2);
        EXPECT_NE(createError(store, 1, 10), "");
    }
    EXPECT_EQ(openDescriptors(), before);
    {
        FaultyFileSystemCalls calls;
        DataFileStore store(folder.path() / "failing", calls);
        calls.fail(Call::Reserve, ENOSPC, true);
        EXPECT_NE(createError(store, 1, 10), "");
        EXPECT_NE(createError(store, 2, 10), "");
    }
    EXPECT_EQ(openDescriptors(), before);
}

struct FlushRow : Row
{
    std::vector<int> syscalls; // fail with EIO from the step below on
    enum Step
    {
        Create, // making a file
        Close,  // closing a file made before
        Import  // quelm-import adding a bar to a file made before
    } step;
    int status; // how the child ends: the error thrown, or the import's exit status
};

class RealFlush : public FolderTestWithRows<FlushRow>
{
};

// The flushes reach the kernel: with the system's own flush calls made to fail, making or
// closing a file through the real system calls, or importing into it, reports the failure, and
// the import counts none of its bars.
TEST_P(RealFlush, FailureIsReported)
{
    const FlushRow &row = GetParam();
    const auto root = folder.path();
    std::filesystem::path made;
    Child child([&] {
        DataFileStore store(root);
        if (row.step != FlushRow::Create) {
            made = store.createFile(1, 10);
        }
        if (!failSystemCalls(row.syscalls, EIO)) {
            return filterRefused;
        }
        int error = 0;
        std::string message;
        if (row.step == FlushRow::Import) {
            const Result result = run({QUELM_IMPORT, text(made)},
                                      "time,open,high,low,close\n1796623260000,1,2,0.5,1.5\n");
            message = result.err;
            error = result.status;
        } else {
            message = row.step == FlushRow::Close ? errorOf([&] { store.closeFile(1); }, &error)
                                                  : createError(store, 1, 10, &error);
        }
        Child::say(message);
        return error;
    });
    const std::string said = child.readUntil();
    const int code = child.wait();
    if (code == filterRefused) {
        GTEST_SKIP() << "this system refuses a seccomp filter";
    }
    EXPECT_EQ(code, row.status) << said;
    EXPECT_NE(said.find("the disk reported an input/output error"), std::string::npos) << said;
    if (row.step == FlushRow::Import) {
        const auto files = tree(root);
        EXPECT_EQ(DataFile::open(root / files.at(1)).header().barsWritten, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    DataFileStore, RealFlush,
    ::testing::Values(
        FlushRow{"a new file's data", {SCMP_SYS(fdatasync)}, FlushRow::Create, EIO},
        FlushRow{"the folders of a new file", {SCMP_SYS(fsync)}, FlushRow::Create, EIO},
        FlushRow{
            "a file being closed", {SCMP_SYS(fdatasync), SCMP_SYS(fsync)}, FlushRow::Close, EIO},
        FlushRow{"an import's bars", {SCMP_SYS(fdatasync), SCMP_SYS(fsync)}, FlushRow::Import, 1}),
    RowName());

// Where the file system has no rename that refuses to replace, the link that stands in for it
// must not replace either.
TEST_F(PosixStoreTest, RenameWithoutTheNoReplaceFlagNeverReplaces)
{
    const auto from = folder.path() / "from";
    const auto to = folder.path() / "to";
    write(from, "new");
    write(to, "old");
    Child child([&] {
        if (!failSystemCalls({SCMP_SYS(renameat2)}, EINVAL)) {
            return filterRefused;
        }
        FileSystemCalls &calls = systemFileCalls();
        FileSystemCalls::Handle directory = FileSystemCalls::invalidHandle;
        if (calls.openDirectory(from.parent_path(), directory) != 0) {
            return 2;
        }
        // The POSIX rename goes by the names; the file's handle is not needed.
        FileSystemCalls::Handle none = FileSystemCalls::invalidHandle;
        const int taken = calls.renameNoReplace(none, directory, "from", "to");
        Child::say(contents(from) + "," + contents(to) + ";");
        std::filesystem::remove(to);
        const int free = calls.renameNoReplace(none, directory, "from", "to");
        Child::say(std::to_string(std::filesystem::exists(from)) + "," + contents(to));
        return taken == EEXIST && free == 0 ? 0 : 1;
    });
    const std::string said = child.readUntil();
    const int code = child.wait();
    if (code == filterRefused) {
        GTEST_SKIP() << "this system refuses a seccomp filter";
    }
    EXPECT_EQ(code, 0) << said;
    EXPECT_EQ(said, "new,old;0,new");
}

// ramfs keeps no count of its space: it says 0 bytes free of 0. Files are made all the same.
TEST_F(PosixStoreTest, FileSystemWithoutASizeTakesFiles)
{
    const auto mountPoint = folder.path();
    const auto root = mountPoint / "Quelm";
    Child child([&] {
        if (!mountPrivately("ramfs", mountPoint, nullptr)) {
            return filterRefused;
        }
        DataFileStore store(root);
        Child::say(createError(store, 1, 1000) + ";");
        Child::say(errorOf([&] { store.closeFile(1); }) + ";");
        Child::say(std::to_string(DataFile::open(*store.filePath(1)).header().capacity));
        return 0;
    });
    const std::string said = child.readUntil();
    const int code = child.wait();
    if (code == filterRefused) {
        GTEST_SKIP() << "this system refuses a user namespace with its own ramfs";
    }
    EXPECT_EQ(code, 0) << said;
    EXPECT_EQ(said, ";;1000");
}

// A run holds the same few descriptors however many files it makes: a hundred are made and
// closed with room for only a handful more than the process had open. Past the limit, the
// reason is told in plain words.
TEST_F(PosixStoreTest, ManyFilesUnderALowDescriptorLimit)
{
    const auto root = folder.path();
    Child child([&] {
        // The free numbers below the highest open one are taken first: a descriptor inherited
        // with a high number would otherwise leave room for hundreds.
        const int highest = highestDescriptor();
        for (int fd = ::dup(0); fd >= 0; fd = ::dup(0)) {
            if (fd > highest) {
                ::close(fd);
                break;
            }
        }
        const auto few = static_cast<rlim_t>(highest + 5);
        const rlimit limit = {few, few};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return 2;
        }
        DataFileStore store(root);
        for (std::int32_t number = 1; number <= 100; ++number) {
            if (const std::string error = createError(store, number, 10); !error.empty()) {
                Child::say(error);
                return 1;
            }
        }
        for (std::int32_t number = 1; number <= 100; ++number) {
            if (const std::string error = errorOf([&] { store.closeFile(number); });
                !error.empty()) {
                Child::say(error);
                return 1;
            }
        }
        while (::dup(0) >= 0) {
        }
        Child::say(createError(store, 101, 10));
        return 0;
    });
    const std::string said = child.readUntil();
    ASSERT_EQ(child.wait(), 0) << said;
    EXPECT_TRUE(matches(said, "Cannot create data file 101 at .*: too many files are open in "
                              "this program\\."))
        << said;
    const auto entries = tree(root);
    ASSERT_EQ(entries.size(), 101u);
    for (std::size_t i = 1; i < entries.size(); ++i) {
        EXPECT_TRUE(DataFile::open(root / entries[i]).header().closedCleanly) << entries[i];
    }
}

struct KilledRunRow : Row
{
    bool nameless;
    std::int32_t making; // the file being made, just before it gets its name
    bool killed;         // false: the run is still going
    std::vector<std::string> left;
    std::vector<std::string> afterNextStart;
};

class KilledRun : public FolderTestWithRows<KilledRunRow>
{
};

// A run killed before a file got its name leaves a hidden temporary (where files cannot be
// made without a name), or an empty run folder; the next store to start clears them. A run
// still going keeps all it has.
TEST_P(KilledRun, LeftoversGoAtTheNextStart)
{
    const KilledRunRow &row = GetParam();
    const auto root = folder.path();
    Child child([&] {
        FaultyFileSystemCalls calls;
        if (!row.nameless) {
            calls.fail(Call::CreateUnnamed, EOPNOTSUPP, true);
        }
        DataFileStore store(root, calls);
        for (std::int32_t number = 1; number <= row.making; ++number) {
            if (number == row.making) {
                calls.before = [&](Call call) {
                    if (call == Call::LinkUnnamed || call == Call::RenameNoReplace) {
                        Child::say("naming\n");
                        if (row.killed) {
                            ::raise(SIGKILL);
                        }
                        ::pause();
                    }
                };
            }
            store.createFile(number, 100000);
        }
        return 0;
    });
    ASSERT_EQ(child.readUntil('\n'), "naming\n");
    if (row.killed) {
        ASSERT_EQ(child.wait(), 128 + SIGKILL) << "-1: still running at the deadline";
    }
    EXPECT_EQ(shape(root), row.left);

    DataFileStore next(root);
    EXPECT_EQ(shape(root), row.afterNextStart);
}

INSTANTIATE_TEST_SUITE_P(
    DataFileStore, KilledRun,
    ::testing::Values(
        KilledRunRow{"nameless: first file", true, 1, true, {"run"}, {}},
        KilledRunRow{"temporary: first file", false, 1, true, {"run", "run/.0001.qdf.X.tmp"}, {}},
        KilledRunRow{"temporary: later file",
                     false,
                     2,
                     true,
                     {"run", "run/.0002.qdf.X.tmp", "run/0001.qdf"},
                     {"run", "run/0001.qdf"}},
        KilledRunRow{"temporary: still running",
                     false,
                     2,
                     false,
                     {"run", "run/.0002.qdf.X.tmp", "run/0001.qdf"},
                     {"run", "run/.0002.qdf.X.tmp", "run/0001.qdf"}}),
    RowName());
