#include "childprocess.h"
#include "datafile.h"
#include "datafileerror.h"
#include "datafilestore.h"
#include "faultyfilesystemcalls.h"
#include "testfiles.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <fstream>
#include <map>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quelm;
using namespace Qt::StringLiterals;
using testfiles::toPath;
using testfiles::toQString;
using testfiles::tree;
using Call = FaultyFileSystemCalls::Call;

namespace {

// The message of the DataFileError that creating the file throws; "" when it is made.
std::string createError(DataFileStore &store, std::int32_t number, std::int32_t bars)
{
    try {
        store.CreateDataFile(number, bars);
    } catch (const DataFileError &error) {
        return error.what();
    }
    return {};
}

std::int32_t create(DataFileStore &store, std::int32_t number, std::int32_t bars)
{
    return store.CreateDataFile(number, bars);
}

std::int32_t close(DataFileStore &store, std::int32_t number)
{
    return store.CloseDataFile(number);
}

std::map<QString, QByteArray> snapshot(const std::filesystem::path &root)
{
    std::map<QString, QByteArray> files;
    for (const QString &entry : tree(root)) {
        files[entry] = testfiles::contents(root / toPath(entry));
    }
    return files;
}

std::int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

#define VERIFY_DIR(dir) QVERIFY2((dir).isValid(), qPrintable((dir).errorString()))

class TestDataFileStore : public QObject
{
    Q_OBJECT

private slots:
    void createsFilesReadyForTheirBars_data();
    void createsFilesReadyForTheirBars();
    void closingMarksTheFileClosedCleanly();
    void makesTheRunFolderOnlyWhenAFileIsMade();
    void refusesBadRequests_data();
    void refusesBadRequests();
    void closingANumberNotOpenDoesNothing();
    void laterRunLeavesEarlierRunUntouched();
    void twoStoresShareARoot();
    void refusesARootItCannotMake_data();
    void refusesARootItCannotMake();
    void reportsAFileWhereTheRunFolderShouldBe();
    void fileSizeLimitIsAnError();
    void diskFullIsReportedWithSizes();
    void killedCreationLeavesNoPartialFile_data();
    void killedCreationLeavesNoPartialFile();
};

void TestDataFileStore::createsFilesReadyForTheirBars_data()
{
    QTest::addColumn<std::int32_t>("bars");
    QTest::newRow("no bars") << 0;
    QTest::newRow("one bar") << 1;
    QTest::newRow("ten bars") << 10;
    QTest::newRow("a million bars") << 1000000;
}

void TestDataFileStore::createsFilesReadyForTheirBars()
{
    QFETCH(std::int32_t, bars);
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    DataFileStore store(toPath(dir.path()));
    const std::int64_t before = nowMs();
    std::int32_t number = 3;
    std::int32_t count = bars;
    QCOMPARE(store.CreateDataFile(number, count), 0);
    QCOMPARE(number, 3);
    QCOMPARE(count, bars);

    QVERIFY(store.runFolder());
    const auto path = *store.runFolder() / "0003.qdf";
    QCOMPARE(store.filePath(3), path);
    QCOMPARE(tree(store.root()), QStringList({toQString(store.runFolder()->filename()),
                                              toQString(path.lexically_relative(store.root()))}));
    const std::uint64_t size = 64 + 48 * static_cast<std::uint64_t>(bars);
    QCOMPARE(std::filesystem::file_size(path), size);
    struct stat status = {};
    QCOMPARE(::stat(path.c_str(), &status), 0);
    QVERIFY2(static_cast<std::uint64_t>(status.st_blocks) * 512 >= size, "space not reserved");

    const DataFileHeader header = DataFile::open(path).header();
    QCOMPARE(header.fileNumber, 3);
    QCOMPARE(header.capacity, static_cast<std::uint64_t>(bars));
    QCOMPARE(header.barsWritten, 0u);
    QVERIFY(!header.closedCleanly);
    QVERIFY(header.createdMs >= before && header.createdMs <= nowMs());
}

void TestDataFileStore::closingMarksTheFileClosedCleanly()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    std::filesystem::path path;
    {
        DataFileStore store(toPath(dir.path()));
        create(store, 1, 10);
        create(store, 2, 10);
        path = *store.filePath(1);
        const DataFileHeader made = DataFile::open(path).header();
        QCOMPARE(close(store, 1), 0);
        DataFileHeader closed = DataFile::open(path).header();
        QVERIFY(closed.closedCleanly);
        closed.closedCleanly = false;
        QCOMPARE(closed, made);
        QCOMPARE(close(store, 1), 0);
        QVERIFY(DataFile::open(path).header().closedCleanly);
    }
    // File 2 was never closed: it stays valid and says so.
    QVERIFY(!DataFile::open(path.parent_path() / "0002.qdf").header().closedCleanly);
}

