#pragma once

#include <string>
#include <vector>

// The price axis: a range a little wider than the prices, with ticks on round numbers.
namespace quelm::chart {

struct PriceScale
{
    double bottom = 0; // the price at the bottom of the pane
    double top = 1;    // the price at its top
    std::vector<double> ticks;
    int decimals = 0; // the decimals every tick needs
};

// A scale for prices from `lowest` to `highest` on a pane `pixels` high, with a tick every
// 50 pixels or more, at multiples of 1, 2, 2.5 or 5 times a power of ten.
PriceScale priceScale(double lowest, double highest, double pixels);

// A tick's text with `decimals` decimals, independent of the locale: "12.5", "-0.25", "1e+20".
std::string tickText(double value, int decimals);

} // namespace quelm::chart
