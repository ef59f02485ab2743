#pragma once

#include "benchmarks.h"
#include "figurereporter.h"

#include <ostream>
#include <vector>

namespace quelm::bench {

// Prints the five figures from one run's results: each measurement, its ratio to what it is
// compared with, and whether the goal holds.
void printFigures(const FigureReporter &results, const std::vector<Place> &places,
                  std::ostream &out);

} // namespace quelm::bench
