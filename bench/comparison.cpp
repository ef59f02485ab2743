#include "comparison.h"

#include <exception>

namespace quelm::bench {

void compareWays(benchmark::State &state, const std::vector<Way> &ways)
{
    std::vector<double> totals(ways.size(), 0.0);
    std::size_t first = 0;
    for (auto _ : state) {
        double measured = 0;
        try {
            for (std::size_t step = 0; step < ways.size(); ++step) {
                const std::size_t way = (first + step) % ways.size();
                const double seconds = ways[way].measure();
                totals[way] += seconds;
                if (way == 0) {
                    measured = seconds;
                }
            }
        } catch (const std::exception &error) {
            state.SkipWithError(error.what());
            break;
        }
        state.SetIterationTime(measured);
        first = (first + 1) % ways.size();
    }
    for (std::size_t way = 1; way < ways.size(); ++way) {
        state.counters[ways[way].counter] =
            benchmark::Counter(totals[way] * 1e6, benchmark::Counter::kAvgIterations);
    }
}

} // namespace quelm::bench
