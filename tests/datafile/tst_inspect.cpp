#include "datafilestore.h"
#include "testfiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quelm;
using namespace Qt::StringLiterals;
using testfiles::toPath;
using testfiles::toQString;

#define VERIFY_DIR(dir) QVERIFY2((dir).isValid(), qPrintable((dir).errorString()))

// Runs the built quelm-inspect on data files made by the store.
class TestInspect : public QObject
{
    Q_OBJECT

private slots:
    void reportsAFreshFile_data();
    void reportsAFreshFile();
    void reportsDamagedAndMissingFiles();
    void printsHeadersAsText();
    void explainsItself_data();
    void explainsItself();

private:
    struct Result
    {
        int exitCode = -1;
        QByteArray out;
    };
    static Result inspect(const QStringList &arguments);
    static QList<QJsonObject> jsonLines(const QByteArray &out);
};

TestInspect::Result TestInspect::inspect(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(QUELM_INSPECT), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit) {
        return {};
    }
    return {process.exitCode(), process.readAllStandardOutput() + process.readAllStandardError()};
}

QList<QJsonObject> TestInspect::jsonLines(const QByteArray &out)
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : out.split('\n')) {
        if (!line.isEmpty()) {
            objects << QJsonDocument::fromJson(line).object();
        }
    }
    return objects;
}

void TestInspect::reportsAFreshFile_data()
{
    QTest::addColumn<std::int32_t>("bars");
    QTest::addColumn<bool>("closed");
    QTest::newRow("made and closed") << 10 << true;
    QTest::newRow("still open, no bars") << 0 << false;
}

void TestInspect::reportsAFreshFile()
{
    QFETCH(std::int32_t, bars);
    QFETCH(bool, closed);
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    DataFileStore store(toPath(dir.path()));
    std::int32_t number = 7;
    store.CreateDataFile(number, bars);
    if (closed) {
        store.CloseDataFile(number);
    }
    const QString path = toQString(*store.filePath(7));

    const Result result = inspect({u"--json"_s, path});
    QCOMPARE(result.exitCode, 0);
    const QList<QJsonObject> lines = jsonLines(result.out);
    QCOMPARE(lines.size(), 1);
    const QJsonObject &file = lines[0];
    QCOMPARE(file[u"file"].toString(), path);
    QCOMPARE(file[u"valid"].toBool(), true);
    QCOMPARE(file[u"number"].toInt(), 7);
    QCOMPARE(file[u"capacity"].toInt(-1), bars);
    QCOMPARE(file[u"bars"].toInt(-1), 0);
    QCOMPARE(file[u"state"].toString(), closed ? u"closed"_s : u"open"_s);
    QVERIFY(!file.contains(u"error"));
}

void TestInspect::reportsDamagedAndMissingFiles()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    DataFileStore store(toPath(dir.path()));
    std::int32_t number = 1, bars = 10;
    store.CreateDataFile(number, bars);
    const auto good = *store.filePath(1);
    const auto cut = toPath(dir.path()) / "cut.qdf";
    testfiles::write(cut, testfiles::contents(good).chopped(48));
    const QString missing = dir.path() + u"/missing.qdf"_s;

    const Result result = inspect({u"--json"_s, toQString(good), toQString(cut), missing});
    QCOMPARE(result.exitCode, 1);
    const QList<QJsonObject> lines = jsonLines(result.out);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0][u"valid"].toBool(), true);
    QCOMPARE(lines[1][u"valid"].toBool(true), false);
    QVERIFY(lines[1][u"number"].isNull());
    QCOMPARE(lines[1][u"error"].toString(),
             u"Cannot open data file %1: its header gives room for 10 bars, which takes 544 bytes, "
             "but the file is 496 bytes long."_s.arg(toQString(cut)));
    QCOMPARE(lines[2][u"file"].toString(), missing);
    QCOMPARE(lines[2][u"valid"].toBool(true), false);
}

void TestInspect::printsHeadersAsText()
{
    QTemporaryDir dir;
    VERIFY_DIR(dir);
    DataFileStore store(toPath(dir.path()));
    std::int32_t number = 12, bars = 250;
    store.CreateDataFile(number, bars);
    store.CloseDataFile(number);
    const QString path = toQString(*store.filePath(12));

    const Result result = inspect({path});
    QCOMPARE(result.exitCode, 0);
    const QString text = QString::fromUtf8(result.out);
    QVERIFY2(text.startsWith(path + u": valid, closed cleanly\n"_s), qPrintable(text));
    QVERIFY2(text.contains(u"  file number   12\n  capacity      250 bars\n  bars written  0\n"_s),
             qPrintable(text));
}

void TestInspect::explainsItself_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("--help") << QStringList{u"--help"_s} << 0;
    QTest::newRow("no file") << QStringList{} << 2;
    QTest::newRow("--json alone") << QStringList{u"--json"_s} << 2;
    QTest::newRow("unknown option") << QStringList{u"--jsn"_s, u"x.qdf"_s} << 2;
}

void TestInspect::explainsItself()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    const Result result = inspect(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY(result.out.contains("Usage: quelm-inspect [--json] FILE..."));
}

QTEST_GUILESS_MAIN(TestInspect)
#include "tst_inspect.moc"
