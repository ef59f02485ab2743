#include "benchmarks.h"
#include "comparison.h"
#include "frmquelm.h"
#include "quietnotifier.h"
#include "tempfolder.h"

#include <quelm/datafilestore.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

namespace quelm::bench {
namespace {

// A "VmRSS"/"VmHWM" line of /proc/self/status, in KiB; 0 when it cannot be read.
std::int64_t statusKiB(const std::string &field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ':')) {
            return std::stoll(line.substr(field.size() + 1));
        }
    }
    return 0;
}

// Lets VmHWM start again from the memory now resident.
void resetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

void waitExposed(QWidget &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        throw std::runtime_error("The window was never exposed.");
    }
}

// One whole run as a person would make it, with every box dismissed at once: the window on the
// real store, Build pressed until the window allows no more (the repaint each press queues is
// done before the next) and the window closed, which releases every file. Making the window
// and removing the files are not timed. `peakGrowthKiB` receives how far resident memory rose
// above what it was when the window was up and the first build not yet made.
double wholeRun(const std::filesystem::path &base, std::int64_t &peakGrowthKiB)
{
    testsupport::TempFolder folder(base, /*settled=*/true);
    QuietNotifier notifier;
    frmQuelm window(std::make_unique<DataFileStore>(folder.path()), notifier);
    waitExposed(window);
    auto *build = window.findChild<QPushButton *>(QStringLiteral("cmdBuild"));
    resetPeakResident();
    const std::int64_t resident = statusKiB("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    for (int press = 0; press < buildsPerRun; ++press) {
        build->click();
        QApplication::processEvents();
    }
    window.close();
    const double seconds = secondsSince(start);
    peakGrowthKiB = statusKiB("VmHWM") - resident;
    if (!notifier.lastWarning.isEmpty()) {
        throw std::runtime_error(notifier.lastWarning.toStdString());
    }
    if (build->isEnabled()) {
        throw std::runtime_error("Build was still enabled after the last build.");
    }
    return seconds;
}

// The yardsticks: the same run's files made and released through the store alone, and the same
// with a plain window whose one label is changed and repainted after each file, as any window
// that shows the next number must.
double storeRun(const std::filesystem::path &base, bool repaint)
{
    testsupport::TempFolder folder(base, /*settled=*/true);
    DataFileStore store(folder.path());
    QWidget window;
    window.setFixedSize(267, 204);
    auto *label = new QLabel(QStringLiteral("1"), &window);
    label->setGeometry(112, 144, 57, 17);
    if (repaint) {
        waitExposed(window);
    }
    const auto start = std::chrono::steady_clock::now();
    for (std::int32_t number = 1; number <= buildsPerRun; ++number) {
        store.createFile(number, 10);
        if (repaint) {
            label->setText(QString::number(number + 1));
            QApplication::processEvents();
        }
    }
    for (std::int32_t number = 1; number <= buildsPerRun; ++number) {
        store.closeFile(number);
    }
    return secondsSince(start);
}

// Figure 1 at n = 10 once for every build of a run: each file the first of a run of its own.
double firstFiles(const std::filesystem::path &base)
{
    double seconds = 0;
    for (int file = 0; file < buildsPerRun; ++file) {
        testsupport::TempFolder folder(base, /*settled=*/true);
        seconds += storeCreateAndClose(folder.path(), 10);
    }
    return seconds;
}

// Figure 4. Memory is watched over each run: the first run of the process, the worst run of
// this measurement, and resident memory from the end of the second run (every cache warm by
// then) to the end of the last, where a leak would show.
void wholeRuns(benchmark::State &state, const std::filesystem::path &base)
{
    static std::int64_t firstRunGrowth = -1;
    std::int64_t worstGrowth = 0;
    std::int64_t residentAfterSecond = 0;
    int runs = 0;
    compareWays(state, {{"",
                         [&] {
                             std::int64_t growth = 0;
                             const double seconds = wholeRun(base, growth);
                             if (firstRunGrowth < 0) {
                                 firstRunGrowth = growth;
                             }
                             worstGrowth = std::max(worstGrowth, growth);
                             if (++runs == 2) {
                                 residentAfterSecond = statusKiB("VmRSS");
                             }
                             return seconds;
                         }},
                        {"first_files_us", [&] { return firstFiles(base); }},
                        {"store_us", [&] { return storeRun(base, false); }},
                        {"store_plain_window_us", [&] { return storeRun(base, true); }}});
    state.counters["first_run_growth_KiB"] = static_cast<double>(firstRunGrowth);
    state.counters["worst_run_growth_KiB"] = static_cast<double>(worstGrowth);
    if (runs > 2) {
        const auto laterBuilds = static_cast<double>((runs - 2) * buildsPerRun);
        state.counters["leak_B_per_build"] =
            static_cast<double>(statusKiB("VmRSS") - residentAfterSecond) * 1024.0 / laterBuilds;
    }
}

} // namespace

void registerWholeRun(const Place &tmpfs)
{
    benchmark::RegisterBenchmark(("whole_run/" + tmpfs.name).c_str(), wholeRuns, tmpfs.folder)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace quelm::bench
