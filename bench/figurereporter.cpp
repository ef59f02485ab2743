#include "figurereporter.h"

#include <algorithm>
#include <cstdio>

namespace quelm::bench {

FigureReporter::FigureReporter() : ConsoleReporter(OO_Tabular) {}

void FigureReporter::ReportRuns(const std::vector<Run> &runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
        if (run.error_occurred) {
            ++m_failures;
        }
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
            result.counters[counterName].push_back(value.value);
        }
    }
}

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

std::optional<double> FigureReporter::medianNs(const std::string &name) const
{
    const auto found = m_results.find(name);
    if (found == m_results.end()) {
        return std::nullopt;
    }
    return median(found->second.timesNs);
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
    return median(value->second);
}

std::optional<double> FigureReporter::medianRatio(const std::string &name,
                                                  const std::string &counterName) const
{
    const auto found = m_results.find(name);
    if (found == m_results.end()) {
        return std::nullopt;
    }
    const auto counter = found->second.counters.find(counterName);
    if (counter == found->second.counters.end()) {
        return std::nullopt;
    }
    const std::vector<double> &times = found->second.timesNs;
    std::vector<double> ratios;
    for (std::size_t i = 0; i < times.size() && i < counter->second.size(); ++i) {
        ratios.push_back(times[i] / (counter->second[i] * 1e3));
    }
    return median(ratios);
}

std::optional<FigureReporter::Comparison>
FigureReporter::compared(const std::string &name, const std::string &counterName) const
{
    const auto ours = medianNs(name);
    const auto theirs = counter(name, counterName);
    const auto ratio = medianRatio(name, counterName);
    if (!ours || !theirs || !ratio) {
        return std::nullopt;
    }
    return Comparison{*ours, *theirs, *ratio};
}

std::string format(const char *pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

} // namespace quelm::bench
