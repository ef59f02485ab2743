// quelm-chart: draws the bars of a data file as a candlestick chart with volume, in SVG.

#include "arguments.h"
#include "bartext.h"
#include "candles.h"
#include "commanderror.h"
#include "entry.h"
#include "openfile.h"
#include "pricescale.h"
#include "svgchart.h"
#include "textescape.h"
#include "timeaxis.h"
#include "timetext.h"

#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/errortext.h>
#include <quelm/filesystemcalls.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <csignal>
#endif

namespace {

using namespace quelm;
using bartext::timeText;
using inspect::lineText;
using inspect::nameText;
using tools::UsageError;
using tools::wholeNumber;

const char *const usage =
    "Usage: quelm-chart [options] FILE\n"
    "\n"
    "Draws the bars of the Quelm data file FILE (.qdf) as a candlestick chart in an SVG\n"
    "file: candles over a volume pane, prices on the right, times along the bottom with no\n"
    "room left for gaps in time. When the bars outnumber the chart's pixel columns, the bars\n"
    "of each column are merged into one candle.\n"
    "\n"
    "  -o, --output OUT  where the chart goes: FILE with .svg in place of .qdf when not\n"
    "                    given, - for standard output\n"
    "  --first N         starts at bar N, counting from 0\n"
    "  --count M         draws at most M bars from the first (all when not given)\n"
    "  --from TIME       draws the bars at or after TIME (ISO-8601, 2026-12-07T06:00Z, or\n"
    "                    epoch milliseconds); a time that names no zone is in the --tz\n"
    "                    zone, and one its clocks pass twice counts from the first passing\n"
    "  --to TIME         draws the bars at or before TIME (to the second passing)\n"
    "  --width PIXELS    the chart's width, 200 to 20000 (1200 when not given)\n"
    "  --height PIXELS   its height, 200 to 20000 (700 when not given)\n"
    "  --title TEXT      its title (the file's name and number, the bars and their count\n"
    "                    when not given)\n"
    "  --tz ZONE         the zone of the times along the bottom: UTC (when not given), an\n"
    "                    offset such as +01:00, or a zone name such as Europe/Berlin\n"
    "  --help            shows this text\n"
    "\n"
    "Exit status: 0 when the chart was written (a file without bars gives a chart saying so),\n"
    "1 when the file is damaged or cannot be read or the range holds none of its bars, 2 when\n"
    "the command line is wrong, 3 when the chart cannot be written.\n";

constexpr int failedStatus = 1;
constexpr int usageStatus = 2;
constexpr int outputFailedStatus = 3;

struct Options
{
    std::filesystem::path file;
    std::optional<std::filesystem::path> output;
    bool toStandardOutput = false;
    std::optional<std::uint64_t> first;
    std::optional<std::uint64_t> count;
    std::optional<std::int64_t> fromMs;
    std::optional<std::int64_t> toMs;
    // --from and --to as given, read once the zone is known.
    std::optional<std::pair<std::string, timetext::Reading>> from;
    std::optional<std::pair<std::string, timetext::Reading>> to;
    int width = 1200;
    int height = 700;
    std::optional<std::string> title;
    Zone zone;
};

// The bars to draw, counting from 0.
struct Range
{
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};

// A time as --from and --to take it: as the import reads a time, or an epoch number whose
// digits tell its unit.
timetext::Reading readBound(const std::string &text)
{
    if (timetext::isEpochNumber(text)) {
        if (const auto unit = timetext::unitOfDigits(text)) {
            timetext::Reading reading;
            reading.shape = timetext::Shape::Epoch;
            reading.ms = timetext::epochMs(text, *unit);
            reading.zoned = true;
            return reading;
        }
    }
    return timetext::readTime(text);
}

// "2026-07-12" and what followed the date in `text`, written year first.
std::string yearFirst(std::string_view text, std::int64_t ms)
{
    const std::size_t dateEnd = std::min(text.find_first_of(" T"), text.size());
    return timeText(ms).substr(0, 10) + std::string(text.substr(dateEnd));
}

// The instant that --from or --to (`name`) stands for: a time that names no zone is read in
// `zone`; where its clocks pass a time twice, --from takes the first passing and --to the
// second, so that the range holds the bars of both. A slashed date that reads either way, and
// a time the clocks skip, are refused with the readings and how to settle them.
std::int64_t boundMs(const std::string &name,
                     const std::pair<std::string, timetext::Reading> &given, const Zone &zone)
{
    const auto &[text, reading] = given;
    const std::string start = name + " " + lineText(text) + ": ";
    if (reading.dayFirstMs) {
        const std::string monthFirst = yearFirst(text, reading.ms);
        const std::string dayFirst = yearFirst(text, *reading.dayFirstMs);
        throw UsageError(start + "the date reads as " + monthFirst.substr(0, 10) +
                         " (month first) or as " + dayFirst.substr(0, 10) +
                         " (day first); write it year first, as " + lineText(monthFirst) + " or " +
                         lineText(dayFirst));
    }
    if (reading.zoned) {
        return reading.ms;
    }
    if (reading.ms <= -Zone::reach || reading.ms >= Zone::reach) {
        throw UsageError(start + "too far from 1970 to be read in a zone; end it with Z or an "
                                 "offset such as +01:00");
    }
    const Zone::Instants instants = zone.toUtc(reading.ms);
    if (instants.count == 0) {
        throw UsageError(start + "the clocks of " + zone.name() +
                         " skip that time; give a time before or after the skip, or end it "
                         "with the offset you mean (Z or +hh:mm)");
    }
    return name == "--from" ? instants.earliest : instants.latest;
}

Options parse(const std::vector<tools::Argument> &arguments)
{
    Options options;
    std::vector<std::filesystem::path> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view name = arguments[i].text;
        if (name == "-" || !name.starts_with("-")) {
            files.push_back(arguments[i].path);
            continue;
        }
        // "--name value" or "--name=value".
        std::optional<tools::Argument> value;
        if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
            const std::string text(name.substr(equals + 1));
            value = tools::Argument{text, std::u8string(text.begin(), text.end())};
            name = name.substr(0, equals);
        }
        constexpr std::string_view known[] = {"-o",   "--output", "--first",  "--count", "--from",
                                              "--to", "--width",  "--height", "--title", "--tz"};
        if (std::find(std::begin(known), std::end(known), name) == std::end(known)) {
            throw UsageError("unknown option " + lineText(name));
        }
        if (!value) {
            if (i + 1 == arguments.size()) {
                throw UsageError(std::string(name) + " needs a value");
            }
            value = arguments[++i];
        }
        const std::string &text = value->text;
        if (name == "-o" || name == "--output") {
            options.toStandardOutput = text == "-";
            options.output = value->path;
        } else if (name == "--first" || name == "--count") {
            const auto number = wholeNumber(text);
            if (!number || (name == "--count" && *number == 0)) {
                throw UsageError(std::string(name) + " takes a whole number " +
                                 (name == "--count" ? "1" : "0") + " or more, not " +
                                 lineText(text));
            }
            (name == "--first" ? options.first : options.count) = number;
        } else if (name == "--from" || name == "--to") {
            try {
                (name == "--from" ? options.from : options.to) = std::pair(text, readBound(text));
            } catch (const tools::InputError &error) {
                throw UsageError(std::string(name) + ": " + lineText(error.what()));
            }
        } else if (name == "--width" || name == "--height") {
            const auto number = wholeNumber(text);
            if (!number || *number < 200 || *number > 20000) {
                throw UsageError(std::string(name) + " takes a number of pixels from 200 to " +
                                 "20000, not " + lineText(text));
            }
            (name == "--width" ? options.width : options.height) = static_cast<int>(*number);
        } else if (name == "--title") {
            options.title = text;
        } else {
            try {
                options.zone = Zone::named(std::string(text));
            } catch (const tools::UsageError &error) {
                throw UsageError(lineText(error.what()));
            }
        }
    }
    if (files.size() != 1) {
        throw UsageError(files.empty() ? "no file given" : "one file at a time");
    }
    options.fromMs =
        options.from ? std::optional(boundMs("--from", *options.from, options.zone)) : std::nullopt;
    options.toMs =
        options.to ? std::optional(boundMs("--to", *options.to, options.zone)) : std::nullopt;
    if ((options.first || options.count) && (options.fromMs || options.toMs)) {
        throw UsageError("choose the bars by --first and --count or by --from and --to, not both");
    }
    if (options.fromMs && options.toMs && *options.fromMs > *options.toMs) {
        throw UsageError("--from comes after --to");
    }
    options.file = files[0];
    return options;
}