void TestDataFileStore::makesTheRunFolderOnlyWhenAFileIsMade()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    const auto root = toPath(dir.path()) / "a" / "b" / "Quelm";
    {
        DataFileStore store(root);
        QVERIFY(std::filesystem::is_directory(root));
        QVERIFY(!store.runFolder());
        QCOMPARE(close(store, 1), 0);
    }
    QCOMPARE(tree(root), QStringList());

    DataFileStore store(root);
    create(store, 1, 10);
    const QString name = toQString(store.runFolder()->filename());
    static const QRegularExpression form(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d-\d\d-\d\d$)"));
    QVERIFY2(form.match(name).hasMatch(), qPrintable(name));
}

void TestDataFileStore::refusesBadRequests_data()
{
    QTest::addColumn<std::int32_t>("number");
    QTest::addColumn<std::int32_t>("bars");
    QTest::addColumn<QString>("message");

    const QString negative =
        QStringLiteral("Cannot create data file 2: a file cannot be made ready "
                       "to take %1 bars; the number of bars must be 0 or more.");
    QTest::newRow("negative bars") << 2 << -7 << negative.arg(-7);
    QTest::newRow("lowest bar count") << 2 << INT32_MIN << negative.arg(INT32_MIN);
    const QString range =
        QStringLiteral("Cannot create data file %1: file numbers run from 1 to 9999.");
    QTest::newRow("number 0") << 0 << 10 << range.arg(0);
    QTest::newRow("negative number") << -1 << 10 << range.arg(-1);
    QTest::newRow("number past 9999") << 10000 << 10 << range.arg(10000);
    QTest::newRow("number made and closed")
        << 1 << 10
        << QStringLiteral("Cannot create data file 1: this run has already made it, at %1.");
}

void TestDataFileStore::refusesBadRequests()
{
    QFETCH(std::int32_t, number);
    QFETCH(std::int32_t, bars);
    QFETCH(QString, message);
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    DataFileStore store(toPath(dir.path()));
    create(store, 1, 10);
    close(store, 1);
    const auto before = snapshot(store.root());

    if (message.contains(u"%1"_s)) {
        message = message.arg(toQString(*store.filePath(1)));
    }
    QCOMPARE(QString::fromStdString(createError(store, number, bars)), message);
    QCOMPARE(snapshot(store.root()), before);
    QCOMPARE(create(store, 2, 5), 0);
}

void TestDataFileStore::closingANumberNotOpenDoesNothing()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    DataFileStore store(toPath(dir.path()));
    create(store, 1, 10);
    close(store, 1);
    const auto before = snapshot(store.root());
    for (const std::int32_t number : {1, 2, 0, -5, INT32_MAX}) {
        std::int32_t argument = number;
        QCOMPARE(store.CloseDataFile(argument), 0);
        QCOMPARE(argument, number);
    }
    QCOMPARE(snapshot(store.root()), before);
}

void TestDataFileStore::laterRunLeavesEarlierRunUntouched()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    const auto root = toPath(dir.path());
    {
        DataFileStore first(root);
        for (std::int32_t number = 1; number <= 2; ++number) {
            create(first, number, 10 * number);
            close(first, number);
        }
    }
    const auto firstRun = snapshot(root);

    DataFileStore second(root);
    for (std::int32_t number = 1; number <= 3; ++number) {
        create(second, number, 7);
        close(second, number);
    }
    auto now = snapshot(root);
    QCOMPARE(now.size(), firstRun.size() + 4);
    for (const auto &[name, bytes] : firstRun) {
        QCOMPARE(now[name], bytes);
    }
}

void TestDataFileStore::twoStoresShareARoot()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    DataFileStore first(toPath(dir.path()));
    DataFileStore second(toPath(dir.path()));
    create(first, 1, 10);
    create(second, 1, 20);
    QVERIFY(*first.runFolder() != *second.runFolder());
    QCOMPARE(DataFile::open(*first.filePath(1)).header().capacity, 10u);
    QCOMPARE(DataFile::open(*second.filePath(1)).header().capacity, 20u);
}

