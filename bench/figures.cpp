#include "figures.h"

#include "goals.h"
#include "tempfolder.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>

namespace quelm::bench {
namespace {

std::string duration(double ns)
{
    if (ns < 1e3) {
        return format("%.0f ns", ns);
    }
    if (ns < 1e6) {
        return format("%.1f us", ns / 1e3);
    }
    if (ns < 1e9) {
        return format("%.2f ms", ns / 1e6);
    }
    return format("%.2f s", ns / 1e9);
}

std::string barsName(std::int64_t bars)
{
    switch (bars) {
    case 10'000:
        return "10^4";
    case 1'000'000:
        return "10^6";
    case 10'000'000:
        return "10^7";
    default:
        return std::to_string(bars);
    }
}

// Writes the lines of each figure from the results of one run.
class Printer
{
public:
    Printer(const FigureReporter &results, GoalTally &tally, std::ostream &out)
        : m_results(results), m_tally(tally), m_out(out)
    {
    }

    void creation(const Place &place)
    {
        m_out << "  " << place.name << " (" << testsupport::fileSystemName(place.folder) << ", "
              << place.folder.string() << "):";
        for (const std::int64_t bars : barCounts) {
            if (const auto time = m_results.medianNs(name("creation", place, bars))) {
                m_out << "  n=" << barsName(bars) << " " << duration(*time);
            }
        }
        m_out << "\n";
        const auto few = m_results.medianNs(name("creation", place, 10));
        const auto many = m_results.medianNs(name("creation", place, 10'000'000));
        if (!few || !many) {
            return;
        }
        const double ratio = *many / *few;
        m_out << "    n=10^7 / n=10 = " << format("%.2f", ratio);
        if (testsupport::fileSystemName(place.folder) == "tmpfs") {
            // tmpfs has no blocks to reserve: it allocates and clears a page of memory for every
            // 4 KiB, so reserving space is writing it.
            m_out << "  (" << goalText(goal(GoalId::creationBySize))
                  << ": does not apply, tmpfs reserves space by writing it)\n";
        } else {
            m_out << "  " << check(GoalId::creationBySize, ratio) << "\n";
        }
    }

    void floors(const Place &place)
    {
        m_out << "  " << place.name << " (" << testsupport::fileSystemName(place.folder) << "):\n";
        for (const std::int64_t bars : barCounts) {
            const std::string creation = name("creation", place, bars);
            const auto ours = m_results.medianNs(creation);
            const auto durable = counterNs(creation, "durable_us");
            const auto marked = counterNs(creation, "marked_us");
            const auto bare = counterNs(creation, "bare_us");
            const auto toDurable = m_results.medianRatio(creation, "durable_us");
            const auto toMarked = m_results.medianRatio(creation, "marked_us");
            const auto toBare = m_results.medianRatio(creation, "bare_us");
            const auto next = counterNs(creation, "next_file_us");
            if (!ours || !durable || !marked || !bare || !toDurable || !toMarked || !toBare) {
                continue;
            }
            m_out << "    n=" << barsName(bars) << ": ours " << duration(*ours) << ", durable "
                  << duration(*durable) << ", durable + close marked " << duration(*marked)
                  << ", bare " << duration(*bare)
                  << "\n      ours / durable = " << format("%.2f", *toDurable) << " "
                  << check(GoalId::againstDurableFloor, *toDurable)
                  << ", ours / durable + close marked = " << format("%.2f", *toMarked)
                  << ", ours / bare = " << format("%.2f", *toBare) << "\n";
            if (next) {
                m_out << "      a later file of the run: ours " << duration(*next)
                      << ", ours / durable = " << format("%.2f", *next / *durable) << "\n";
            }
        }
    }

    void windowStart()
    {
        for (const auto &[figure, what] :
             {std::pair<std::string, std::string>{"window_start", "again in the same process"},
              std::pair<std::string, std::string>{"first_window", "first window of a process"}}) {
            const std::string run = figure + "/frmQuelm";
            const auto ours = m_results.medianNs(run);
            const auto plain = counterNs(run, "plain_us");
            const auto ratio = m_results.medianRatio(run, "plain_us");
            if (!ours || !plain || !ratio) {
                continue;
            }
            m_out << "  " << what << ": frmQuelm " << duration(*ours) << ", plain window "
                  << duration(*plain) << "; frmQuelm / plain = " << format("%.2f", *ratio) << " "
                  << check(GoalId::windowStart, *ratio) << "\n";
        }
    }

