#pragma once

#include "benchmarks.h"
#include "figurereporter.h"
#include "goals.h"

#include <ostream>
#include <vector>

namespace quelm::bench {

// Prints the five figures from one run's results: each measurement, its ratio to what it is
// compared with, and whether the goal holds, counting each check in `tally`.
void printFigures(const FigureReporter &results, const std::vector<Place> &places, GoalTally &tally,
                  std::ostream &out);

} // namespace quelm::bench