void TestDataFileStore::refusesARootItCannotMake_data()
{
    QTest::addColumn<QString>("blocker"); // a file put there first, relative to the folder
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("error");

    QTest::newRow("a file where the root should be")
        << u"Quelm"_s << u"Quelm"_s << u"a file stands where the folder %1/Quelm should be"_s
        << ENOTDIR;
    QTest::newRow("a file where a parent should be")
        << u"data"_s << u"data/Quelm"_s << u"a file stands where the folder %1/data should be"_s
        << ENOTDIR;
    const QString tooLong = u"a name in the path is too long for the file system"_s;
    QTest::newRow("a name too long") << QString() << QString(300, u'n') << tooLong << ENAMETOOLONG;
    QStringList deep(20, QString(250, u'd'));
    QTest::newRow("a path too long") << QString() << deep.join(u'/') << tooLong << ENAMETOOLONG;
}

void TestDataFileStore::refusesARootItCannotMake()
{
    QFETCH(QString, blocker);
    QFETCH(QString, root);
    QFETCH(QString, reason);
    QFETCH(int, error);
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    if (!blocker.isEmpty()) {
        testfiles::write(toPath(dir.path() + u'/' + blocker), "not a folder");
    }
    const QString path = dir.path() + u'/' + root;
    if (reason.contains(u"%1"_s)) {
        reason = reason.arg(dir.path());
    }
    try {
        DataFileStore store(toPath(path));
        QFAIL("the store was made");
    } catch (const DataFileError &failure) {
        QCOMPARE(QString::fromStdString(failure.what()),
                 QStringLiteral("Cannot make the data folder %1: %2.").arg(path, reason));
        QCOMPARE(failure.errorNumber(), error);
    }
}

void TestDataFileStore::reportsAFileWhereTheRunFolderShouldBe()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    const auto root = toPath(dir.path()) / "Quelm";
    DataFileStore store(root);
    std::filesystem::remove(root);
    testfiles::write(root, "not a folder");

    const QString message = QString::fromStdString(createError(store, 1, 10));
    const QRegularExpression expected(
        QStringLiteral("^Cannot create data file 1: the folder for this run, %1/[^/]+, cannot be "
                       "made: a file stands where a folder should be\\.$")
            .arg(QRegularExpression::escape(toQString(root))));
    QVERIFY2(expected.match(message).hasMatch(), qPrintable(message));

    std::filesystem::remove(root);
    std::filesystem::create_directory(root);
    QCOMPARE(create(store, 1, 10), 0);
}

// Past its file size limit a process gets SIGXFSZ, which would kill it; the store must turn
// that into an error, leave nothing behind and go on working.
void TestDataFileStore::fileSizeLimitIsAnError()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    const auto root = toPath(dir.path());
    ChildProcess child([&] {
        const rlimit limit = {1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        DataFileStore store(root);
        ChildProcess::say(createError(store, 1, 100000) + "\n");
        ChildProcess::say(createError(store, 2, 10) + "\n");
        return 0;
    });
    const QString said = QString::fromStdString(child.readUntil());
    const int status = child.wait();
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(said));
    const QStringList entries = tree(root);
    QCOMPARE(entries.size(), 2);
    const QString file = dir.path() + u'/' + entries[0] + QStringLiteral("/0001.qdf");
    QCOMPARE(said, QStringLiteral("Cannot create data file 1 at %1: the file needs 4.6 MiB, more "
                                  "than this process may write (its file size limit).\n\n")
                       .arg(file));
    QCOMPARE(entries[1], entries[0] + QStringLiteral("/0002.qdf"));
}

