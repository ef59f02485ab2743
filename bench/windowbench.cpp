#include "benchmarks.h"
#include "comparison.h"
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
#include <memory>
#include <stdexcept>

namespace quelm::bench {
namespace {

QuietNotifier notifier;

std::unique_ptr<QWidget> makeQuelmWindow()
{
    return std::make_unique<frmQuelm>(std::make_unique<IdleComponent>(), notifier);
}

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

using MakeWindow = std::unique_ptr<QWidget> (*)();

// Builds a window and shows it until it is exposed, which paints it once. The window is
// destroyed, and what it left in the event queue handled, outside the timed part.
double startWindow(MakeWindow make)
{
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<QWidget> window = make();
    window->show();
    const bool exposed = QTest::qWaitForWindowExposed(window.get());
    const double seconds = secondsSince(start);
    window.reset();
    QApplication::processEvents();
    if (!exposed) {
        throw std::runtime_error("The window was never exposed.");
    }
    return seconds;
}

// The same in a new process (this program, started with --first-window), where nothing was
// loaded or cached before.
double startFirstWindow(const QString &which)
{
    QProcess child;
    child.start(QApplication::applicationFilePath(), {QStringLiteral("--first-window=") + which});
    bool timed = false;
    double ns = 0;
    if (child.waitForFinished(60'000) && child.exitCode() == 0) {
        ns = child.readAllStandardOutput().trimmed().toDouble(&timed);
    }
    if (!timed) {
        throw std::runtime_error("The child process did not time its window.");
    }
    return ns / 1e9;
}

// Figure 3, again in the same process.
void windowStart(benchmark::State &state)
{
    compareWays(state, {{"", [] { return startWindow(makeQuelmWindow); }},
                        {"plain_us", [] { return startWindow(makePlainWindow); }}});
}

// Figure 3, the first window of a new process.
void firstWindow(benchmark::State &state)
{
    compareWays(state, {{"", [] { return startFirstWindow(QStringLiteral("frmQuelm")); }},
                        {"plain_us", [] { return startFirstWindow(QStringLiteral("plain")); }}});
}

} // namespace

int showFirstWindow(const std::string &which)
{
    try {
        const double seconds = startWindow(which == "frmQuelm" ? makeQuelmWindow : makePlainWindow);
        std::printf("%.0f\n", seconds * 1e9);
        return 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}

void registerWindowStart()
{
    benchmark::RegisterBenchmark("window_start/frmQuelm", windowStart)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("first_window/frmQuelm", firstWindow)
        ->UseManualTime()
        ->Iterations(10)
        ->Unit(benchmark::kMicrosecond);
}

} // namespace quelm::bench
