#include "figurereporter.h"

#include <algorithm>

namespace quelm::bench {

FigureReporter::FigureReporter() : ConsoleReporter(OO_Tabular) {}

void FigureReporter::ReportRuns(const std::vector<Run> &runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
        if (run.run_type != Run::RT_Iteration || run.error_occurred) {
            continue;
        }
        std::string name = run.run_name.function_name;
        if (!run.run_name.args.empty()) {
            name += '/' + run.run_name.args;
        }
        Result &result = m_results[name];
        result.timesNs.push_back(run.GetAdjustedRealTime() /
                                 benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9);
        for (const auto &[counterName, value] : run.counters) {
            result.counters[counterName] = value.value;
        }
    }
}

std::optional<double> FigureReporter::medianNs(const std::string &name) const
{
    const auto found = m_results.find(name);
    if (found == m_results.end()) {
        return std::nullopt;
    }
    std::vector<double> times = found->second.timesNs;
    std::sort(times.begin(), times.end());
    const std::size_t middle = times.size() / 2;
    return times.size() % 2 == 1 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
}

std::optional<double> FigureReporter::counter(const std::string &name,
                                              const std::string &counterName) const
{
    const auto found = m_results.find(name);
    if (found == m_results.end()) {
        return std::nullopt;
    }
    const auto value = found->second.counters.find(counterName);
    if (value == found->second.counters.end()) {
        return std::nullopt;
    }
    return value->second;
}

} // namespace quelm::bench
