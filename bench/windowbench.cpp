#include "benchmarks.h"
#include "frmquelm.h"
#include "idlecomponent.h"
#include "quietnotifier.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <functional>
#include <memory>

namespace quelm::bench {
namespace {

// The same window without its picture or colours: five plain widgets in the same places.
std::unique_ptr<QWidget> makePlainWindow()
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("Quelm File Builder"));
    window->setFixedSize(267, 204);
    (new QLabel(QStringLiteral("Next File Number"), window.get()))->setGeometry(20, 144, 89, 17);
    (new QLabel(QStringLiteral("1"), window.get()))->setGeometry(112, 144, 57, 17);
    (new QLabel(QStringLiteral("Number of Bars"), window.get()))->setGeometry(20, 168, 81, 17);
    (new QLineEdit(QStringLiteral("10"), window.get()))->setGeometry(112, 168, 57, 21);
    (new QPushButton(QStringLiteral("Build"), window.get()))->setGeometry(176, 168, 65, 21);
    return window;
}

QuietNotifier notifier;

std::unique_ptr<QWidget> makeQuelmWindow()
{
    return std::make_unique<frmQuelm>(std::make_unique<IdleComponent>(), notifier);
}

// Figure 3, again in the same process: builds a window and shows it until it is exposed, painted
// once; the window is destroyed, and what it left in the event queue handled, outside the timed
// part.
void windowStart(benchmark::State &state, const std::function<std::unique_ptr<QWidget>()> &make)
{
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::unique_ptr<QWidget> window = make();
        window->show();
        const bool exposed = QTest::qWaitForWindowExposed(window.get());
        state.SetIterationTime(secondsSince(start));
        window.reset();
        QApplication::processEvents();
        if (!exposed) {
            state.SkipWithError("The window was never exposed.");
            break;
        }
    }
}

// Figure 3, first window of a new process: the program itself, started with --first-window,
// times its one window from construction to exposure, with nothing loaded or cached before.
void firstWindow(benchmark::State &state, const QString &which)
{
    for (auto _ : state) {
        QProcess child;
        child.start(QApplication::applicationFilePath(),
                    {QStringLiteral("--first-window=") + which});
        bool timed = false;
        double ns = 0;
        if (child.waitForFinished(60'000) && child.exitCode() == 0) {
            ns = child.readAllStandardOutput().trimmed().toDouble(&timed);
        }
        if (!timed) {
            state.SkipWithError("The child process did not time its window.");
            break;
        }
        state.SetIterationTime(ns / 1e9);
    }
}

} // namespace

int showFirstWindow(const std::string &which)
{
    const auto start = std::chrono::steady_clock::now();
    const std::unique_ptr<QWidget> window =
        which == "frmQuelm" ? makeQuelmWindow() : makePlainWindow();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) {
        return 1;
    }
    std::printf("%.0f\n", secondsSince(start) * 1e9);
    return 0;
}

void registerWindowStart()
{
    using Make = std::unique_ptr<QWidget> (*)();
    for (const auto &[which, make] : {std::pair<std::string, Make>{"frmQuelm", makeQuelmWindow},
                                      std::pair<std::string, Make>{"plain", makePlainWindow}}) {
        benchmark::RegisterBenchmark(("window_start/" + which).c_str(), windowStart, make)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
    for (const char *which : {"frmQuelm", "plain"}) {
        benchmark::RegisterBenchmark((std::string("first_window/") + which).c_str(), firstWindow,
                                     QString::fromLatin1(which))
            ->UseManualTime()
            ->Iterations(15)
            ->Unit(benchmark::kMicrosecond);
    }
}

} // namespace quelm::bench
