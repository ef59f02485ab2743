#pragma once

#include <benchmark/benchmark.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quelm::bench {

// Prints each result as the console reporter does and keeps it, so that the figures can be
// compared with one another once the run is over.
class FigureReporter final : public benchmark::ConsoleReporter
{
public:
    FigureReporter();

    void ReportRuns(const std::vector<Run> &runs) override;

    // The median time of one iteration in nanoseconds over the repetitions of the benchmark
    // named e.g. "creation/disk/10"; nothing when it did not run.
    std::optional<double> medianNs(const std::string &name) const;
    // The median of one of its counters over the repetitions.
    std::optional<double> counter(const std::string &name, const std::string &counterName) const;

    // How many runs stopped with an error.
    int failures() const { return m_failures; }
    // The median over the repetitions of the benchmark's time divided by its counter
    // `counterName` (a time in microseconds) from the same repetition.
    std::optional<double> medianRatio(const std::string &name,
                                      const std::string &counterName) const;

    // A benchmark's median time beside the median of a peer's time it counted (in
    // microseconds) and their median ratio; nothing unless all three are there.
    struct Comparison
    {
        double oursNs;
        double theirsUs;
        double ratio;
    };
    std::optional<Comparison> compared(const std::string &name,
                                       const std::string &counterName) const;

private:
    struct Result
    {
        std::vector<double> timesNs;
        std::map<std::string, std::vector<double>> counters;
    };
    std::map<std::string, Result> m_results;
    int m_failures = 0;
};

// A figure as text: the printf-style `pattern`, e.g. "%.1f ms", filled with `value`.
std::string format(const char *pattern, double value);

} // namespace quelm::bench
