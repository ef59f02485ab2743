#include "messageboxnotifier.h"
#include "signalcloser.h"
#include "windowtest.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <csignal>

using quelm::frmQuelm;

class TestSignalCloser : public WindowTest
{
    Q_OBJECT

private slots:
    void signalClosesTheWindow_data();
    void signalClosesTheWindow();
    void signalDuringABoxEndsTheRunInOrder();
};

void TestSignalCloser::signalClosesTheWindow_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestSignalCloser::signalClosesTheWindow()
{
    QFETCH(int, signalNumber);

    quelm::SignalCloser closer(*window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->cmdBuild_Click();
    log->calls.clear();
    std::raise(signalNumber);
    QTRY_VERIFY(!window->isVisible());
    // A second signal once the window has gone changes nothing.
    std::raise(signalNumber);
    QCoreApplication::processEvents();
    QCOMPARE(log->closed(), oneTo(2));
}

void TestSignalCloser::signalDuringABoxEndsTheRunInOrder()
{
    quelm::MessageBoxNotifier boxes;
    frmQuelm real(std::make_unique<RecordingComponent>(log), boxes);
    quelm::SignalCloser closer(real);
    real.show();
    QVERIFY(QTest::qWaitForWindowExposed(&real));

    // The 100th build: its report is open when the signals come, and the limit box never shows.
    log->onCreate = [](std::int32_t &fileNumber, std::int32_t &) { fileNumber = 100; };
    int boxesSeen = 0;
    QPointer<QMessageBox> seen;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == seen)
            return;
        seen = box;
        if (++boxesSeen == 1) {
            std::raise(SIGTERM);
            std::raise(SIGTERM);
        }
    });
    poll.start(10);
    real.cmdBuild_Click();
    QTRY_VERIFY(!real.isVisible());
    QCOMPARE(boxesSeen, 1);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(real.nextFileNumber(), 100);
    QCOMPARE(log->closed(), oneTo(100));
}

QTEST_MAIN(TestSignalCloser)
#include "tst_signalcloser.moc"
