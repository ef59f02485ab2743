#include "goals.h"

#include <cstdio>
#include <stdexcept>

namespace quelm::bench {

const std::array<Goal, 10> goals = {{
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
    {GoalId::singleAppendsFlushed, 6,
     "10^4 appendBar + one flush / 10^4 bare pwrite of a record + one fdatasync", 1.2, true, ""},
    {GoalId::bulkAppendFlushed, 6,
     "appendBars + flush of 10^7 bars / bare pwrite + fdatasync of the same bytes", 1.2, true, ""},
    {GoalId::bulkRead, 6, "readBars of 10^7 bars / bare pread of the same bytes", 1.2, true, ""},
    {GoalId::chartAgainstRead, 7, "a chart of 10^7 bars at 1200 px / readBars of the same bars",
     1.5, true, ""},
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

std::string GoalTally::check(GoalId id, double value)
{
    const Goal &which = goal(id);
    const bool held = holds(which, value);
    auto &[heldCount, checked] = m_tally[id];
    heldCount += held ? 1 : 0;
    ++checked;
    std::string text = "(";
    text += goalText(which);
    text += held ? ": holds)" : ": MISSED)";
    return text;
}

void GoalTally::summary(std::ostream &out) const
{
    for (const Goal &each : goals) {
        out << "  figure " << each.figure << ", " << each.compares << ", " << goalText(each)
            << ": ";
        const auto tally = m_tally.find(each.id);
        if (tally == m_tally.end()) {
            out << "not measured\n";
            continue;
        }
        const auto [held, checked] = tally->second;
        out << (held == checked ? "holds" : "MISSED") << " (" << held << " of " << checked << ")\n";
    }
}

} // namespace quelm::bench
