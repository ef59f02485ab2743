#include "datafile.h"
#include "datafileerror.h"
#include "datafilestore.h"
#include "faultyfilesystemcalls.h"
#include "testfiles.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>

using namespace quelm;
using namespace Qt::StringLiterals;
using testfiles::toPath;
using testfiles::toQString;
using testfiles::tree;
using Call = FaultyFileSystemCalls::Call;

Q_DECLARE_METATYPE(FaultyFileSystemCalls::Call)

#define VERIFY_DIR(dir) QVERIFY2((dir).isValid(), qPrintable((dir).errorString()))

// Makes each system call that creating or closing a file uses fail in turn, and checks that
// the failure is told in plain words, that nothing is left behind, and that the store goes on.
class TestDataFileFaults : public QObject
{
    Q_OBJECT

private slots:
    void failedCreateLeavesNothing_data();
    void failedCreateLeavesNothing();
    void failedFirstCreateLeavesNoRunFolder_data();
    void failedFirstCreateLeavesNoRunFolder();
    void tooLittleFreeSpaceIsToldBeforeWriting();
    void failedCloseIsReportedOnce_data();
    void failedCloseIsReportedOnce();
};

namespace {

const QString ioError = u"the disk reported an input/output error"_s;
const QString diskFull = u"the disk is full \\(needs 4\\.8 KiB, [0-9.]+ [KMGT]iB free\\)"_s;
const QString sizeLimit =
    u"the file needs 4\\.8 KiB, more than this process may write \\(its file size limit\\)"_s;
const QString nameTaken = u"a file of that name already exists"_s;

void addCreateRows()
{
    QTest::addColumn<bool>("unnamed");
    QTest::addColumn<Call>("call");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason"); // a regular expression

    QTest::newRow("nameless: create") << true << Call::CreateUnnamed << EIO << ioError;
    QTest::newRow("nameless: reserve, disk full") << true << Call::Reserve << ENOSPC << diskFull;
    QTest::newRow("nameless: reserve, size limit") << true << Call::Reserve << EFBIG << sizeLimit;
    QTest::newRow("nameless: write header") << true << Call::WriteAt << EIO << ioError;
    QTest::newRow("nameless: flush") << true << Call::SyncData << EIO << ioError;
    QTest::newRow("nameless: link, name taken") << true << Call::LinkUnnamed << EEXIST << nameTaken;
    QTest::newRow("nameless: flush folder") << true << Call::SyncDirectory << EIO << ioError;
    QTest::newRow("temporary: create, name too long")
        << false << Call::CreateNew << ENAMETOOLONG
        << u"a name in the path is too long for the file system"_s;
    QTest::newRow("temporary: reserve, disk full") << false << Call::Reserve << ENOSPC << diskFull;
    QTest::newRow("temporary: write header") << false << Call::WriteAt << EIO << ioError;
    QTest::newRow("temporary: flush") << false << Call::SyncData << EIO << ioError;
    QTest::newRow("temporary: rename, name taken")
        << false << Call::RenameNoReplace << EEXIST << nameTaken;
    QTest::newRow("temporary: flush folder") << false << Call::SyncDirectory << EIO << ioError;
}

std::string createError(DataFileStore &store, std::int32_t number, std::int32_t bars, int &error)
{
    try {
        store.CreateDataFile(number, bars);
    } catch (const DataFileError &failure) {
        error = failure.errorNumber();
        return failure.what();
    }
    return {};
}

} // namespace

void TestDataFileFaults::failedCreateLeavesNothing_data()
{
    addCreateRows();
}

void TestDataFileFaults::failedCreateLeavesNothing()
{
    QFETCH(bool, unnamed);
    QFETCH(Call, call);
    QFETCH(int, error);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    FaultyFileSystemCalls calls;
    if (!unnamed) {
        calls.fail(Call::CreateUnnamed, EOPNOTSUPP, true);
    }
    DataFileStore store(toPath(dir.path()), calls);
    std::int32_t one = 1, ten = 10;
    store.CreateDataFile(one, ten);
    const QStringList before = tree(store.root());

    calls.fail(call, error);
    const int callsBefore = calls.count(call);
    int thrown = 0;
    const QString message = QString::fromStdString(createError(store, 7, 100, thrown));
    const QString path = toQString(*store.runFolder() / "0007.qdf");
    const QRegularExpression expected(u"^Cannot create data file 7 at %1: %2\\.$"_s.arg(
        QRegularExpression::escape(path), reason));
    QVERIFY2(expected.match(message).hasMatch(), qPrintable(message));
    QCOMPARE(thrown, error);
    QCOMPARE(calls.count(call) - callsBefore, 1); // a failed call is never retried
    QCOMPARE(tree(store.root()), before);
    QVERIFY(!store.filePath(7));

    std::int32_t seven = 7, bars = 100;
    QCOMPARE(store.CreateDataFile(seven, bars), 0);
    QCOMPARE(DataFile::open(*store.filePath(7)).header().capacity, 100u);
}

