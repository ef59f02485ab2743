#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <optional>

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

// Runs xdotool against the X server on `display` and returns what it printed; nothing when it
// failed or took more than ten seconds.
std::optional<QByteArray> xdotool(const QString &display, const QStringList &arguments)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(10000) || tool.exitCode() != 0) {
        tool.kill();
        tool.waitForFinished(10000);
        return std::nullopt;
    }
    return tool.readAllStandardOutput().trimmed();
}

// The id of a visible window whose title matches `title`; empty while there is none.
QString window(const QString &display, const QString &title)
{
    const auto found = xdotool(display, {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--name"), title});
    return found ? QString::fromLatin1(found->split('\n').first()) : QString();
}

// Gives `windowId` the keyboard focus and presses `key` there.
bool press(const QString &display, const QString &windowId, const QString &key)
{
    return xdotool(display, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId}) &&
           xdotool(display, {QStringLiteral("key"), key});
}

// A virtual X server for the test's life, on a display number it picks itself. It does not
// reset when its last client leaves, which would turn away the next one for a moment.
class XServer
{
public:
    XServer()
    {
        m_server.start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"),
                        QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp"), QStringLiteral("-noreset")});
        if (m_server.waitForStarted(10000) && m_server.waitForReadyRead(20000)) {
            m_display = u':' + QString::fromLatin1(m_server.readLine().trimmed());
        }
    }
    ~XServer()
    {
        m_server.terminate();
        if (!m_server.waitForFinished(10000)) {
            m_server.kill();
            m_server.waitForFinished(10000);
        }
    }
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    // ":N", or empty when the server did not start.
    const QString &display() const { return m_display; }

private:
    QProcess m_server;
    QString m_display;
};

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
    void exitStatusSaysWhetherTheFilesAreSafe_data();
    void exitStatusSaysWhetherTheFilesAreSafe();
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

void TestProgram::exitStatusSaysWhetherTheFilesAreSafe_data()
{
    QTest::addColumn<bool>("folderUsable");
    QTest::addColumn<int>("builds");
    QTest::addColumn<bool>("damaged"); // the built file's header is overwritten before the end
    QTest::addColumn<int>("exitCode");
    QTest::newRow("nothing built") << true << 0 << false << 0;
    QTest::newRow("files built and closed") << true << 2 << false << 0;
    QTest::newRow("a file that cannot be closed") << true << 1 << true << 1;
    QTest::newRow("a data folder it cannot make") << false << 0 << false << 1;
}

// The program in a real X server, driven from the keyboard: it builds files, is ended by
// SIGTERM, or dismisses the box telling that its data folder cannot be made.
void TestProgram::exitStatusSaysWhetherTheFilesAreSafe()
{
    QFETCH(bool, folderUsable);
    QFETCH(int, builds);
    QFETCH(bool, damaged);
    QFETCH(int, exitCode);
    for (const char *tool : {"Xvfb", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            QSKIP("this needs Xvfb and xdotool");
        }
    }
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString dataHome = dir.filePath(QStringLiteral("data"));
    if (folderUsable) {
        QVERIFY(QDir().mkpath(dataHome));
    } else {
        QFile blocker(dataHome);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkdir(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const XServer server;
    const QString display = server.display();
    QVERIFY2(!display.isEmpty(), "Xvfb did not start");

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    // libxkbcommon-x11 hands strndup a buffer without a closing NUL, which strict string
    // checks of a sanitizer build would flag.
    if (environment.contains(QStringLiteral("ASAN_OPTIONS"))) {
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           environment.value(QStringLiteral("ASAN_OPTIONS")) +
                               QStringLiteral(":strict_string_checks=0"));
    }
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUELM_PROGRAM), {});
    QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
    const auto stop = qScopeGuard([&] {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(10000);
        }
    });
    const QString title = QStringLiteral("^Quelm File Builder$");
    QString main;
    QTRY_VERIFY2_WITH_TIMEOUT(!(main = window(display, title)).isEmpty(),
                              program.readAllStandardError().constData(), 20000);

    if (!folderUsable) {
        QVERIFY(press(display, main, QStringLiteral("Return")));
    } else {
        for (int number = 1; number <= builds; ++number) {
            QVERIFY(press(display, main, QStringLiteral("space")));
            const QString report = QStringLiteral("^File %1  Bars 10$").arg(number);
            QString box;
            QTRY_VERIFY_WITH_TIMEOUT(!(box = window(display, report)).isEmpty(), 20000);
            QVERIFY(press(display, box, QStringLiteral("Return")));
            QTRY_VERIFY_WITH_TIMEOUT(window(display, report).isEmpty(), 20000);
        }
        if (damaged) {
            const QDir root(dataHome + QStringLiteral("/Quelm"));
            const QStringList runs = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            QCOMPARE(runs.size(), 1);
            QFile file(root.filePath(runs[0] + QStringLiteral("/0001.qdf")));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QCOMPARE(file.write("not a data file any more"), 24);
            file.close();
        }
        QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), SIGTERM), 10000);
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    }
    QVERIFY2(program.waitForFinished(20000), "the program did not end");
    const QByteArray error = program.readAllStandardError();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == exitCode, error.constData());
    if (damaged) {
        QVERIFY2(error.contains("could not be closed"), error.constData());
    }
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
