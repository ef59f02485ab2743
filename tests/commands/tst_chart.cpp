// quelm-chart run as a program: its SVG read back element by element, the candles, their place
// against the axes, the labels, the failures, and (on Linux) the picture a real renderer makes.

#include "commandtest.h"
#include "namedpipe.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <regex>

using namespace testsupport;

namespace {

const std::string charter = QUELM_CHART;

// One element of the chart: its name, attributes, the text after its start tag, and the id of
// the group it is in.
struct Element
{
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;
    std::string group;

    double number(const std::string &attribute) const
    {
        return std::stod(attributes.at(attribute));
    }
};

// The chart's elements in document order. The command writes every attribute in double quotes
// and no markup inside text, so a tag-by-tag reading is enough; Linux also has a real XML parser
// read it (wellFormed).
std::vector<Element> elementsOf(const std::string &svg)
{
    static const std::regex tag(R"(<(/?)([\w-]+)([^>]*)>([^<]*))");
    static const std::regex attribute(R"(([\w-]+)="([^"]*)\")");
    std::vector<Element> elements;
    std::vector<std::string> groups{""};
    for (auto at = std::sregex_iterator(svg.begin(), svg.end(), tag); at != std::sregex_iterator();
         ++at) {
        const std::smatch &match = *at;
        if (match[1] == "/") {
            groups.resize(match[2] == "g" ? groups.size() - 1 : groups.size());
            continue;
        }
        Element element{match[2], {}, match[4], groups.back()};
        const std::string attributes = match[3];
        for (auto a = std::sregex_iterator(attributes.begin(), attributes.end(), attribute);
             a != std::sregex_iterator(); ++a) {
            element.attributes[(*a)[1]] = (*a)[2];
        }
        if (element.name == "g") {
            groups.push_back(element.attributes["id"]);
        }
        elements.push_back(element);
    }
    return elements;
}

struct Chart
{
    std::vector<Element> elements;

    // The candles left to right: their paths, each with its <title> as its text.
    std::vector<Element> candles() const
    {
        std::vector<Element> found;
        for (std::size_t i = 0; i + 1 < elements.size(); ++i) {
            if (elements[i].name == "path" && elements[i].group.starts_with("candles-")) {
                found.push_back(elements[i]);
                found.back().text = elements[i + 1].text;
            }
        }
        std::ranges::sort(found, {}, [](const Element &e) { return numbers(e)[0]; });
        return found;
    }
    std::vector<std::string> labels(const std::string &group) const
    {
        std::vector<std::string> found;
        for (const Element &element : elements) {
            found.insert(found.end(), element.group == group ? 1 : 0, element.text);
        }
        return found;
    }
    double priceY(const std::string &label) const
    {
        for (const Element &element : elements) {
            if (element.group == "price-labels" && element.text == label) {
                return element.number("y");
            }
        }
        throw std::runtime_error("no price label " + label);
    }
    // The numbers of a path's d, in order.
    static std::vector<double> numbers(const Element &path)
    {
        static const std::regex number(R"(-?[\d.]+)");
        const std::string &d = path.attributes.at("d");
        std::vector<double> found;
        for (auto n = std::sregex_iterator(d.begin(), d.end(), number); n != std::sregex_iterator();
             ++n) {
            found.push_back(std::stod(n->str()));
        }
        return found;
    }
};

// Charts `bars` with `options`; the SVG goes into `svg`.
Chart chartOf(const TempFolder &scratch, const std::vector<quelm::Bar> &bars,
              const std::vector<std::string> &options = {})
{
    const auto file = makeDataFile(scratch.path(), static_cast<std::int32_t>(bars.size()), bars);
    std::vector<std::string> command = {charter, file.string(), "-o",
                                        (scratch.path() / "chart.svg").string()};
    command.insert(command.end(), options.begin(), options.end());
    const Result result = run(command);
    EXPECT_EQ(result.status, 0) << result.err;
    return {elementsOf(contents(scratch.path() / "chart.svg"))};
}

#ifndef _WIN32
bool wellFormed(const std::filesystem::path &svg)
{
    return run({PYTHON3, "-c", "import sys,xml.etree.ElementTree as E;E.parse(sys.argv[1])",
                svg.string()})
               .status == 0;
}
#endif

constexpr std::int64_t monday = 1'796'623'260'000; // 2026-12-07T06:01Z
constexpr std::int64_t minute = 60'000;
constexpr std::int64_t day = 1440 * minute;

// Bar i: open 10 + i, close 10.5 + i, volume i + 1; even bars reach 5 higher, odd ones 5 lower,
// so that a candle's values tell which bars it merged.
std::vector<quelm::Bar> countingBars(std::size_t count)
{
    std::vector<quelm::Bar> bars;
    for (std::size_t i = 0; i < count; ++i) {
        const double n = static_cast<double>(i);
        bars.push_back({monday + static_cast<std::int64_t>(i) * minute, 10 + n,
                        12 + n + (i % 2 == 0 ? 5 : 0), 9 + n - (i % 2 == 1 ? 5 : 0), 10.5 + n,
                        n + 1});
    }
    return bars;
}

struct Merge
{
    const char *name;
    std::size_t bars;
    std::size_t candles;
    std::size_t candle; // the one whose title is checked
    std::string title;
};

class MergesPerColumn : public testing::TestWithParam<Merge>
{
};

struct Ticks
{
    const char *name;
    std::int64_t step;
    std::size_t count;
    bool gaps; // each fourth step a gap of ten, which the axis skips
    std::vector<std::string> options;
    std::vector<std::string> labels;
    std::int64_t start = monday;
};

class LabelsTheTimes : public testing::TestWithParam<Ticks>
{
};

struct Outcome
{
    const char *name;
    std::vector<std::string> arguments; // FILE stands for a file of 3 bars, EMPTY one of none
    int status;
    std::string text; // in the chart when the status is 0, in the error output otherwise
};

class EndsAsItShould : public testing::TestWithParam<Outcome>
{
};

} // namespace

// A 200 pixel chart has 120 pixel columns.
TEST_P(MergesPerColumn, KeepsOpenFirstCloseLastHighestLowestAndTheVolumeSum)
{
    TempFolder scratch;
    const Chart chart = chartOf(scratch, countingBars(GetParam().bars), {"--width", "200"});
    const auto candles = chart.candles();
    ASSERT_EQ(candles.size(), GetParam().candles);
    EXPECT_NE(candles[GetParam().candle].text.find(GetParam().title), std::string::npos)
        << candles[GetParam().candle].text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MergesPerColumn,
    testing::Values(Merge{"OneABar", 3, 3, 1,
                          "bar 1: open 11, high 13, low 5, close 11.5, volume 2"},
                    Merge{"TwoAColumn", 240, 120, 1,
                          "bars 2 to 3 (2 bars): open 12, high 19, low 7, close 13.5, volume 7"},
                    Merge{"OneColumnTakesTheExtraBar", 121, 120, 0,
                          "bars 0 to 1 (2 bars): open 10, high 17, low 5, close 11.5, volume 3"},
                    Merge{"AndTheNextOneItsOwn", 121, 120, 1, "bar 2: open 12, high 19, low 11"}),
    RowName());

// Prices from 10 to 20: the highest high on the "20" tick, the lowest low on the "10" tick,
// and higher prices nearer the top.
TEST(Chart, PutsTheHighAndLowOnTheirTicks)
{
    TempFolder scratch;
    const Chart chart = chartOf(scratch, {{monday, 12, 20, 10, 18, 5},
                                          {monday + minute, 18, 19, 13, 14, 7},
                                          {monday + 2 * minute, 14, 16, 11, 15, 1}});
#ifndef _WIN32
    EXPECT_TRUE(wellFormed(scratch.path() / "chart.svg"));
#endif
    EXPECT_EQ(chart.labels("price-labels"),
              (std::vector<std::string>{"10", "12", "14", "16", "18", "20"}));
    EXPECT_LT(chart.priceY("20"), chart.priceY("10"));
    const std::vector<double> rising = Chart::numbers(chart.candles()[0]);
    EXPECT_EQ(rising[1], chart.priceY("20")); // the wick's top
    EXPECT_EQ(rising[5], chart.priceY("10")); // its bottom
    EXPECT_EQ(chart.candles()[0].group, "candles-rising");
    EXPECT_EQ(chart.candles()[1].group, "candles-falling");
}

TEST_P(LabelsTheTimes, OnNaturalBoundariesWithTrueTimes)
{
    TempFolder scratch;
    std::vector<quelm::Bar> bars;
    for (std::size_t i = 0; i < GetParam().count; ++i) {
        const auto steps = static_cast<std::int64_t>(i + (GetParam().gaps ? i / 4 * 9 : 0));
        bars.push_back({GetParam().start + steps * GetParam().step, 1, 2, 0.5, 1.5, 1});
    }
    EXPECT_EQ(chartOf(scratch, bars, GetParam().options).labels("time-labels"), GetParam().labels);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LabelsTheTimes,
    testing::Values(
        Ticks{"Minutes", minute, 4, false, {}, {"06:01", "2026-12-07", "06:02", "06:03", "06:04"}},
        Ticks{"MinutesWithAGap", minute, 5, true, {}, {"06:01", "2026-12-07", "06:14"}},
        Ticks{"InAnOffset", minute, 2, false, {"--tz", "-05:30"}, {"00:31", "2026-12-07", "00:32"}},
        Ticks{"Mondays",
              day,
              40,
              false,
              {},
              {"2026-12-07", "2026-12-14", "2026-12-21", "2026-12-28", "2027-01-04", "2027-01-11"}},
        Ticks{"Years", 365 * day, 30, false, {}, {"2026", "2030", "2035", "2040", "2045", "2050"}}),
    RowName());

#ifndef _WIN32
constexpr std::int64_t july = 1'783'317'660'000; // 2026-07-06T06:01Z, a Monday

// Named zones come from the system's zone database, which the Windows build has not; summer
// times take daylight saving.
INSTANTIATE_TEST_SUITE_P(Zones, LabelsTheTimes,
                         testing::Values(Ticks{"InANamedZone",
                                               minute,
                                               2,
                                               false,
                                               {"--tz", "Asia/Tokyo"},
                                               {"15:01", "2026-12-07", "15:02"}},
                                         Ticks{"InSummer",
                                               minute,
                                               2,
                                               false,
                                               {"--tz", "Europe/Berlin"},
                                               {"08:01", "2026-07-06", "08:02"},
                                               july}),
                         RowName());
const Outcome zoneName{"UnknownZone", {"FILE", "--tz", "Mars/Base"}, 2, "no such zone"};
#else
const Outcome zoneName{"ZoneName", {"FILE", "--tz", "Asia/Tokyo"}, 2, "no zone database"};
#endif

TEST_P(EndsAsItShould, WithItsStatusAndMessage)
{
    TempFolder scratch;
    const auto file = makeDataFile(scratch.path(), 5, countingBars(3)).string();
    const auto empty = makeDataFile(scratch.path(), 5).string();
    const auto out = (scratch.path() / "out.svg").string();
    const NamedPipe pipe(scratch.path());
    const std::map<std::string, std::string> stands = {
        {"FILE", file},
        {"EMPTY", empty},
        {"PIPE", pipe.path().string()},
        {"FILE-AGAIN",
         (std::filesystem::path(file).parent_path() / "." / std::filesystem::path(file).filename())
             .string()},
#ifdef _WIN32
        {"DEVICE", "NUL"}};
#else
        {"DEVICE", "/dev/null"}};
#endif
    std::vector<std::string> command{charter, "-o", out};
    for (const std::string &argument : GetParam().arguments) {
        const auto found = stands.find(argument);
        command.push_back(found != stands.end() ? found->second : argument);
    }
    const Result result = run(command);
    EXPECT_EQ(result.status, GetParam().status) << result.err;
    const std::string text = result.status == 0 ? contents(out) : result.err;
    EXPECT_NE(text.find(GetParam().text), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, EndsAsItShould,
    testing::Values(
        Outcome{"NoBarsYet", {"EMPTY"}, 0, ">No bars yet</text>"},
        Outcome{"Described",
                {"FILE", "--title", "A<B"},
                0,
                "<title>A&lt;B</title>\n<desc>Candlestick chart with volume of 0001.qdf (file 1): "
                "bars 0 to 2 of the 3 stored, 3 bars from 2026-12-07T06:01:00.000Z to "
                "2026-12-07T06:03:00.000Z; lowest low 5, highest high 19."},
        Outcome{"ByTime", {"FILE", "--from", "2026-12-07T06:02Z"}, 0, ": bars 1 to 2 (2 bars)"},
        Outcome{"PastTheBars", {"FILE", "--first", "3"}, 1, "no bar 3; the file holds 3 bars"},
        Outcome{"AfterTheBars",
                {"FILE", "--from", "2026-12-08"},
                1,
                "the file's bars run from 2026-12-07T06:01:00.000Z to 2026-12-07T06:03:00.000Z"},
        Outcome{"NotADataFile", {"."}, 1, "not a regular file: a folder"},
        Outcome{"ADevice", {"DEVICE"}, 1, "not a regular file: a device"},
        Outcome{"ANamedPipe", {"PIPE"}, 1, "not a regular file: a named pipe"},
        Outcome{"OverTheDataFile", {"FILE", "-o", "FILE-AGAIN"}, 2, "would replace the data file"},
        Outcome{"FromInTheZone",
                {"FILE", "--from", "2026-12-07 07:02", "--tz", "+01:00"},
                0,
                ": bars 1 to 2 (2 bars)"},
        Outcome{"ToInTheZone",
                {"FILE", "--tz", "-01:00", "--to", "2026-12-07T05:02"},
                0,
                ": bars 0 to 1 (2 bars)"},
        Outcome{"FromEpochMilliseconds",
                {"FILE", "--from", "1796623320000"},
                0,
                ": bars 1 to 2 (2 bars)"},
        Outcome{"ZonedTimeKeepsItsZone",
                {"FILE", "--tz", "+05:00", "--from", "2026-12-07T06:02Z"},
                0,
                ": bars 1 to 2 (2 bars)"},
        Outcome{"SlashedDateEitherWay",
                {"FILE", "--from", "12/07/2026 06:02"},
                2,
                "--from 12/07/2026 06:02: the date reads as 2026-12-07 (month first) or as "
                "2026-07-12 (day first); write it year first, as 2026-12-07 06:02 or "
                "2026-07-12 06:02"},
        Outcome{"SlashedDateOneWay", {"FILE", "--to", "13/12/2026"}, 0, ": bars 0 to 2 (3 bars)"},
        Outcome{"Unwritable", {"FILE", "-o", "no-such-folder/out.svg"}, 3, "cannot write"},
        zoneName,
        Outcome{"BothRanges", {"FILE", "--first", "1", "--to", "2026-12-08"}, 2, "not both"}),
    RowName());

#ifndef _WIN32
// A device that takes no byte: the failure is told, and the device is left as it is.
INSTANTIATE_TEST_SUITE_P(Devices, EndsAsItShould,
                         testing::Values(Outcome{"DeviceFull",
                                                 {"FILE", "-o", "/dev/full"},
                                                 3,
                                                 "/dev/full: the disk is full"}),
                         RowName());
INSTANTIATE_TEST_SUITE_P(
    Zones, EndsAsItShould,
    testing::Values(Outcome{"FromInANamedZone",
                            {"FILE", "--tz", "America/New_York", "--from", "2026-12-07 01:02"},
                            0,
                            ": bars 1 to 2 (2 bars)"},
                    Outcome{"FromATimeTheClocksSkip",
                            {"FILE", "--tz", "America/New_York", "--from", "2027-03-14 02:30"},
                            2,
                            "the clocks of America/New_York skip that time"}),
    RowName());

// New York's clocks pass 01:30 twice on 2026-11-01, at 05:30Z and at 06:30Z: a range from it
// starts at the first passing, one to it ends at the second.
TEST(Chart, TakesBothPassingsOfAnHourTheClocksRepeat)
{
    TempFolder scratch;
    constexpr std::int64_t fallBack = 1'793'509'200'000; // 2026-11-01T05:00Z, 01:00 EDT
    std::vector<quelm::Bar> bars;
    for (std::int64_t i = 0; i < 5; ++i) {
        bars.push_back({fallBack + i * 30 * minute, 1, 2, 0.5, 1.5, 1});
    }
    const std::string wall = "2026-11-01 01:30";
    const auto titleOf = [&](const char *bound) {
        const Chart chart = chartOf(scratch, bars, {"--tz", "America/New_York", bound, wall});
        return std::ranges::find(chart.elements, "title", &Element::name)->text;
    };
    EXPECT_TRUE(contains(titleOf("--from"), ": bars 1 to 4 (4 bars)")) << titleOf("--from");
    EXPECT_TRUE(contains(titleOf("--to"), ": bars 0 to 3 (4 bars)")) << titleOf("--to");
}
#endif

// A chart written over a longer file leaves nothing of it behind its end.
TEST(Chart, WritesOverALongerFileWhole)
{
    TempFolder scratch;
    const auto out = scratch.path() / "chart.svg";
    write(out, std::string(100'000, 'x'));
    const auto file = makeDataFile(scratch.path(), 5, countingBars(3));
    ASSERT_EQ(run({charter, file.string(), "-o", out.string()}).status, 0);
    const std::string svg = contents(out);
    EXPECT_TRUE(svg.ends_with("</svg>\n")) << svg.size() << " bytes";
    EXPECT_FALSE(contains(svg, "xxx"));
}

TEST(Chart, RefusesADamagedFileAsInspectDoes)
{
    TempFolder scratch;
    const auto file = makeDataFile(scratch.path(), 5, countingBars(3));
    std::string bytes = contents(file);
    bytes[20] ^= 1; // the state, under the checksum
    write(file, bytes);
    const Result chart = run({charter, file.string()});
    const Result inspect = run({QUELM_INSPECT, file.string()});
    EXPECT_EQ(chart.status, 1);
    EXPECT_NE(inspect.out.find(chart.err.substr(std::string("quelm-chart: ").size(), 60)),
              std::string::npos)
        << chart.err << inspect.out;
}

#ifndef _WIN32
// A rising candle's wick is blue and its body hollow, a falling candle's body vermillion, as
// the real renderer draws them.
TEST(Chart, RendersTheColoursWhereTheCandlesAre)
{
    TempFolder scratch;
    const Chart chart =
        chartOf(scratch, {{monday, 12, 20, 10, 18, 5}, {monday + minute, 18, 19, 13, 14, 7}});
    const auto png = scratch.path() / "chart.png";
    ASSERT_EQ(
        run({RSVG_CONVERT, (scratch.path() / "chart.svg").string(), "-o", png.string()}).status, 0);
    const auto colourAt = [&](double x, double y) {
        const std::string at =
            std::to_string(static_cast<int>(x)) + "+" + std::to_string(static_cast<int>(y));
        const std::string text = run({CONVERT, png.string(), "-crop", "1x1+" + at, "txt:-"}).out;
        return text.substr(text.find('#', text.find('\n')), 7); // after the comment line
    };
    const std::vector<double> rising = Chart::numbers(chart.candles()[0]);
    const std::vector<double> falling = Chart::numbers(chart.candles()[1]);
    EXPECT_EQ(colourAt(rising[0], (rising[1] + rising[2]) / 2), "#0072B2");
    EXPECT_EQ(colourAt(rising[0], (rising[2] + rising[4]) / 2), "#FFFFFF");
    EXPECT_EQ(colourAt(falling[0], (falling[2] + falling[4]) / 2), "#D55E00");
}
#endif
