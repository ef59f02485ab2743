#include "goals.h"

#include <cstdio>
#include <stdexcept>

namespace quelm::bench {

const std::array<Goal, 6> goals = {{
    {GoalId::creationBySize, 1,
     "create + close at n=10^7 / at n=10, where space is reserved "
     "without writing it",
     2.0, true, ""},
    {GoalId::againstDurableFloor, 2, "create + close / the durable floor", 1.2, true, ""},
    {GoalId::windowStart, 3, "frmQuelm / a plain window, from construction until exposed", 1.15,
     true, ""},
    {GoalId::buildAgainstFirstFile, 4, "a build of a whole run / figure 1 at n=10", 1.5, true, ""},
    {GoalId::runMemoryGrowth, 4, "peak resident memory growth during a run", 1024, false, "KiB"},
    {GoalId::conversionTime, 5, "one text to 32-bit integer conversion", 1, false, "us"},
}};

const Goal &goal(GoalId id)
{
    for (const Goal &each : goals) {
        if (each.id == id) {
            return each;
        }
    }
    throw std::logic_error("a goal is missing from the table");
}

bool holds(const Goal &goal, double value)
{
    return goal.limitIncluded ? value <= goal.limit : value < goal.limit;
}

std::string goalText(const Goal &goal)
{
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", goal.limit);
    std::string text = std::string("goal ") + (goal.limitIncluded ? "<= " : "< ") + limit;
    if (!goal.unit.empty()) {
        text += ' ';
        text += goal.unit;
    }
    return text;
}

} // namespace quelm::bench
