#include "windowtest.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <limits>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

class TestRelease : public WindowTest
{
    Q_OBJECT

private slots:
#ifdef Q_OS_WIN
    // First: Qt emits aboutToQuit once per process, for the end of a session and for the
    // quit case below alike.
    void releasesWhenTheSessionEndsDuringAReport();
#endif
    void releasesEveryNumberOfTheRun_data();
    void releasesEveryNumberOfTheRun();
    void loopsOnFromWhatTheComponentWrote_data();
    void loopsOnFromWhatTheComponentWrote();
    void releasesTheRestWhenOneFails();
    void releasesOnceWhateverClosesTheWindow_data();
    void releasesOnceWhateverClosesTheWindow();

private:
    void buildTimes(int count);
};

void TestRelease::buildTimes(int count)
{
    for (int i = 0; i < count; ++i)
        window->cmdBuild_Click();
    log->calls.clear();
}

void TestRelease::releasesEveryNumberOfTheRun_data()
{
    QTest::addColumn<int>("builds");
    QTest::addColumn<int>("lastReleased");

    QTest::newRow("no build") << 0 << 1;
    QTest::newRow("one build") << 1 << 2;
    QTest::newRow("three builds") << 3 << 4;
    QTest::newRow("99 builds") << 99 << 100;
    QTest::newRow("limit reached") << 100 << 100;
}

void TestRelease::releasesEveryNumberOfTheRun()
{
    QFETCH(int, builds);
    QFETCH(int, lastReleased);

    buildTimes(builds);
    window->close();
    QCOMPARE(log->closed(), oneTo(lastReleased));
    QVERIFY(!window->releaseFailed());
    for (const RecordingNotifier::Message &message : notifier.messages)
        QVERIFY(!message.warning);
}

void TestRelease::loopsOnFromWhatTheComponentWrote_data()
{
    QTest::addColumn<int>("writtenAt");
    QTest::addColumn<int>("written");
    QTest::addColumn<std::vector<std::int32_t>>("released");

    // Nine builds: the loop runs to 10.
    QTest::newRow("skips ahead") << 3 << 7 << std::vector<std::int32_t>{1, 2, 3, 8, 9, 10};
    QTest::newRow("goes back") << 9 << 4 << std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8,
                                                                      9, 5, 6, 7, 8, 9, 10};
    QTest::newRow("past the end") << 2 << 50 << std::vector<std::int32_t>{1, 2};
    QTest::newRow("largest number")
        << 2 << std::numeric_limits<std::int32_t>::max() << std::vector<std::int32_t>{1, 2};
}

void TestRelease::loopsOnFromWhatTheComponentWrote()
{
    QFETCH(int, writtenAt);
    QFETCH(int, written);
    QFETCH(std::vector<std::int32_t>, released);

    buildTimes(9);
    bool done = false;
    log->onClose = [&](std::int32_t &number) {
        if (number == writtenAt && !done) {
            number = written;
            done = true;
        }
    };
    window->Form_Unload();
    QCOMPARE(log->closed(), released);
}

void TestRelease::releasesTheRestWhenOneFails()
{
    buildTimes(5);
    notifier.messages.clear();
    log->failCloseFor = {3, 5};
    window->close();

    QCOMPARE(log->closed(), oneTo(6));
    QVERIFY(window->releaseFailed());
    QCOMPARE(notifier.messages.size(), 1);
    const RecordingNotifier::Message &message = notifier.messages.first();
    QVERIFY(message.warning);
    QCOMPARE(message.title, QStringLiteral("Quelm File Builder"));
    QCOMPARE(message.text, QStringLiteral("Some data files of this run could not be closed:\n"
                                          "Cannot close file 3: input/output error.\n"
                                          "Cannot close file 5: input/output error."));
}

void TestRelease::releasesOnceWhateverClosesTheWindow_data()
{
    QTest::addColumn<QString>("route");
    for (const char *route :
         {"close", "window system", "close event", "quit", "end of run", "destruction", "twice"})
        QTest::newRow(route) << QString::fromLatin1(route);
}

void TestRelease::releasesOnceWhateverClosesTheWindow()
{
    QFETCH(QString, route);

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    buildTimes(2);
    if (route == QLatin1String("close")) {
        window->close();
    } else if (route == QLatin1String("window system")) {
        window->windowHandle()->close();
    } else if (route == QLatin1String("close event")) {
        QCloseEvent event;
        QApplication::sendEvent(window.get(), &event);
        QVERIFY(event.isAccepted());
    } else if (route == QLatin1String("quit")) {
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window->isVisible());
    } else if (route == QLatin1String("end of run")) {
        window->endRun();
        QCOMPARE(notifier.dismissals, 1);
    } else if (route == QLatin1String("twice")) {
        window->close();
        window->show();
        window->close();
    }
    window.reset();
    QCOMPARE(log->closed(), oneTo(3));
}

#ifdef Q_OS_WIN
// Windows ends the process soon after the window has answered WM_ENDSESSION; by then the files
// must be released, also while a report box holds the build open.
void TestRelease::releasesWhenTheSessionEndsDuringAReport()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    buildTimes(2);
    const auto hwnd = reinterpret_cast<HWND>(window->winId());
    std::vector<std::int32_t> releasedBeforeTheBoxCloses;
    notifier.onMessage = [&](const RecordingNotifier::Message &) {
        QCOMPARE(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), LRESULT(1));
        SendMessageW(hwnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        releasedBeforeTheBoxCloses = log->closed();
    };
    window->cmdBuild_Click();
    QCOMPARE(releasedBeforeTheBoxCloses, oneTo(3));
    window.reset();
    QCOMPARE(log->closed(), oneTo(3));
}
#endif

QTEST_MAIN(TestRelease)
#include "tst_release.moc"
