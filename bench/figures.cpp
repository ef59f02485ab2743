#include "figures.h"

#include "scratchfolder.h"

#include <cstdio>
#include <optional>
#include <string>

namespace quelm::bench {
namespace {

std::string format(const char *pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

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

std::string verdict(bool holds)
{
    return holds ? "holds" : "MISSED";
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

class Printer
{
public:
    Printer(const FigureReporter &results, std::ostream &out) : m_results(results), m_out(out) {}

    void creation(const Place &place)
    {
        m_out << "  " << place.name << " (" << fileSystemName(place.folder) << ", "
              << place.folder.string() << "):";
        for (const std::int64_t bars : barCounts) {
            if (const auto time = m_results.medianNs(name("creation", place, bars))) {
                m_out << "  n=" << barsName(bars) << " " << duration(*time);
            }
        }
        m_out << "\n";
        const auto few = m_results.medianNs(name("creation", place, 10));
        const auto many = m_results.medianNs(name("creation", place, 10'000'000));
        if (few && many) {
            const double ratio = *many / *few;
            m_out << "    n=10^7 / n=10 = " << format("%.2f", ratio)
                  << "  (goal <= 2 where the file system reserves space without writing it: "
                  << verdict(ratio <= 2.0) << ")\n";
        }
    }

    void floors(const Place &place)
    {
        m_out << "  " << place.name << " (" << fileSystemName(place.folder) << "):\n";
        for (const std::int64_t bars : barCounts) {
            const auto ours = m_results.medianNs(name("creation", place, bars));
            const auto durable = m_results.medianNs(name("floor_durable", place, bars));
            const auto marked = m_results.medianNs(name("floor_marked", place, bars));
            const auto bare = m_results.medianNs(name("floor_bare", place, bars));
            if (!ours || !durable || !marked || !bare) {
                continue;
            }
            m_out << "    n=" << barsName(bars) << ": ours " << duration(*ours) << ", durable "
                  << duration(*durable) << ", durable + close marked " << duration(*marked)
                  << ", bare " << duration(*bare)
                  << "\n      ours / durable = " << format("%.2f", *ours / *durable)
                  << " (goal <= 1.2: " << verdict(*ours <= 1.2 * *durable)
                  << "), ours / durable + close marked = " << format("%.2f", *ours / *marked)
                  << ", ours / bare = " << format("%.2f", *ours / *bare) << "\n";
        }
    }

    void windowStart()
    {
        for (const auto &[figure, what] :
             {std::pair<std::string, std::string>{"window_start", "again in the same process"},
              std::pair<std::string, std::string>{"first_window", "first window of a process"}}) {
            const auto ours = m_results.medianNs(figure + "/frmQuelm");
            const auto plain = m_results.medianNs(figure + "/plain");
            if (!ours || !plain) {
                continue;
            }
            m_out << "  " << what << ": frmQuelm " << duration(*ours) << ", plain window "
                  << duration(*plain) << "; frmQuelm / plain = " << format("%.2f", *ours / *plain)
                  << " (goal <= 1.15: " << verdict(*ours <= 1.15 * *plain) << ")\n";
        }
    }

    void wholeRun(const Place &place)
    {
        const std::string run = "whole_run/" + place.name;
        const auto time = m_results.medianNs(run);
        const auto single = m_results.medianNs(name("creation", place, 10));
        if (!time) {
            return;
        }
        const double perBuild = *time / buildsPerRun;
        m_out << "  " << buildsPerRun << " builds and the release on " << place.name << ": "
              << duration(*time) << ", " << duration(perBuild) << " a build";
        if (single) {
            m_out << "; a build / figure 1 (" << place.name
                  << ", n=10) = " << format("%.2f", perBuild / *single)
                  << " (goal <= 1.5: " << verdict(perBuild <= 1.5 * *single) << ")";
        }
        m_out << "\n";
        const auto storeOnly = m_results.medianNs("store_run/" + place.name);
        const auto plainWindow = m_results.medianNs("store_plain_window_run/" + place.name);
        if (storeOnly && plainWindow) {
            m_out << "  the same files through the store alone: " << duration(*storeOnly)
                  << ", with a plain window repainting its label after each: "
                  << duration(*plainWindow)
                  << "\n  whole run / store alone = " << format("%.2f", *time / *storeOnly)
                  << ", whole run / store with plain window = "
                  << format("%.2f", *time / *plainWindow) << "\n";
        }
        if (const auto growth = m_results.counter(run, "peak_growth_KiB")) {
            m_out << "  peak resident memory grew by " << format("%.0f KiB", *growth)
                  << " (goal < 1024 KiB: " << verdict(*growth < 1024.0) << ")";
            if (const auto leak = m_results.counter(run, "leak_B_per_build")) {
                m_out << "; resident memory after the first run changed by "
                      << format("%.1f bytes a build", *leak);
            }
            m_out << "\n";
        }
    }

    void conversions()
    {
        for (const char *text : {"10", " 25 ", "2.5", "1e3"}) {
            const std::string quoted = std::string("\"") + text + '"';
            if (const auto time = m_results.medianNs("conversion/" + quoted)) {
                m_out << "  " << quoted << ": " << duration(*time)
                      << " (goal < 1 us: " << verdict(*time < 1000.0) << ")\n";
            }
        }
    }

private:
    static std::string name(const std::string &figure, const Place &place, std::int64_t bars)
    {
        return figure + '/' + place.name + '/' + std::to_string(bars);
    }

    const FigureReporter &m_results;
    std::ostream &m_out;
};

} // namespace

void printFigures(const FigureReporter &results, const std::vector<Place> &places,
                  std::ostream &out)
{
    Printer printer(results, out);
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
