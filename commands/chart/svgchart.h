#pragma once

#include "candles.h"
#include "timeaxis.h"

#include <cstddef>
#include <string>
#include <vector>

// A chart drawn as a standalone SVG 1.1 document: candles over a volume pane, prices on the
// right, times along the bottom, one candle per slot of an index axis that skips gaps in time.
namespace quelm::chart {

struct ChartText
{
    std::string title;       // UTF-8, shown on top and as the document's <title>
    std::string description; // its <desc>
    std::string note;        // shown across the panes when there is no candle to draw
};

// The pixel columns of a chart `width` wide: at most one candle each.
std::size_t plotColumns(int width);

std::string svgChart(const std::vector<Candle> &candles, const Zone &zone, int width, int height,
                     const ChartText &text);

// `text` with &, <, > and " written as XML's entities.
std::string xmlText(std::string_view text);

} // namespace quelm::chart