// A real full disk: a 1 MiB tmpfs mounted in a user and mount namespace of a child process.
void TestDataFileStore::diskFullIsReportedWithSizes()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    const auto mountPoint = toPath(dir.path());
    const auto root = mountPoint / "Quelm";
    ChildProcess child([&] {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return 77;
        }
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0) {
            return 77;
        }
        FaultyFileSystemCalls calls;
        DataFileStore store(root, calls);
        ChildProcess::say(createError(store, 1, INT32_MAX) + "\n");
        ChildProcess::say(std::to_string(calls.count(Call::Reserve)) + "\n");
        // Past a free-space check told too much, the reservation itself must fail cleanly.
        calls.reportedFree = UINT64_MAX / 2;
        calls.before = [&](Call call) {
            if (call == Call::Reserve) {
                calls.reportedFree.reset();
            }
        };
        ChildProcess::say(createError(store, 1, 100000) + "\n");
        ChildProcess::say(tree(root).join(u',').toStdString() + "\n");
        ChildProcess::say(createError(store, 1, 1000) + "\n");
        return 0;
    });
    const QStringList said = QString::fromStdString(child.readUntil()).split(u'\n');
    const int status = child.wait();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        QSKIP("this system refuses a user namespace with its own tmpfs");
    }
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(said.join(u'\n')));
    QCOMPARE(said.size(), 6);
    const QString free = QStringLiteral("[0-9.]+ (bytes|KiB|MiB) free");
    const QString rootText = QRegularExpression::escape(toQString(root));
    const QRegularExpression beforeWriting(
        QStringLiteral(
            "^Cannot create data file 1 in %1: the disk is full \\(needs 96\\.0 GiB, %2\\)\\.$")
            .arg(rootText, free));
    QVERIFY2(beforeWriting.match(said[0]).hasMatch(), qPrintable(said[0]));
    QCOMPARE(said[1], QStringLiteral("0"));
    const QRegularExpression whileReserving(
        QStringLiteral("^Cannot create data file 1 at %1/[^/]+/0001\\.qdf: the disk is full "
                       "\\(needs 4\\.6 MiB, %2\\)\\.$")
            .arg(rootText, free));
    QVERIFY2(whileReserving.match(said[2]).hasMatch(), qPrintable(said[2]));
    QCOMPARE(said[3], QString());
    QCOMPARE(said[4], QString());
}

void TestDataFileStore::killedCreationLeavesNoPartialFile_data()
{
    QTest::addColumn<int>("killAt"); // the call before which the child dies; -1: a timed kill
    QTest::addColumn<bool>("unnamed");
    QTest::addColumn<bool>("named");

    QTest::newRow("nameless: before the header") << int(Call::WriteAt) << true << false;
    QTest::newRow("nameless: before the flush") << int(Call::SyncData) << true << false;
    QTest::newRow("nameless: before the link") << int(Call::LinkUnnamed) << true << false;
    QTest::newRow("nameless: before the folder flush") << int(Call::SyncDirectory) << true << true;
    QTest::newRow("temporary: before reserving") << int(Call::Reserve) << false << false;
    QTest::newRow("temporary: before the flush") << int(Call::SyncData) << false << false;
    QTest::newRow("temporary: before the rename") << int(Call::RenameNoReplace) << false << false;
    QTest::newRow("during a large creation") << -1 << true << false;
}

void TestDataFileStore::killedCreationLeavesNoPartialFile()
{
    QFETCH(int, killAt);
    QFETCH(bool, unnamed);
    QFETCH(bool, named);
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    const auto root = toPath(dir.path());
    ChildProcess child([&] {
        FaultyFileSystemCalls calls;
        if (!unnamed) {
            calls.fail(Call::CreateUnnamed, EOPNOTSUPP, true);
        }
        DataFileStore store(root, calls);
        create(store, 1, 10);
        calls.before = [&](Call call) {
            if (call == killAt) {
                ::raise(SIGKILL);
            }
        };
        ChildProcess::say("go\n");
        create(store, 2, 10000000);
        ::pause();
        return 0;
    });
    QCOMPARE(child.readUntil('\n'), std::string("go\n"));
    if (killAt < 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 3000));
        child.kill(SIGKILL);
    }
    const int status = child.wait();
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    const QStringList entries = tree(root);
    QVERIFY(!entries.isEmpty());
    const auto folder = root / toPath(entries[0]);
    for (const QString &entry : entries.mid(1)) {
        const auto path = root / toPath(entry);
        if (path.extension() != ".qdf" || path.filename().string().starts_with('.')) {
            continue;
        }
        const DataFileHeader header = DataFile::open(path).header();
        QCOMPARE(path.filename().string(), DataFileStore::fileName(header.fileNumber));
        QVERIFY(!header.closedCleanly);
    }
    QVERIFY(std::filesystem::exists(folder / "0001.qdf"));
    if (killAt >= 0) {
        QCOMPARE(std::filesystem::exists(folder / "0002.qdf"), named);
    }
}

QTEST_GUILESS_MAIN(TestDataFileStore)
#include "tst_datafilestore.moc"
