#include "candles.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

// Adds bars with non-finite values among them one by one, leaving those out.
void mergeEach(Candle &candle, const Bar *begin, const Bar *end)
{
    for (const Bar *bar = begin; bar != end; ++bar) {
        if (!finite(*bar)) {
            continue;
        }
        if (!candle.drawn) {
            candle.drawn = true;
            candle.open = bar->open;
            candle.high = bar->high;
            candle.low = bar->low;
        }
        candle.high = std::max(candle.high, bar->high);
        candle.low = std::min(candle.low, bar->low);
        candle.close = bar->close;
        candle.volume += bar->volume;
    }
}

// Adds the consecutive bars from `begin` to `end`, the first of them bar `index`, to `candle`.
// The loop has no branch and keeps two of everything, so that no chain of additions waits on
// itself: it takes every value as finite, and a sum of them all, which is not finite when one
// of them is not, sends the bars through mergeEach instead.
void mergeInto(Candle &candle, std::uint64_t index, const Bar *begin, const Bar *end)
{
    if (candle.bars == 0) {
        candle.firstBar = index;
        candle.firstTimeMs = begin->timeMs;
    }
    candle.bars += static_cast<std::uint64_t>(end - begin);
    candle.lastTimeMs = (end - 1)->timeMs;
    constexpr double infinity = std::numeric_limits<double>::infinity();
    double high[2] = {-infinity, -infinity};
    double low[2] = {infinity, infinity};
    double volume[2] = {0, 0};
    double sum[2] = {0, 0};
    const auto add = [&](int lane, const Bar &bar) {
        high[lane] = std::max(high[lane], bar.high);
        low[lane] = std::min(low[lane], bar.low);
        volume[lane] += bar.volume;
        sum[lane] += (bar.open + bar.close) + (bar.high + bar.low);
    };
    const Bar *bar = begin;
    for (; end - bar >= 2; bar += 2) {
        add(0, bar[0]);
        add(1, bar[1]);
    }
    if (bar != end) {
        add(0, *bar);
    }
    const double volumes = volume[0] + volume[1];
    if (!std::isfinite(sum[0] + sum[1] + volumes)) {
        mergeEach(candle, begin, end);
        return;
    }
    if (!candle.drawn) {
        candle.drawn = true;
        candle.open = begin->open;
        candle.high = -infinity;
        candle.low = infinity;
    }
    candle.high = std::max({candle.high, high[0], high[1]});
    candle.low = std::min({candle.low, low[0], low[1]});
    candle.close = (end - 1)->close;
    candle.volume += volumes;
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
        for (std::size_t k = 0; k < n;) {
            if (index == next) {
                ++candle;
                next = startOf(static_cast<std::uint64_t>(candle - candles.data()) + 1);
            }
            const auto end =
                k + static_cast<std::size_t>(std::min<std::uint64_t>(n - k, next - index));
            mergeInto(*candle, first + index, chunk.data() + k, chunk.data() + end);
            index += end - k;
            k = end;
        }
    }
    return candles;
}

} // namespace quelm::chart
