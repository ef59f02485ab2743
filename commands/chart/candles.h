#pragma once

#include <quelm/datafile.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// The candles of a chart: one per bar, or, when a range holds more bars than the chart has
// pixel columns, consecutive bars merged into one candle per column.
namespace quelm::chart {

// The bars read at a time.
inline constexpr std::size_t chunkBars = 1 << 12;

struct Candle
{
    std::uint64_t firstBar = 0; // its first bar's index in the file
    std::uint64_t bars = 0;     // the bars merged into it
    std::int64_t firstTimeMs = 0;
    std::int64_t lastTimeMs = 0;
    bool drawn = false; // false when none of its bars has finite prices and volume
    double open = 0;    // of its first drawn bar
    double high = 0;
    double low = 0;
    double close = 0; // of its last drawn bar
    double volume = 0;
};

// Reads bars `first` to `first + count - 1` of `file` in chunks and merges them into
// min(count, columns) candles: bar i of the range goes to candle floor(i * candles / count),
// so each candle holds consecutive bars and no two hold counts more than one apart. A bar whose
// prices or volume are not all finite counts in its candle's bars and times, not in its prices.
std::vector<Candle> mergeBars(const DataFile &file, std::uint64_t first, std::uint64_t count,
                              std::size_t columns);

} // namespace quelm::chart
