#pragma once

#include "candles.h"
#include "zone.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The time axis: the zone its labels are read in, and ticks on natural boundaries.
namespace quelm::chart {

// A label under candle `candle`: its first bar's local time at the precision of the ticks, and
// the date below it when the ticks are within days and the date changed since the last label.
struct TimeTick
{
    std::size_t candle = 0;
    std::string label;
    std::string date;
};

// Ticks for candles `candleWidth` pixels apart: the first candle, then each first candle past
// a boundary of the finest step (1 to 30 seconds or minutes, 1 to 12 hours, a day, a week or
// two from Monday, 1 to 6 months, years) that leaves `spacing` pixels a label over the span and
// is no finer than the candles, no two closer than `spacing` pixels.
std::vector<TimeTick> timeTicks(const std::vector<Candle> &candles, const Zone &zone,
                                double candleWidth, double spacing);

} // namespace quelm::chart
