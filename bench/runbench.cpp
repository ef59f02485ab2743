#include "benchmarks.h"
#include "datafileerror.h"
#include "datafilestore.h"
#include "frmquelm.h"
#include "quietnotifier.h"
#include "scratchfolder.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <benchmark/benchmark.h>
#include <fstream>
#include <memory>
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

// Figure 4: one whole run as a person would make it, with every box dismissed at once: the
// window on the real store, Build pressed until the window allows no more (the queued repaints
// handled after each press) and the window closed, which releases every file. Making the window
// and removing the files are not timed. Peak resident memory is watched over all the runs of a
// measurement; growth after the first run would be a leak.
void wholeRun(benchmark::State &state, const std::filesystem::path &base)
{
    QuietNotifier notifier;
    resetPeakResident();
    const std::int64_t startResident = statusKiB("VmRSS");
    std::int64_t residentAfterFirst = 0;
    for (auto _ : state) {
        ScratchFolder folder(base);
        frmQuelm window(std::make_unique<DataFileStore>(folder.path()), notifier);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            state.SkipWithError("The window was never exposed.");
            break;
        }
        auto *build = window.findChild<QPushButton *>(QStringLiteral("cmdBuild"));
        const auto start = std::chrono::steady_clock::now();
        for (int press = 0; press < buildsPerRun; ++press) {
            build->click();
            QApplication::processEvents();
        }
        window.close();
        state.SetIterationTime(secondsSince(start));
        if (!notifier.lastWarning.isEmpty() || build->isEnabled()) {
            state.SkipWithError(notifier.lastWarning.isEmpty()
                                    ? "Build was still enabled after the last build."
                                    : qPrintable(notifier.lastWarning));
            break;
        }
        if (residentAfterFirst == 0) {
            residentAfterFirst = statusKiB("VmRSS");
        }
    }
    QApplication::processEvents();
    state.counters["peak_growth_KiB"] = static_cast<double>(statusKiB("VmHWM") - startResident);
    if (state.iterations() > 1) {
        const auto laterBuilds = static_cast<double>((state.iterations() - 1) * buildsPerRun);
        state.counters["leak_B_per_build"] =
            static_cast<double>(statusKiB("VmRSS") - residentAfterFirst) * 1024.0 / laterBuilds;
    }
}

// Figure 4's yardsticks: the same run's files made and released through the store alone, with
// no window, and the same with a plain window whose one label is changed and repainted after
// each file, as any window that shows the next number must.
void storeRun(benchmark::State &state, const std::filesystem::path &base, bool repaint)
{
    for (auto _ : state) {
        ScratchFolder folder(base);
        DataFileStore store(folder.path());
        QWidget window;
        window.setFixedSize(267, 204);
        auto *label = new QLabel(QStringLiteral("1"), &window);
        label->setGeometry(112, 144, 57, 17);
        if (repaint) {
            window.show();
            if (!QTest::qWaitForWindowExposed(&window)) {
                state.SkipWithError("The window was never exposed.");
                break;
            }
        }
        const auto start = std::chrono::steady_clock::now();
        try {
            for (std::int32_t number = 1; number <= buildsPerRun; ++number) {
                std::int32_t fileNumber = number;
                std::int32_t barCount = 10;
                store.CreateDataFile(fileNumber, barCount);
                if (repaint) {
                    label->setText(QString::number(number + 1));
                    QApplication::processEvents();
                }
            }
            for (std::int32_t number = 1; number <= buildsPerRun; ++number) {
                std::int32_t fileNumber = number;
                store.CloseDataFile(fileNumber);
            }
        } catch (const DataFileError &error) {
            state.SkipWithError(error.what());
            break;
        }
        state.SetIterationTime(secondsSince(start));
    }
}

} // namespace

void registerWholeRun(const Place &tmpfs)
{
    benchmark::RegisterBenchmark(("store_run/" + tmpfs.name).c_str(), storeRun, tmpfs.folder, false)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("store_plain_window_run/" + tmpfs.name).c_str(), storeRun,
                                 tmpfs.folder, true)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("whole_run/" + tmpfs.name).c_str(), wholeRun, tmpfs.folder)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace quelm::bench