// The first bar at or after `ms` (`after`: after it), by halving; the bars are in time order.
std::uint64_t firstBarFrom(const DataFile &file, std::int64_t ms, bool after)
{
    std::uint64_t low = 0;
    std::uint64_t high = file.header().barsWritten;
    while (low < high) {
        const std::uint64_t middle = low + (high - low) / 2;
        const std::int64_t time = file.readBar(middle).timeMs;
        if (time < ms || (after && time == ms)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

// The bars the options choose; throws std::runtime_error when none of the stored ones.
Range chosenRange(const DataFile &file, const Options &options)
{
    const std::uint64_t stored = file.header().barsWritten;
    if (options.fromMs || options.toMs) {
        const std::uint64_t from = options.fromMs ? firstBarFrom(file, *options.fromMs, false) : 0;
        const std::uint64_t to = options.toMs ? firstBarFrom(file, *options.toMs, true) : stored;
        if (from >= to) {
            throw std::runtime_error(
                "no bar from " + (options.fromMs ? timeText(*options.fromMs) : "the start") +
                " to " + (options.toMs ? timeText(*options.toMs) : "the end") +
                "; the file's bars run from " + timeText(file.readBar(0).timeMs) + " to " +
                timeText(file.readBar(stored - 1).timeMs));
        }
        return {from, to - from};
    }
    const std::uint64_t first = options.first.value_or(0);
    if (first >= stored) {
        throw std::runtime_error("no bar " + std::to_string(first) + "; the file holds " +
                                 std::to_string(stored) + " bars, 0 to " +
                                 std::to_string(stored - 1));
    }
    return {first, std::min(options.count.value_or(stored), stored - first)};
}

chart::ChartText texts(const DataFile &file, const Options &options, const Range &range,
                       const std::vector<chart::Candle> &candles)
{
    const std::string name = lineText(nameText(options.file.filename()));
    const std::string number = std::to_string(file.header().fileNumber);
    chart::ChartText text;
    if (range.count == 0) {
        text.title = name + ", file " + number + ": no bars yet";
        text.description = "Chart of " + name + " (file " + number + "), which holds no bars yet.";
        text.note = "No bars yet";
    } else {
        const std::string last = std::to_string(range.first + range.count - 1);
        text.title = name + ", file " + number + ": bars " + std::to_string(range.first) + " to " +
                     last + " (" + std::to_string(range.count) + " bars)";
        std::optional<std::pair<double, double>> lowHigh;
        for (const chart::Candle &candle : candles) {
            if (candle.drawn) {
                lowHigh = lowHigh ? std::pair(std::min(lowHigh->first, candle.low),
                                              std::max(lowHigh->second, candle.high))
                                  : std::pair(candle.low, candle.high);
            }
        }
        const std::string extremes = lowHigh ? "lowest low " + bartext::numberText(lowHigh->first) +
                                                   ", highest high " +
                                                   bartext::numberText(lowHigh->second)
                                             : "no bar with finite prices";
        text.description =
            "Candlestick chart with volume of " + name + " (file " + number + "): bars " +
            std::to_string(range.first) + " to " + last + " of the " +
            std::to_string(file.header().barsWritten) + " stored, " + std::to_string(range.count) +
            " bars from " + timeText(candles.front().firstTimeMs) + " to " +
            timeText(candles.back().lastTimeMs) + "; " + extremes + ". " +
            (candles.size() < range.count ? "Each candle merges the bars of one pixel column. "
                                          : "") +
            "Times along the bottom are in " + options.zone.name() + ".";
        text.note = "No bar with finite prices";
    }
    if (options.title) {
        text.title = lineText(*options.title);
    }
    return text;
}

// Writes the chart; returns the system's error, 0 when all of it was written.
int writeChart(const std::string &svg, const std::filesystem::path &output, bool toStandardOutput)
{
    FileSystemCalls &calls = systemFileCalls();
    if (toStandardOutput) {
        return calls.writeAll(calls.standardHandle(FileSystemCalls::StandardStream::Output),
                              svg.data(), svg.size());
    }
    bool created = false;
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    if (const int error = calls.openForWriting(output, created, handle)) {
        return error;
    }
    FileHandle file(calls, handle);
    int error = calls.writeAll(handle, svg.data(), svg.size());
    if (const int closed = file.close(); error == 0) {
        error = closed;
    }
    // Only a file this run made is removed again when writing fails, never a device or a file
    // that was there before.
    if (error != 0 && created) {
        FileSystemCalls::Handle folder = FileSystemCalls::invalidHandle;
        if (calls.openDirectory(output.parent_path().empty() ? "." : output.parent_path(),
                                folder) == 0) {
            calls.removeFile(folder, output.filename());
            calls.close(folder);
        }
    }
    return error;
}

int chartFile(const std::vector<tools::Argument> &arguments)
{
    for (const tools::Argument &argument : arguments) {
        if (argument.text == "--help" || argument.text == "-h") {
            std::cout << usage;
            return 0;
        }
    }
    Options options;
    try {
        options = parse(arguments);
    } catch (const UsageError &error) {
        std::cerr << "quelm-chart: " << error.what() << "\n\n" << usage;
        return usageStatus;
    }
    const std::filesystem::path output =
        options.output.value_or(std::filesystem::path(options.file).replace_extension(".svg"));
    // When the system cannot tell, opening the data file and writing the chart say why.
    bool same = false;
    if (!options.toStandardOutput && systemFileCalls().sameFile(options.file, output, same) == 0 &&
        same) {
        std::cerr << "quelm-chart: the chart would replace the data file " +
                         lineText(nameText(options.file)) + "; give another with -o\n";
        return usageStatus;
    }

    std::string svg;
    try {
        // Opened as quelm-inspect opens it: never waiting, and only a regular file.
        const std::string cannotOpen = "Cannot open data file " + nameText(options.file) + ": ";
        const inspect::OpenedFile opened = inspect::openForReading(options.file);
        if (!opened.notRegular.empty()) {
            throw DataFileError(cannotOpen + "not a regular file: " + opened.notRegular + ".");
        }
        if (opened.error != 0) {
            throw DataFileError(cannotOpen + reasonText(opened.error) + ".", opened.error);
        }
        inspect::HandedOverFile calls(opened.handle);
        const DataFile file = DataFile::open(options.file, DataFile::Mode::ReadOnly, calls);
        const Range range = file.header().barsWritten == 0 ? Range{} : chosenRange(file, options);
        const std::vector<chart::Candle> candles =
            chart::mergeBars(file, range.first, range.count, chart::plotColumns(options.width));
        svg = chart::svgChart(candles, options.zone, options.width, options.height,
                              texts(file, options, range, candles));
    } catch (const std::exception &error) {
        std::cerr << "quelm-chart: " << lineText(error.what()) << "\n";
        return failedStatus;
    }

    if (const int error = writeChart(svg, output, options.toStandardOutput)) {
        if (error != EPIPE) {
            std::cerr << "quelm-chart: cannot write "
                      << (options.toStandardOutput ? std::string("the standard output")
                                                   : lineText(nameText(output)))
                      << ": " << reasonText(error) << "\n";
        }
        return outputFailedStatus;
    }
    return 0;
}

} // namespace

int quelm::tools::run(std::vector<Argument> arguments)
{
#ifndef _WIN32
    // A reader of the standard output that goes early makes a write fail; it does not end us.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    return chartFile(arguments);
}
