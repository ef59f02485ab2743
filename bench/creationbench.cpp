#include "benchmarks.h"
#include "datafileerror.h"
#include "datafilestore.h"
#include "scratchfolder.h"

#include <benchmark/benchmark.h>

namespace quelm::bench {
namespace {

// Figure 1: the store makes and closes file 1 of a run, in a new data folder each time, as the
// first build of a run does.
void createAndClose(benchmark::State &state, const std::filesystem::path &base)
{
    const auto bars = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        ScratchFolder folder(base);
        DataFileStore store(folder.path());
        std::int32_t fileNumber = 1;
        std::int32_t barCount = bars;
        const auto start = std::chrono::steady_clock::now();
        try {
            store.CreateDataFile(fileNumber, barCount);
            store.CloseDataFile(fileNumber);
        } catch (const DataFileError &error) {
            state.SkipWithError(error.what());
            break;
        }
        state.SetIterationTime(secondsSince(start));
    }
}

} // namespace

void registerCreation(const std::vector<Place> &places)
{
    for (const Place &place : places) {
        auto *benchmark = benchmark::RegisterBenchmark(("creation/" + place.name).c_str(),
                                                       createAndClose, place.folder);
        for (const std::int64_t bars : barCounts) {
            benchmark->Arg(bars);
        }
        benchmark->UseManualTime()->Unit(benchmark::kMicrosecond);
    }
}

} // namespace quelm::bench
