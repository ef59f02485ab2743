#include "benchmarks.h"
#include "bulkbench.h"
#include "chartbench.h"
#include "figurereporter.h"
#include "figures.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstring>
#include <iostream>

namespace {

// Takes --disk=FOLDER and --tmpfs=FOLDER out of the arguments. The disk folder defaults to the
// current one (the build folder under `make bench`), the tmpfs folder to /dev/shm when present.
std::vector<quelm::bench::Place> takePlaces(int &argc, char *argv[])
{
    std::filesystem::path disk = std::filesystem::current_path();
    std::filesystem::path tmpfs = "/dev/shm";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--disk=", 7) == 0) {
            disk = argv[i] + 7;
        } else if (std::strncmp(argv[i], "--tmpfs=", 8) == 0) {
            tmpfs = argv[i] + 8;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    std::vector<quelm::bench::Place> places = {{"disk", disk}};
    if (std::error_code error; std::filesystem::is_directory(tmpfs, error)) {
        places.push_back({"tmpfs", tmpfs});
    }
    return places;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc == 2 && std::strncmp(argv[1], "--first-window=", 15) == 0) {
        return quelm::bench::showFirstWindow(argv[1] + 15);
    }
    benchmark::Initialize(&argc, argv);
    const std::vector<quelm::bench::Place> places = takePlaces(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }

    quelm::bench::registerCreation(places);
    quelm::bench::registerWindowStart();
    if (places.size() > 1) {
        quelm::bench::registerWholeRun(places.back());
    }
    quelm::bench::registerConversions();
    quelm::bench::registerBulk(places);
    quelm::bench::registerChart(places);

    quelm::bench::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    quelm::bench::GoalTally tally;
    quelm::bench::printFigures(reporter, places, tally, std::cout);
    quelm::bench::printBulkFigures(reporter, places, tally, std::cout);
    quelm::bench::printChartFigures(reporter, places, tally, std::cout);
    std::cout << "Goals\n";
    tally.summary(std::cout);
    benchmark::Shutdown();
    if (reporter.failures() > 0) {
        std::cerr << "quelm-bench: " << reporter.failures() << " benchmark runs failed.\n";
        return 1;
    }
    return 0;
}
