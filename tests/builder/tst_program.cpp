#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

// True once the process has its own handler for `signalNumber` (Linux: SigCgt in its status).
bool catches(qint64 pid, int signalNumber)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1u;
    }
    return false;
}

} // namespace

// The built program as a child process, the way a desktop or a terminal ends it.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void endsCleanlyOnSignal_data();
    void endsCleanlyOnSignal();
    void saysSoWhenThereIsNoDisplay();
    void namesADataFolderItCannotUse();
};

void TestProgram::endsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestProgram::endsCleanlyOnSignal()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dataHome;
    QVERIFY2(dataHome.isValid(), qPrintable(dataHome.errorString()));

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUELM_PROGRAM), {});
    QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), signalNumber), 10000);

    ::kill(static_cast<pid_t>(program.processId()), signalNumber);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    const QByteArray error = program.readAllStandardError();
    QVERIFY2(!error.contains("quelm:"), error.constData());
    QCOMPARE(program.exitCode(), 0);
    // The data root was made, but no run folder: no file was built.
    const QDir root(dataHome.filePath(QStringLiteral("Quelm")));
    QVERIFY(root.exists());
    QCOMPARE(root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestProgram::saysSoWhenThereIsNoDisplay()
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUELM_PROGRAM), {});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    const QByteArray error = program.readAllStandardError();
    QVERIFY2(error.startsWith("quelm: no graphical display is available"), error.constData());
    QCOMPARE(error.count('\n'), 1);
}

void TestProgram::namesADataFolderItCannotUse()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString blocker = dir.filePath(QStringLiteral("file"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), blocker);
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUELM_PROGRAM), {});
    QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));

    // The same sentence goes to standard error and into the warning box, which then waits.
    QByteArray error;
    QTRY_VERIFY_WITH_TIMEOUT((error += program.readAllStandardError()).contains("quelm: "), 10000);
    QVERIFY2(error.contains(QFile::encodeName(blocker + QStringLiteral("/Quelm"))),
             error.constData());
    QCOMPARE(program.state(), QProcess::Running);
    program.kill();
    QVERIFY(program.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
