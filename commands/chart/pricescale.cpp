#include "pricescale.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quelm::chart {

PriceScale priceScale(double lowest, double highest, double pixels)
{
    double span = highest - lowest;
    if (!(span > 0) || !std::isfinite(span)) {
        // One price (or a span beyond a double): a band around it, so it sits mid-pane.
        span = lowest == 0 || !std::isfinite(span) ? 1 : std::abs(lowest) / 50;
        lowest -= span / 2;
        highest += span / 2;
    }
    PriceScale scale;
    scale.bottom = lowest - span * 0.04;
    scale.top = highest + span * 0.04;
    const double wanted = (scale.top - scale.bottom) / std::max(2.0, pixels / 50);
    const int exponent = static_cast<int>(std::floor(std::log10(wanted)));
    const double power = std::pow(10.0, exponent);
    double step = 10 * power;
    int decimals = std::max(0, -exponent - 1);
    for (const double mantissa : {1.0, 2.0, 2.5, 5.0}) {
        if (mantissa * power >= wanted) {
            step = mantissa * power;
            decimals = std::max(0, -exponent + (mantissa == 2.5 ? 1 : 0));
            break;
        }
    }
    scale.decimals = decimals;
    // At most a tick per pixel: where a step is below the prices' precision, k stops growing.
    for (double k = std::ceil(scale.bottom / step);
         k * step <= scale.top && static_cast<double>(scale.ticks.size()) < pixels; ++k) {
        scale.ticks.push_back(k * step);
    }
    return scale;
}

std::string tickText(double value, int decimals)
{
    char text[64];
    std::to_chars_result written{};
    if (std::abs(value) >= 1e15 || decimals > 15) {
        written = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    } else {
        // Rounded to what is shown first, so that a tick a hair below zero reads "0", not "-0".
        const double shown =
            value == 0 || std::abs(value) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : value;
        written =
            std::to_chars(text, text + sizeof text, shown, std::chars_format::fixed, decimals);
    }
    return std::string(text, written.ptr);
}

} // namespace quelm::chart
