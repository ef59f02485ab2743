#pragma once

#include <array>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

namespace quelm::bench {

// The goals the figures are held to, in one table: the reporter prints each goal and whether
// it holds from here, so a bound is stated once and checked as stated.
enum class GoalId
{
    creationBySize,
    againstDurableFloor,
    windowStart,
    buildAgainstFirstFile,
    runMemoryGrowth,
    conversionTime,
    singleAppendsFlushed,
    bulkAppendFlushed,
    bulkRead,
    chartAgainstRead,
};

struct Goal
{
    GoalId id;
    int figure;
    std::string_view compares; // what the measured value is
    double limit;
    bool limitIncluded;    // "<=" when true, "<" when false
    std::string_view unit; // of the value and the limit; empty for a ratio
};

extern const std::array<Goal, 10> goals;

const Goal &goal(GoalId id);
bool holds(const Goal &goal, double value);
// "goal <= 1.2", "goal < 1024 KiB".
std::string goalText(const Goal &goal);

// How often each goal held in one run, for the closing summary.
class GoalTally
{
public:
    // "(goal <= 1.2: holds)" for a measured value, counted for the summary.
    std::string check(GoalId id, double value);
    // Each goal with how often it held in this run, or that it was not measured.
    void summary(std::ostream &out) const;

private:
    std::map<GoalId, std::pair<int, int>> m_tally; // held, checked
};

} // namespace quelm::bench
