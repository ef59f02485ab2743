#include "chartbench.h"

#include "candles.h"
#include "comparison.h"
#include "svgchart.h"
#include "tempfolder.h"

#include <quelm/datafile.h>
#include <quelm/datafilestore.h>

#include <algorithm>
#include <span>
#include <string>

namespace quelm::bench {
namespace {

constexpr std::int32_t chartBars = 10'000'000;
constexpr int chartWidth = 1200;
constexpr int chartHeight = 700;

// A data file of the store holding chartBars minute bars that wander, with a gap each night.
std::filesystem::path filledFile(const std::filesystem::path &base)
{
    std::filesystem::path path;
    {
        DataFileStore store(base);
        std::int32_t number = 1, capacity = chartBars;
        store.CreateDataFile(number, capacity);
        path = *store.filePath(1);
        DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite);
        std::vector<Bar> chunk(1 << 16);
        double price = 100;
        for (std::int64_t at = 0; at < chartBars;) {
            const auto n =
                std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), chartBars - at);
            for (std::int64_t i = 0; i < n; ++i, ++at) {
                const double next = price + static_cast<double>((at * 7919) % 201 - 100) / 400;
                chunk[static_cast<std::size_t>(i)] = {1'796'623'260'000 +
                                                          (at + at / 480 * 960) * 60'000,
                                                      price,
                                                      std::max(price, next) + 0.1,
                                                      std::min(price, next) - 0.1,
                                                      next,
                                                      static_cast<double>(at % 500)};
                price = next;
            }
            file.appendBars(std::span<const Bar>(chunk.data(), static_cast<std::size_t>(n)));
        }
        store.CloseDataFile(number);
    }
    return path;
}

template <typename Call> double timed(Call call)
{
    const auto start = std::chrono::steady_clock::now();
    call();
    return secondsSince(start);
}

std::size_t lastSvgBytes = 0;

void chart(benchmark::State &state, const Place &place)
{
    testsupport::TempFolder scratch(place.folder, /*settled=*/true);
    const DataFile file = DataFile::open(filledFile(scratch.path() / "filled"));
    std::vector<Bar> chunk(chart::chunkBars);
    const Zone utc;
    const Way ours{"", [&] {
                       return timed([&] {
                           const auto candles =
                               chart::mergeBars(file, 0, chartBars, chart::plotColumns(chartWidth));
                           lastSvgBytes =
                               chart::svgChart(candles, utc, chartWidth, chartHeight, {}).size();
                       });
                   }};
    const Way read{"readbars_us", [&] {
                       return timed([&] {
                           for (std::uint64_t at = 0; at < chartBars; at += chunk.size()) {
                               file.readBars(at, std::span<Bar>(chunk).first(std::min<std::size_t>(
                                                     chunk.size(), chartBars - at)));
                           }
                       });
                   }};
    compareWays(state, {ours, read});
}

} // namespace

void registerChart(const std::vector<Place> &places)
{
    for (const Place &place : places) {
        benchmark::RegisterBenchmark(("chart/" + place.name).c_str(), chart, place)
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }
}

void printChartFigures(const FigureReporter &results, const std::vector<Place> &places,
                       GoalTally &tally, std::ostream &out)
{
    out << "Chart: 10^7 bars drawn at " << chartWidth << " px as quelm-chart draws them (read in "
        << "chunks of " << chart::chunkBars << ", merged per column, SVG of "
        << format("%.0f KB", static_cast<double>(lastSvgBytes) / 1e3)
        << "), warm page cache, against readBars of the same chunks alone\n";
    for (const Place &place : places) {
        const std::string name = "chart/" + place.name;
        if (const auto c = results.compared(name, "readbars_us")) {
            out << "  " << place.name << " (" << testsupport::fileSystemName(place.folder)
                << "): chart " << format("%.1f ms", c->oursNs / 1e6) << ", readBars "
                << format("%.1f ms", c->theirsUs / 1e3)
                << "; chart / readBars = " << format("%.2f", c->ratio) << " "
                << tally.check(GoalId::chartAgainstRead, c->ratio) << "\n";
        }
    }
}

} // namespace quelm::bench
