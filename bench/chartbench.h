#pragma once

#include "benchmarks.h"
#include "figurereporter.h"
#include "goals.h"

#include <ostream>
#include <vector>

namespace quelm::bench {

// quelm-chart's drawing of 10^7 bars at 1200 pixels (reading, merging per column, writing the
// SVG), against reading the same bars with readBars alone, in the same chunks.
void registerChart(const std::vector<Place> &places);
// Prints its figures, counting each goal's check in `tally`.
void printChartFigures(const FigureReporter &results, const std::vector<Place> &places,
                       GoalTally &tally, std::ostream &out);

} // namespace quelm::bench