    void wholeRun(const Place &place)
    {
        const std::string run = "whole_run/" + place.name;
        const auto time = m_results.medianNs(run);
        if (!time) {
            return;
        }
        const double perBuild = *time / buildsPerRun;
        m_out << "  " << buildsPerRun << " builds and the release on " << place.name << ": "
              << duration(*time) << ", " << duration(perBuild) << " a build";
        m_out << "\n";
        const auto firstFiles = counterNs(run, "first_files_us");
        const auto toFirstFiles = m_results.medianRatio(run, "first_files_us");
        if (firstFiles && toFirstFiles) {
            m_out << "  figure 1 (n=10) measured alongside: "
                  << duration(*firstFiles / buildsPerRun)
                  << " a file; a build / figure 1 = " << format("%.2f", *toFirstFiles) << " "
                  << check(GoalId::buildAgainstFirstFile, *toFirstFiles) << "\n";
        }
        const auto storeOnly = counterNs(run, "store_us");
        const auto plainWindow = counterNs(run, "store_plain_window_us");
        const auto toStore = m_results.medianRatio(run, "store_us");
        const auto toPlainWindow = m_results.medianRatio(run, "store_plain_window_us");
        if (storeOnly && plainWindow && toStore && toPlainWindow) {
            m_out << "  the same files through the store alone: " << duration(*storeOnly)
                  << ", with a plain window repainting its label after each: "
                  << duration(*plainWindow)
                  << "\n  whole run / store alone = " << format("%.2f", *toStore)
                  << ", whole run / store with plain window = " << format("%.2f", *toPlainWindow)
                  << "\n";
        }
        const auto first = m_results.counter(run, "first_run_growth_KiB");
        const auto worst = m_results.counter(run, "worst_run_growth_KiB");
        if (first && worst) {
            m_out << "  peak resident memory rose during a run by " << format("%.0f KiB", *first)
                  << " in the process's first run, by at most " << format("%.0f KiB", *worst)
                  << " in later ones " << check(GoalId::runMemoryGrowth, std::max(*first, *worst))
                  << "\n";
        }
        if (const auto leak = m_results.counter(run, "leak_B_per_build")) {
            m_out << "  resident memory from the second run to the last changed by "
                  << format("%.1f bytes a build", *leak) << "\n";
        }
    }

    void conversions()
    {
        for (const char *text : {"10", " 25 ", "2.5", "1e3"}) {
            const std::string quoted = std::string("\"") + text + '"';
            if (const auto time = m_results.medianNs("conversion/" + quoted)) {
                m_out << "  " << quoted << ": " << duration(*time) << " "
                      << check(GoalId::conversionTime, *time / 1e3) << "\n";
            }
        }
    }

private:
    std::string check(GoalId id, double value) { return m_tally.check(id, value); }

    std::optional<double> counterNs(const std::string &run, const std::string &counter) const
    {
        const auto us = m_results.counter(run, counter);
        return us ? std::optional<double>(*us * 1e3) : std::nullopt;
    }

    static std::string name(const std::string &figure, const Place &place, std::int64_t bars)
    {
        return figure + '/' + place.name + '/' + std::to_string(bars);
    }

    const FigureReporter &m_results;
    GoalTally &m_tally;
    std::ostream &m_out;
};

} // namespace

void printFigures(const FigureReporter &results, const std::vector<Place> &places, GoalTally &tally,
                  std::ostream &out)
{
    Printer printer(results, tally, out);
    out << "\nFigure 1: create and close one file of n bars, new data folder each time\n";
    for (const Place &place : places) {
        printer.creation(place);
    }
    out << "Figure 2: our create + close against the system's floor\n";
    for (const Place &place : places) {
        printer.floors(place);
    }
    out << "Figure 3: window start, from construction until exposed\n";
    printer.windowStart();
    out << "Figure 4: a whole run without a person\n";
    for (const Place &place : places) {
        if (place.name == "tmpfs") {
            printer.wholeRun(place);
        }
    }
    out << "Figure 5: text to 32-bit integer, one call\n";
    printer.conversions();
}

} // namespace quelm::bench