void TestDataFileFaults::failedFirstCreateLeavesNoRunFolder_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<int>("skip");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");

    const QString folder = u"the folder for this run, .*, cannot be made: "_s;
    QTest::newRow("make the run folder, name too long")
        << Call::MakeDirectory << 0 << ENAMETOOLONG
        << folder + u"a name in the path is too long for the file system"_s;
    QTest::newRow("open the run folder") << Call::OpenDirectory << 0 << EIO << folder + ioError;
    QTest::newRow("open the data folder") << Call::OpenDirectory << 1 << EIO << folder + ioError;
    QTest::newRow("flush the data folder") << Call::SyncDirectory << 0 << EIO << folder + ioError;
    QTest::newRow("create") << Call::CreateUnnamed << 0 << EIO << u"at .*: "_s + ioError;
    QTest::newRow("reserve") << Call::Reserve << 0 << ENOSPC << u"at .*: "_s + diskFull;
    QTest::newRow("flush the run folder")
        << Call::SyncDirectory << 1 << EIO << u"at .*: "_s + ioError;
}

void TestDataFileFaults::failedFirstCreateLeavesNoRunFolder()
{
    QFETCH(Call, call);
    QFETCH(int, skip);
    QFETCH(int, error);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    FaultyFileSystemCalls calls;
    DataFileStore store(toPath(dir.path()), calls);

    calls.fail(call, error, false, skip);
    int thrown = 0;
    const QString message = QString::fromStdString(createError(store, 1, 100, thrown));
    const QRegularExpression expected(u"^Cannot create data file 1:? %1\\.$"_s.arg(reason));
    QVERIFY2(expected.match(message).hasMatch(), qPrintable(message));
    QCOMPARE(thrown, error);
    QCOMPARE(tree(store.root()), QStringList());
    QVERIFY(!store.runFolder());

    std::int32_t one = 1, bars = 100;
    QCOMPARE(store.CreateDataFile(one, bars), 0);
    QCOMPARE(DataFile::open(*store.filePath(1)).header().capacity, 100u);
}

void TestDataFileFaults::tooLittleFreeSpaceIsToldBeforeWriting()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    FaultyFileSystemCalls calls;
    calls.reportedFree = 1000;
    DataFileStore store(toPath(dir.path()), calls);
    const QString full =
        u"Cannot create data file 2 %1: the disk is full (needs 4.8 KiB, 1000 bytes free)."_s;
    int thrown = 0;
    QCOMPARE(QString::fromStdString(createError(store, 2, 100, thrown)),
             full.arg(u"in "_s + dir.path()));
    QCOMPARE(thrown, ENOSPC);
    QCOMPARE(calls.count(Call::MakeDirectory) + calls.count(Call::CreateUnnamed), 0);
    QCOMPARE(tree(store.root()), QStringList());

    calls.reportedFree.reset();
    QCOMPARE(createError(store, 1, 100, thrown), std::string());
    calls.reportedFree = 1000;
    const QStringList before = tree(store.root());
    QCOMPARE(QString::fromStdString(createError(store, 2, 100, thrown)),
             full.arg(u"at "_s + toQString(*store.runFolder() / "0002.qdf")));
    QCOMPARE(calls.count(Call::CreateUnnamed), 1);
    QCOMPARE(tree(store.root()), before);
}

void TestDataFileFaults::failedCloseIsReportedOnce_data()
{
    QTest::addColumn<Call>("call");
    QTest::newRow("read the header") << Call::ReadAt;
    QTest::newRow("write the header") << Call::WriteAt;
    QTest::newRow("flush") << Call::SyncData;
    QTest::newRow("close") << Call::Close;
}

void TestDataFileFaults::failedCloseIsReportedOnce()
{
    QFETCH(Call, call);
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    FaultyFileSystemCalls calls;
    DataFileStore store(toPath(dir.path()), calls);
    std::int32_t number = 4, bars = 10;
    store.CreateDataFile(number, bars);
    const int syncsBefore = calls.count(Call::SyncData);

    calls.fail(call, EIO);
    try {
        store.CloseDataFile(number);
        QFAIL("the close succeeded");
    } catch (const DataFileError &failure) {
        QCOMPARE(
            QString::fromStdString(failure.what()),
            u"Cannot close data file 4 at %1: %2."_s.arg(toQString(*store.filePath(4)), ioError));
        QCOMPARE(failure.errorNumber(), EIO);
    }
    QVERIFY(calls.count(Call::SyncData) - syncsBefore <= 1);
    const int callsBefore = calls.count(call);
    QCOMPARE(store.CloseDataFile(number), 0);
    QCOMPARE(calls.count(call), callsBefore);
    QVERIFY(DataFile::open(*store.filePath(4)).header().capacity == 10u);
}

QTEST_GUILESS_MAIN(TestDataFileFaults)
#include "tst_datafilefaults.moc"
