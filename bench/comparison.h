#pragma once

#include <benchmark/benchmark.h>
#include <functional>
#include <string>
#include <vector>

namespace quelm::bench {

// One way of doing what a figure measures: it does it once and returns the seconds it took.
// It throws std::exception when it cannot be done.
struct Way
{
    std::string counter; // the counter its mean time goes to, in microseconds
    std::function<double()> measure;
};

// Does every way once per iteration, in an order that rotates, so that all of them share
// whatever else the machine is doing at the time and their ratios stay fair. The first way is
// the one measured: its seconds are the iteration's time. Each other way's mean goes to its
// counter.
void compareWays(benchmark::State &state, const std::vector<Way> &ways);

} // namespace quelm::bench
