#pragma once

#include "benchmarks.h"
#include "figurereporter.h"
#include "goals.h"

#include <ostream>
#include <vector>

namespace quelm::bench {

// 10^7 bars appended to and read from a data file in one call each, against bare pwrite and
// pread (and, for reading, a memory map) of the same bytes in the same place.
void registerBulk(const std::vector<Place> &places);
// Prints their figures, counting each goal's check in `tally`.
void printBulkFigures(const FigureReporter &results, const std::vector<Place> &places,
                      GoalTally &tally, std::ostream &out);

} // namespace quelm::bench
