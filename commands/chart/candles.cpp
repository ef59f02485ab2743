#include "candles.h"

#include <algorithm>
#include <span>

namespace quelm::chart {
namespace {

// True when all are finite: a difference of a value with itself is NaN for NaN and infinities.
bool finite(const Bar &bar)
{
    return (bar.open - bar.open) + (bar.high - bar.high) + (bar.low - bar.low) +
               (bar.close - bar.close) + (bar.volume - bar.volume) ==
           0;
}

} // namespace

std::vector<Candle> mergeBars(const DataFile &file, std::uint64_t first, std::uint64_t count,
                              std::size_t columns)
{
    const std::uint64_t slots = std::min<std::uint64_t>(count, columns);
    std::vector<Candle> candles(slots);
    if (slots == 0) {
        return candles;
    }
    // Candle c starts at bar ceil(c * count / slots), worked out without overflowing.
    const std::uint64_t whole = count / slots;
    const std::uint64_t rest = count % slots;
    const auto startOf = [&](std::uint64_t c) {
        return c * whole + (c * rest + slots - 1) / slots;
    };

    std::vector<Bar> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(chunkBars, count)));
    std::uint64_t index = 0;
    Candle *candle = candles.data();
    std::uint64_t next = startOf(1);
    while (index < count) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), count - index));
        file.readBars(first + index, std::span<Bar>(chunk.data(), n));
        for (std::size_t k = 0; k < n; ++k, ++index) {
            if (index == next) {
                ++candle;
                next = startOf(static_cast<std::uint64_t>(candle - candles.data()) + 1);
            }
            const Bar &bar = chunk[k];
            if (candle->bars++ == 0) {
                candle->firstBar = first + index;
                candle->firstTimeMs = bar.timeMs;
            }
            candle->lastTimeMs = bar.timeMs;
            if (!finite(bar)) {
                continue;
            }
            if (!candle->drawn) {
                candle->drawn = true;
                candle->open = bar.open;
                candle->high = bar.high;
                candle->low = bar.low;
            } else {
                candle->high = std::max(candle->high, bar.high);
                candle->low = std::min(candle->low, bar.low);
            }
            candle->close = bar.close;
            candle->volume += bar.volume;
        }
    }
    return candles;
}

} // namespace quelm::chart
