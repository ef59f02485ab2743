#include "benchmarks.h"
#include "comparison.h"
#include "floors.h"
#include "tempfolder.h"

#include <quelm/datafilestore.h>

#include <benchmark/benchmark.h>

namespace quelm::bench {

double storeCreateAndClose(const std::filesystem::path &folder, std::int32_t bars)
{
    DataFileStore store(folder);
    const auto start = std::chrono::steady_clock::now();
    store.createFile(1, bars);
    store.closeFile(1);
    return secondsSince(start);
}

namespace {

// The same for file 2, once file 1 has made the run's folder: what every later build costs.
double storeCreateAndCloseNext(const std::filesystem::path &folder, std::int32_t bars)
{
    DataFileStore store(folder);
    store.createFile(1, bars);
    store.closeFile(1);
    const auto start = std::chrono::steady_clock::now();
    store.createFile(2, bars);
    store.closeFile(2);
    return secondsSince(start);
}

// Figures 1 and 2: our create + close of one file of n bars, and in turn the floors of the same,
// each in a new folder that is made and removed outside the timed part.
void creation(benchmark::State &state, const std::filesystem::path &base)
{
    const auto bars = static_cast<std::int32_t>(state.range(0));
    const auto inNewFolder = [&](auto make) {
        return [&base, make] {
            testsupport::TempFolder folder(base, /*settled=*/true);
            return make(folder.path());
        };
    };
    compareWays(
        state,
        {{"",
          inNewFolder([bars](const auto &folder) { return storeCreateAndClose(folder, bars); })},
         {"next_file_us", inNewFolder([bars](const auto &folder) {
              return storeCreateAndCloseNext(folder, bars);
          })},
         {"durable_us",
          inNewFolder([bars](const auto &folder) { return durableFloor(folder, bars, false); })},
         {"marked_us",
          inNewFolder([bars](const auto &folder) { return durableFloor(folder, bars, true); })},
         {"bare_us", inNewFolder([bars](const auto &folder) { return bareFloor(folder, bars); })}});
}

} // namespace

void registerCreation(const std::vector<Place> &places)
{
    for (const Place &place : places) {
        auto *benchmark = benchmark::RegisterBenchmark(("creation/" + place.name).c_str(), creation,
                                                       place.folder);
        for (const std::int64_t bars : barCounts) {
            benchmark->Arg(bars);
        }
        benchmark->UseManualTime()->Unit(benchmark::kMicrosecond);
    }
}

} // namespace quelm::bench
