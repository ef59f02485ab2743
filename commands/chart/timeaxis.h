#pragma once

#include "candles.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace date {
class time_zone;
}

// The time axis: the zone its labels are read in, and ticks on natural boundaries.
namespace quelm::chart {

// UTC, a fixed offset from it, or a zone of the system's zone database (which the Windows
// build has not).
class Zone
{
public:
    Zone() = default;
    // Reads "UTC", "Z", "+hh:mm", "-hhmm", "+hh" or a zone name such as "Europe/Berlin"; throws
    // std::invalid_argument saying why it cannot.
    explicit Zone(std::string_view name);

    // What to add to a UTC time to get the local time then.
    std::int64_t offsetMs(std::int64_t utcMs) const;
    // "UTC", "+05:30", "Europe/Berlin".
    const std::string &name() const { return m_name; }

private:
    std::string m_name = "UTC";
    std::int64_t m_offsetMs = 0;
    const date::time_zone *m_zone = nullptr;
};

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
