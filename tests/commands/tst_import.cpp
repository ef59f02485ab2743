// quelm-import run as a program: what it takes, what it refuses, the lock, a kill.

#include "commandtest.h"

#include <quelm/datafile.h>
#include <quelm/datafilestore.h>

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace quelm;
using namespace testsupport;

namespace {

using Import = CommandTest;
using ImportLock = CommandTest;

const std::string importer = QUELM_IMPORT;
// The bar every file of these tests starts with, and two that may follow it.
const Bar stored{1'796'601'600'000, 10, 11, 9, 10.5, 5}; // 2026-12-07T00:00:00Z
const Bar next1{1'796'601'660'000, 1, 2, 0.5, 1.5, 10};  // 00:01
const Bar next2{1'796'601'720'000, 2, 3, 1, 2.5, 0};     // 00:02
const std::string line1 = "2026-12-07T00:01:00Z,1,2,0.5,1.5,10";
const std::string line2 = "2026-12-07T00:02:00.000Z,2,3,1,2.5,0";

struct BadInput
{
    const char *name;
    std::string csv;
    std::string where;
    std::string reason;
    std::vector<std::string> options = {};
};

using RefusesBadInput = CommandTable<BadInput>;

// A shape of input, the bars it adds after `stored`, and what standard error or a dry run's
// standard output notes about it ("" for nothing at all).
struct Shape
{
    const char *name;
    std::string csv;
    std::vector<Bar> bars;
    std::vector<std::string> options = {};
    std::string note = "";
    bool zoneNames = false; // needs the system's zone database
};

using TakesOddShapes = CommandTable<Shape>;

// Lines of whole numbers alone, one a minute after `stored`: they show no decimal mark.
std::string wholeNumberLines(int count)
{
    std::string text = "t;o;h;l;c\n";
    for (int i = 1; i <= count; ++i) {
        text += "2026-12-07T" + std::string(i < 10 ? "00:0" : "00:") + std::to_string(i) +
                "Z;1;2;1;2\n";
    }
    return text;
}

std::string goodLines(std::size_t count)
{
    std::string text;
    for (const Bar &bar : sampleBars(count, next1.timeMs)) {
        text += csvOf({bar}).substr(header.size());
    }
    return text;
}

// Whether the import, started while another writer holds the lock, says that it waits; it may
// take a while to start (slowly under Wine), so this waits for it, up to a deadline.
bool saysItWaits(Child &import)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (contains(import.err(), "waiting for another program to finish writing to")) {
            return true;
        }
        if (!import.running()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

// A bad line anywhere is named with its column, and the file stays as it was, byte for byte.
TEST_P(RefusesBadInput, NamingLineAndColumn)
{
    const auto path = dataFile(5, {stored});
    const std::string before = contents(path);
    std::vector<std::string> arguments = {importer, path.string()};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const Result result = run(arguments, GetParam().csv);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "standard input, " + GetParam().where + ": ")) << result.err;
    // Whatever the input holds, the messages print no raw control bytes (Windows ends their
    // lines in CR LF).
    EXPECT_TRUE(std::all_of(result.err.begin(), result.err.end(), [](char c) {
        return c == '\n' || c == '\r' || static_cast<unsigned char>(c) >= 0x20;
    })) << result.err;
    EXPECT_TRUE(contains(result.err, GetParam().reason)) << result.err;
    EXPECT_TRUE(contains(result.err, "nothing was written to " + path.string())) << result.err;
    EXPECT_EQ(contents(path), before);
}

// Rows that need the system's zone database join the table where there is one.
std::vector<BadInput> withZoneRows(std::vector<BadInput> rows)
{
#ifndef _WIN32
    rows.push_back({"DayTheClocksSkip",
                    "t,o,h,l,c\n2027-03-14 02:30,1,2,0.5,1.5\n",
                    "line 2, column 1 (time)",
                    "2027-03-14T02:30:00.000 does not exist in America/New_York",
                    {"--tz", "America/New_York"}});
#endif
    return rows;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusesBadInput,
    testing::ValuesIn(withZoneRows(
        {BadInput{"NotANumber", header + line1 + "\n2026-12-07T00:02:00Z,abc,3,1,2,0\n",
                  "line 3, column 2 (open)", "\"abc\" is not a number"},
         BadInput{"EmptyField", header + line1 + "\n2026-12-07T00:02:00Z,2,3,,2,0\n",
                  "line 3, column 4 (low)", "empty"},
         BadInput{"Infinite", header + line1 + "\n2026-12-07T00:02:00Z,2,inf,1,2,0\n",
                  "line 3, column 3 (high)", "not a finite number"},
         BadInput{"NotANumberAtAll", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,nan,0\n",
                  "line 3, column 5 (close)", "not a finite number"},
         BadInput{"OutOfRange", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,2,1e400\n",
                  "line 3, column 6 (volume)", "out of the range"},
         BadInput{"HighBelowLow", header + line1 + "\n2026-12-07T00:02:00Z,2,1,3,2,0\n",
                  "line 3, column 3 (high)", "1 is below the low, 3"},
         BadInput{"OpenAboveHigh", header + line1 + "\n2026-12-07T00:02:00Z,4,3,1,2,0\n",
                  "line 3, column 2 (open)", "4 is outside the low and the high, 1 to 3"},
         BadInput{"OpenBelowLow", header + line1 + "\n2026-12-07T00:02:00Z,0.5,3,1,2,0\n",
                  "line 3, column 2 (open)", "outside the low and the high"},
         BadInput{"CloseAboveHigh", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,3.5,0\n",
                  "line 3, column 5 (close)", "outside the low and the high"},
         BadInput{"CloseBelowLow", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,-1,0\n",
                  "line 3, column 5 (close)", "outside the low and the high"},
         BadInput{"NegativeVolume", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,2,-0.5\n",
                  "line 3, column 6 (volume)", "-0.5 is negative"},
         BadInput{"SameTime", header + line1 + "\n2026-12-07T00:01:00Z,2,3,1,2,0\n",
                  "line 3, column 1 (time)",
                  "2026-12-07T00:01:00.000Z is not after the time of the bar before it, "
                  "2026-12-07T00:01:00.000Z (line 2)"},
         BadInput{"EarlierTime",
                  header + line1 + "\n" + line2 + "\n2026-12-07T00:01:30Z,2,3,1,2,0\n",
                  "line 4, column 1 (time)", "is not after the time of the bar before it"},
         BadInput{"LaterInNewestFirst",
                  header + line2 + "\n" + line1 + "\n2026-12-07T00:03Z,2,3,1,2,0\n",
                  "line 4, column 1 (time)", "is not before the time of the bar before it"},
         BadInput{"NotAfterTheFilesLastBar", header + "2026-12-07T00:00:00Z,2,3,1,2,0\n",
                  "line 2, column 1 (time)", "(the file's last bar)"},
         BadInput{"NotATime", header + line1 + "\nnoon,2,3,1,2,0\n", "line 3, column 1 (time)",
                  "\"noon\" is not a time"},
         BadInput{"NotADay", header + line1 + "\n2027-02-29,2,3,1,2,0\n", "line 3, column 1 (time)",
                  "is not a date of the calendar"},
         BadInput{"TooFewFields", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1\n",
                  "line 3, column 5 (close)", "missing"},
         BadInput{"TooManyFields", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,2,0,9\n",
                  "line 3, column 7", "this one has more"},
         BadInput{"NoCloseColumn", "time,open,high,low,volume\n" + line1 + "\n", "line 1",
                  "no column holds the close"},
         BadInput{"TwoCloseColumns", "time,open,high,low,close,c,volume\n", "line 1",
                  "columns 5 (close) and 6 (c) both hold the close; --map close=NAME"},
         BadInput{"PriceAndLastWithoutClose", "time,open,high,low,price,last\n", "line 1",
                  "columns 5 (price) and 6 (last) both hold the close"},
         BadInput{"NotText", std::string("PK\x03\x04\x14\0\x06\0", 8), "not text",
                  "its byte 3 is 0x03, a control character; it is a ZIP archive"},
         BadInput{"Utf16WithoutItsMark", std::string("t\0,\0o\0", 6), "not text",
                  "its byte 2 is 0x00, a control character; it looks like UTF-16 text without a "
                  "byte order mark"},
         BadInput{"Utf16CutInsideACharacter", utf16(header + line1 + "\n", true) + "x",
                  "it ends inside a UTF-16 character", "its byte count"},
         BadInput{"ThousandsOrDecimals", "t;o;h;l;c\n2026-12-07 00:01;1,234;1,234;1,234;1,234\n",
                  "line 2, column 2 (o)",
                  "\"1,234\" reads as 1234 (',' grouping thousands) or as 1.234 (',' the decimal "
                  "mark), and no number of the first lines settles which; --decimal . or "
                  "--decimal , settles it"},
         BadInput{"BothDecimalMarks", "t;o;h;l;c\n2026-12-07 00:01;1,5;2.25;1;2\n",
                  "the numbers use both marks as the decimal mark",
                  "'.' in line 2, column 3 (h): \"2.25\", and ',' in line 2, column 2 (o)"},
         BadInput{"ThousandsOrDecimalsAfterTheFirstLines",
                  wholeNumberLines(55) + "2026-12-07T01:00Z;1;1,234;1;1\n",
                  "line 57, column 3 (high)",
                  "\"1,234\" reads two ways, with the mark grouping thousands or as the decimal "
                  "mark, and no number before it settles which; --decimal"},
         BadInput{"ThousandsGroupedTwoWays",
                  "t;o;h;l;c\n2026-12-07 00:01;1;1 234,5;1;1\n2026-12-07 00:02;1;1.234,5;1;1\n",
                  "line 3, column 3 (high)",
                  "\"1.234,5\" groups thousands with \".\", but line 2 groups them with \" \""},
         BadInput{"TextAfterAClosingQuote", header + "2026-12-07T00:01:00Z,1,2,0.5,\"1.5\"7,10\n",
                  "line 2, column 5 (close)",
                  "text follows the closing quote of \"1.5\" before the next delimiter"},
         BadInput{"QuoteThatNeverCloses", header + "2026-12-07T00:01:00Z,1,2,0.5,1.5,\"10\n",
                  "line 2, column 6 (volume)", "its quote never closes"},
         BadInput{"NineDigitDate", "date,time,o,h,l,c\n202612070,00:01,1,2,0.5,1.5\n",
                  "line 2, column 1 (date)", "\"202612070\" is not a time"},
         BadInput{"BadTimeOfDayBesideADate", "date,time,o,h,l,c\n2026-12-08,25:00,1,2,0.5,1.5\n",
                  "line 2, column 2 (time)", "\"25:00\" is not a time of day"},
         BadInput{"NoPriceButAVolume", "Date,Open,High,Low,Close,Volume\n2026-12-08,,,,,500\n",
                  "line 2, column 2 (open)", "empty; a number is needed"},
         BadInput{"NoPriceAndNoTime",
                  "Date,Open,High,Low,Close\n2026-12-08,1,2,0.5,1.5\n"
                  "Total,,,,\n",
                  "line 3, column 1 (time)", "\"Total\" is not a time"},
         BadInput{"WideWithoutHeader", line1 + ",7\n", "line 1",
                  "it holds 7 fields and there is no header line to name them: " + line1 +
                      ",7; --columns says"},
         BadInput{"AmbiguousSlashes", "date,o,h,l,c\n12/08/2026,1,2,0.5,1.5\n",
                  "line 2, column 1 (time)",
                  "\"12/08/2026\" reads as 2026-12-08 (mm/dd/yyyy) or as 2026-08-12 "
                  "(dd/mm/yyyy), and no date of the column settles which; --time-format"},
         BadInput{"SlashesBothWays",
                  "date,o,h,l,c\n12/13/2026,1,2,0.5,1.5\n14/12/2026,1,2,0.5,1.5\n",
                  "line 3, column 1 (time)", "reads only day first (dd/mm/yyyy), but line 2"},
         BadInput{"MixedEpochUnits", "t,o,h,l,c\n1796601660,1,2,0.5,1.5\n1796601720000,2,3,1,2.5\n",
                  "line 3, column 1 (time)",
                  "\"1796601720000\" has 13 digits, epoch milliseconds, but line 2 has epoch "
                  "seconds; a column holds one unit; --epoch-unit"},
         BadInput{"EpochOfNoUnit", "t,o,h,l,c\n179660166,1,2,0.5,1.5\n", "line 2, column 1 (time)",
                  "an epoch number of 9 digits"},
         BadInput{"EpochFarAhead", "t,o,h,l,c\n9796601660,1,2,0.5,1.5\n", "line 2, column 1 (time)",
                  "read as epoch seconds (10 digits) is 2280-"},
         BadInput{"PointInDecimalCommas",
                  "t;o;h;l;c\n2026-12-07 00:01;1;2;0,5;1.5\n",
                  "line 2, column 5 (close)",
                  "has a decimal point, but the decimal mark is ',' (given)",
                  {"--decimal", ","}},
         BadInput{"LastOfManyWithoutLineEnd", header + goodLines(1000) + "2030-01-01,2,1,3,2,0",
                  "line 1002, column 3 (high)", "is below the low"},
         BadInput{"BadLineFarIntoALargeInput",
                  header + goodLines(25000) + "2027-01-01T00:00Z,2,1,3,2,0\n\n" +
                      "2027-01-02T00:00Z,1,2,0.5,1.5,10\n",
                  "line 25002, column 3 (high)", "1 is below the low, 3"},
         BadInput{"MoreThanTheRoom", header + goodLines(5), "line 6",
                  "the file has room for 4 more bars, and this is one more"}})),
    RowName());

TEST_F(Import, CountsBadLinesBeyondThoseItNames)
{
    const auto path = dataFile(5, {stored});
    std::string csv = header;
    for (int i = 0; i < 25; ++i) {
        csv += "2030-01-01,x,1,1,1,1\n";
    }
    const Result result = run({importer, path.string()}, csv);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "line 21, column 2")) << result.err;
    EXPECT_FALSE(contains(result.err, "line 22,")) << result.err;
    EXPECT_TRUE(contains(result.err, "and 5 more bad lines")) << result.err;
    EXPECT_TRUE(contains(result.err, "(25 bad lines)")) << result.err;
}

TEST_P(TakesOddShapes, AddingTheirBars)
{
    const auto path = dataFile(10, {stored});
    std::vector<std::string> arguments = {importer, path.string()};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const Result result = run(arguments, GetParam().csv);
#ifdef _WIN32
    if (GetParam().zoneNames) {
        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(contains(result.err, "this system has no zone database")) << result.err;
        return;
    }
#endif
    EXPECT_EQ(result.status, 0) << result.err;
    if (GetParam().note.empty()) {
        EXPECT_EQ(result.err, "");
    }
    EXPECT_TRUE(contains(result.out + result.err, GetParam().note)) << result.out << result.err;
    std::vector<Bar> expected = {stored};
    expected.insert(expected.end(), GetParam().bars.begin(), GetParam().bars.end());
    EXPECT_EQ(storedBars(path), expected);
    EXPECT_TRUE(DataFile::open(path).header().closedCleanly);
}

const std::string bom = "\xEF\xBB\xBF";

const std::vector<Bar> both = {next1, next2};
const Bar nextDay{1'796'688'000'000, 1, 2, 0.5, 1.5, 10};   // 2026-12-08
const Bar sixDaysOn{1'797'120'000'000, 1, 2, 0.5, 1.5, 10}; // 2026-12-13
const std::string adjusted =
    "2026-12-07 00:01,1,2,0.5,1.5,1.4,10\n2026-12-07 00:02,2,3,1,2.5,2.4,0\n";
const Bar day8{1'796'688'000'000, 1, 2, 0.5, 1.5, 10};
const Bar day13{1'797'120'000'000, 1, 2, 0.5, 1.5, 10};
const std::vector<Bar> thousands = {{1'796'688'000'000, 1234.5, 1240, 1230.25, 1238.75, 12345},
                                    {1'796'774'400'000, 1238.75, 1245, 1236, 1244, 9876}};
// 2027-11-07, when New York's clocks go back from 02:00 EDT to 01:00 EST: 04:30Z to 07:00Z.
std::vector<Bar> fallBack()
{
    std::vector<Bar> bars;
    for (std::int64_t i = 0; i < 6; ++i) {
        bars.push_back({1'825'561'800'000 + i * 1'800'000, 1, 2, 0.5, 1.5, 0});
    }
    return bars;
}
const std::string fallBackLines = "2027-11-07 00:30,1,2,0.5,1.5\n2027-11-07 01:00,1,2,0.5,1.5\n"
                                  "2027-11-07 01:30,1,2,0.5,1.5\n2027-11-07 01:00,1,2,0.5,1.5\n"
                                  "2027-11-07 01:30,1,2,0.5,1.5\n2027-11-07 02:00,1,2,0.5,1.5\n";
std::string reversedLines(const std::string &text)
{
    std::vector<std::string> all = lines(text);
    std::string reversed;
    for (auto line = all.rbegin(); line != all.rend(); ++line) {
        reversed += *line + "\n";
    }
    return reversed;
}
const std::string klines = "1796601660000,1,2,0.5,1.5,10,1796601719999,15,3,5,7,0\n"
                           "1796601720000,2,3,1,2.5,0,1796601779999,0,0,0,0,0\n";

INSTANTIATE_TEST_SUITE_P(
    Table, TakesOddShapes,
    testing::Values(
        Shape{"Empty", "", {}}, Shape{"HeaderOnly", header, {}},
        Shape{"HeaderOnlyWithoutLineEnd", "time,open,high,low,close,volume", {}},
        Shape{"OnlyALineEnd", "\n", {}},
        Shape{"CrLf", "time,open,high,low,close,volume\r\n" + line1 + "\r\n" + line2 + "\r\n",
              both},
        Shape{"ByteOrderMark", bom + header + line1 + "\n" + line2 + "\n", both},
        Shape{"ByteOrderMarkWithoutHeader", bom + line1 + "\n", {next1}},
        Shape{"ByteOrderMarkAndCrLf",
              bom + "time,open,high,low,close,volume\r\n" + line1 + "\r\n" + line2, both},
        Shape{"NoFinalLineEnd", header + line1 + "\n" + line2, both},
        Shape{"NoHeader", line1 + "\n" + line2 + "\n", both},
        Shape{"BlankLines", "\n" + line1 + "\n\n \n" + line2 + "\n\n", both},
        Shape{"HeaderInCapitals", "Time,Open,High,Low,Close,Volume\n" + line1, {next1}},
        Shape{"EpochMilliseconds",
              header + "1796601660000,1,2,0.5,1.5,10\n1796601720000,2,3,1,2.5,0\n",
              both,
              {},
              "epoch times read in milliseconds from their digits"},
        Shape{"SpacesAndQuotes",
              header + " \"2026-12-07 00:01:00\" , 1 ,2,0.5,1.5,\"10\"\n",
              {next1},
              {},
              "times that name no zone are taken as UTC (assumed"},
        Shape{"DailyDownload",
              "Date,Open,High,Low,Close,Adj Close,Volume\n" + adjusted,
              both,
              {},
              "columns ignored: 6 (Adj Close)"},
        Shape{"DateOnly",
              "Date,Open,High,Low,Close,Volume\n2026-12-08,1,2,0.5,1.5,10\n",
              {nextDay},
              {},
              "UTC (assumed"},
        Shape{"KlinesInMilliseconds",
              klines,
              both,
              {"--columns", "time,open,high,low,close,volume"},
              "columns ignored: 7, 8, 9, 10, 11, 12"},
        Shape{"DottedDateAndTimeOfDay",
              "2026.12.07,00:01,1,2,0.5,1.5,10\n2026.12.07,00:02,2,3,1,2.5,0\n",
              both,
              {"--columns", "date,time,open,high,low,close,volume"},
              "UTC (assumed"},
        Shape{"EpochSecondsWithFraction",
              "unix,open,high,low,close,volume\n1796601660,1,2,0.5,1.5,10\n"
              "1796601720.000,2,3,1,2.5,0\n",
              both,
              {},
              "epoch times read in seconds"},
        Shape{"EpochNanoseconds",
              "t,o,h,l,c,v\n1796601660000000000,1,2,0.5,1.5,10\n",
              {next1},
              {},
              "epoch times read in nanoseconds"},
        Shape{"CompactDigits",
              "time,open,high,low,close,volume\n20261207000100,1,2,0.5,1.5,10\n"
              "20261207 00:02,2,3,1,2.5,0\n",
              both,
              {},
              "UTC (assumed"},
        Shape{"DayFirstSemicolonsDecimalCommas",
              "Date;Open;High;Low;Close;Volume\n07.12.2026 00:01;1;2;0,5;1,5;10\n"
              "07.12.2026 00:02;2;3;1;2,5;0\n",
              both,
              {},
              "UTC (assumed"},
        Shape{"SplitDateAndTime",
              "<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<VOL>\n"
              "2026.12.07\t00:01:00\t1\t2\t0.5\t1.5\t10\n2026.12.07\t00:02:00\t2\t3\t1\t2.5\t0\n",
              both,
              {},
              "UTC (assumed"},
        Shape{"SlashedMonthFirst",
              "Date,Open,High,Low,Close,Volume\n12/07/2026 00:01,1,2,0.5,1.5,10\n"
              "12/07/2026 00:02,2,3,1,2.5,0\n12/13/2026,1,2,0.5,1.5,10\n",
              {next1, next2, sixDaysOn},
              {},
              "UTC (assumed"},
        Shape{"SlashedDayFirstSettledLate",
              "Date|Open|High|Low|Close|Volume\n07/12/2026 00:01|1|2|0.5|1.5|10\n"
              "07/12/2026 00:02|2|3|1|2.5|0\n13/12/2026|1|2|0.5|1.5|10\n",
              {next1, next2, sixDaysOn},
              {"--tz", "+00:00"}},
        Shape{"TimeFormatAndQuotedDelimiter",
              "time,open,high,low,close,volume\n\"07 Dec 2026, 00:01\",1,2,0.5,1.5,10\n"
              "\"07 dec 2026, 00:02\",2,3,1,2.5,0\n",
              both,
              {"--time-format", "%d %b %Y, %H:%M", "--tz", "UTC"}},
        Shape{"ZoneOffset",
              header + "2026-12-07 01:31,1,2,0.5,1.5,10\n",
              {next1},
              {"--tz", "+01:30"}},
        Shape{"ZoneName",
              header + "2026-12-06 19:01,1,2,0.5,1.5,10\n2026-12-06T19:02:00-05:00,2,3,1,2.5,0\n",
              both,
              {"--tz", "America/New_York"},
              "",
              true},
        Shape{"NewestFirst",
              header + line2 + "\n" + line1 + "\n",
              both,
              {},
              "the input runs newest-first; its bars are stored oldest-first"},
        Shape{"BannerAndNoVolume",
              "Prices of one thing\nDate,Open,High,Low,Close\n2026-12-07T00:02:00Z,2,3,1,2.5\n",
              {next2},
              {},
              "line 1 is taken for a banner and skipped: Prices of one thing"},
        Shape{"NoVolume",
              "time,open,high,low,close\n2026-12-07T00:02:00Z,2,3,1,2.5\n",
              {next2},
              {},
              "no column holds the volume: the bars get volume 0"},
        Shape{"SkippedLines", "junk\njunk, more junk\n" + header + line1, {next1}, {"--skip", "2"}},
        Shape{"MappedVolume",
              "Timestamp,Open,High,Low,Close,Volume_(BTC),Volume_(Currency)\n" + line1 + ",7\n",
              {next1},
              {"--map", "volume=Volume_(BTC)"},
              "columns ignored: 7 (Volume_(Currency))"},
        Shape{
            "PortalDownload",
            "\"Date\",\"Price\",\"Open\",\"High\",\"Low\",\"Vol.\",\"Change %\"\n"
            "\"12/13/2026\",\"4,790.00\",\"4,780.00\",\"4,799.00\",\"4,775.00\",\"1.2B\",\"0.3%\"\n"
            "\"12/10/2026\",null,null,null,null,,\n"
            "\"12/09/"
            "2026\",\"4,780.25\",\"4,790.00\",\"4,795.50\",\"4,770.00\",\"36.87M\",\"-1%\"\n"
            "\"12/08/2026\",\"4,805.00\",\"4,800.00\",\"4,812.00\",\"4,790.00\",\"41.2K\",\"1%\"\n",
            {{1'796'688'000'000, 4800, 4812, 4790, 4805, 41'200},
             {1'796'774'400'000, 4790, 4795.5, 4770, 4780.25, 36'870'000},
             {1'797'120'000'000, 4780, 4799, 4775, 4790, 1.2e9}},
            {},
            "1 line was skipped for holding no price (every price empty, null or NaN), the "
            "first of them line 3"},
        Shape{"HolidaysOfNullEmptyAndNaN",
              "Date,Open,High,Low,Close,Adj Close,Volume\n2026-12-08,1,2,0.5,1.5,1.5,10\n"
              "2026-12-09,null,null,null,null,null,null\n2026-12-10,,,,,,\n"
              "2026-12-11,NaN,nan,NAN,NaN,NaN,0\n2026-12-13,1,2,0.5,1.5,1.5,10\n",
              {day8, day13},
              {},
              "3 lines were skipped for holding no price"},
        Shape{"IsoTimesInEveryForm",
              "t,o,h,l,c\n2026-12-07T00:00:01Z,1,1,1,1\n2026-12-07 00:00:02.5,1,1,1,1\n"
              "2026-12-07T00:00:02.750Z,1,1,1,1\n2026-12-07 00:01,1,1,1,1\n"
              "2026-12-07T00:01:00.001+00:00,1,1,1,1\n2026-12-08,1,1,1,1\n",
              {{1'796'601'601'000, 1, 1, 1, 1, 0},
               {1'796'601'602'500, 1, 1, 1, 1, 0},
               {1'796'601'602'750, 1, 1, 1, 1, 0},
               {1'796'601'660'000, 1, 1, 1, 1, 0},
               {1'796'601'660'001, 1, 1, 1, 1, 0},
               {1'796'688'000'000, 1, 1, 1, 1, 0}},
              {},
              "no column holds the volume"},
        Shape{"LastIsTheCloseWhenNoneIs", "time,open,high,low,last,volume\n" + line1, {next1}},
        Shape{"CloseBesideLast",
              "time,open,high,low,close,last,volume\n2026-12-07T00:01:00Z,1,2,0.5,1.5,9,10\n",
              {next1},
              {},
              "columns ignored: 6 (last)"},
        Shape{"NoVolumeColumnBesideTheClose",
              "Date,Open,High,Low,Close,Adj Close\n2026-12-08,1,2,0.5,1.5,99\n",
              {{day8.timeMs, 1, 2, 0.5, 1.5, 0}},
              {},
              "no column holds the volume"},
        Shape{"TsEventInNanoseconds",
              "ts_event,rtype,open,high,low,close,volume\n1796601660000000000,33,1,2,0.5,1.5,10\n",
              {next1},
              {},
              "columns ignored: 2 (rtype)"},
        Shape{"WindowStart",
              "ticker,volume,open,close,high,low,window_start\nX,10,1,1.5,2,0.5,"
              "1796601660000000000\n",
              {next1},
              {},
              "columns ignored: 1 (ticker)"},
        Shape{"DateTimeName", "date_time,open,high,low,close,volume\n" + line1, {next1}},
        Shape{"GermanThousandsPoint",
              "Datum;Er\xC3\xB6"
              "ffnung;Hoch;Tief;Schluss;Volumen\n"
              "08.12.2026;1.234,50;1.240,00;1.230,25;1.238,75;12.345\n"
              "09.12.2026;1.238,75;1.245,00;1.236,00;1.244,00;9.876\n",
              thousands,
              {},
              "UTC (assumed"},
        Shape{"FrenchNoBreakSpaces",
              "Date;Ouverture;Plus haut;Plus bas;Cl\xC3\xB4ture;Volume\n"
              "08/12/2026;1\xE2\x80\xAF"
              "234,50;1\xE2\x80\xAF"
              "240;1\xE2\x80\xAF"
              "230,25;"
              "1\xE2\x80\xAF"
              "238,75;12 345\n"
              "09/12/2026;1\xE2\x80\xAF"
              "238,75;1\xE2\x80\xAF"
              "245;1\xE2\x80\xAF"
              "236;"
              "1\xE2\x80\xAF"
              "244;9 876\n13/12/2026;1;2;0,5;1,5;10\n",
              {thousands[0], thousands[1], day13},
              {},
              "UTC (assumed"},
        Shape{"SpanishQuotedDecimalCommasInLatin1",
              "Fecha,Apertura,M\xE1ximo,M\xEDnimo,\xDAltimo,Volumen\n"
              "2026-12-08,\"1.234,50\",\"1.240\",\"1.230,25\",\"1.238,75\",\"12.345\"\n"
              "2026-12-09,\"1.238,75\",\"1.245\",\"1.236\",\"1.244\",\"9.876\"\n",
              thousands,
              {},
              "UTC (assumed"},
        Shape{"ItalianApostrophes",
              "Data;Apertura;Massimo;Minimo;Chiusura;Volumi\n"
              "2026-12-08;1'234.50;1'240;1'230.25;1'238.75;12'345\n"
              "2026-12-09;1'238.75;1'245;1'236;1'244;9'876\n",
              thousands,
              {},
              "UTC (assumed"},
        Shape{"TwelveHourClockUnpadded",
              "Date,Open,High,Low,Close,Volume\n12/7/2026 12:01:00 AM,1,2,0.5,1.5,10\n"
              "12/7/2026 12:02:00 AM,2,3,1,2.5,0\n12/13/2026 1:30:00 PM,1,2,0.5,1.5,10\n",
              {next1, next2, {1'797'168'600'000, 1, 2, 0.5, 1.5, 10}},
              {},
              "UTC (assumed"},
        Shape{"UnpaddedDayMonthAndHour",
              "Datum;Zeit;Erster;Hoch;Tief;Letzter;St\xC3\xBC"
              "cke\n7.12.2026;0:01;1;2;0,5;1,5;10\n"
              "7.12.2026;9:05;1;2;0,5;1,5;10\n",
              {next1, {1'796'634'300'000, 1, 2, 0.5, 1.5, 10}},
              {},
              "UTC (assumed"},
        Shape{"BareTimeOfDayNumbers",
              "date,time,open,high,low,close,volume\n20261207,93000,1,2,0.5,1.5,10\n"
              "20261207,153000,1,2,0.5,1.5,10\n",
              {{1'796'635'800'000, 1, 2, 0.5, 1.5, 10}, {1'796'657'400'000, 1, 2, 0.5, 1.5, 10}},
              {},
              "UTC (assumed"},
        Shape{
            "Utf16LittleEndianTabsAndCrLf",
            utf16("Date\tOpen\tHigh\tLow\tClose\tVolume\r\n2026-12-07 00:01\t1\t2\t0.5\t1.5\t10\r\n"
                  "2026-12-07 00:02\t2\t3\t1\t2.5\t0\r\n",
                  true),
            both,
            {},
            "UTC (assumed"},
        Shape{"Utf16BigEndian",
              utf16("Datum;Er\xC3\xB6"
                    "ffnung;Hoch;Tief;Schluss;Volumen\n07.12.2026 00:01;1;2;0,5;1,5;10\n",
                    false),
              {next1},
              {},
              "UTC (assumed"},
        Shape{"FallBackHourOldestFirst",
              "t,o,h,l,c\n" + fallBackLines,
              fallBack(),
              {"--tz", "America/New_York"},
              "no column holds the volume",
              true},
        Shape{"FallBackHourNewestFirst",
              "t,o,h,l,c\n" + reversedLines(fallBackLines),
              fallBack(),
              {"--tz", "America/New_York"},
              "the input runs newest-first",
              true},
        Shape{"DryRun",
              "Date,Open,High,Low,Close,Adj Close,Volume\n" + adjusted,
              {},
              {"--dry-run"},
              "columns: time 1 (Date), open 2 (Open), high 3 (High), low 4 (Low), close 5 "
              "(Close), volume 7 (Volume) (by name)\nignored: 6 (Adj Close)\ntime: ISO-8601\n"
              "zone: UTC (assumed) for times that name none\norder: oldest-first\nbars: 2\n"
              "first (line 2): 2026-12-07T00:01:00.000Z,1,2,0.5,1.5,10\n"
              "last (line 3): 2026-12-07T00:02:00.000Z,2,3,1,2.5,0\n"}),
    RowName());

TEST_F(Import, ReadsANamedFile)
{
    const auto path = dataFile(5, {stored});
    write(scratch.path() / "in.csv", header + line1 + "\n");
    const Result result = run({importer, path.string(), (scratch.path() / "in.csv").string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(storedBars(path), (std::vector<Bar>{stored, next1}));
}

struct Usage
{
    const char *name;
    std::vector<std::string> arguments;
    int status;
    std::string text;
};

using ImportCommandLine = CommandTable<Usage>;

TEST_P(ImportCommandLine, ExitStatus)
{
    const auto path = dataFile(5);
    write(scratch.path() / "damaged.qdf", "QUELMDAT but not much more");
    std::vector<std::string> arguments = {importer};
    for (const std::string &argument : GetParam().arguments) {
        arguments.push_back(argument == "FILE"      ? path.string()
                            : argument == "DAMAGED" ? (scratch.path() / "damaged.qdf").string()
                            : argument == "NEW"     ? (scratch.path() / "new.qdf").string()
                                                    : argument);
    }
    const Result result = run(arguments, line1);
    EXPECT_EQ(result.status, GetParam().status) << result.err;
    EXPECT_TRUE(contains(result.out + result.err, GetParam().text)) << result.out << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImportCommandLine,
    testing::Values(
        Usage{"Help", {"--help"}, 0, "Usage: quelm-import FILE [INPUT]"},
        Usage{"NoFile", {}, 2, "no file given"},
        Usage{"UnknownOption", {"--fast", "FILE"}, 2, "unknown option --fast"},
        Usage{"TooMany", {"FILE", "-", "-"}, 2, "too many operands"},
        Usage{"MissingFile", {"/nonexistent/0001.qdf"}, 1, "Cannot open data file"},
        Usage{"DamagedFile", {"DAMAGED"}, 1, "too short for the header"},
        Usage{
            "MissingInput", {"FILE", "/nonexistent/in.csv"}, 1, "cannot read /nonexistent/in.csv"},
        Usage{"StandardInputByName", {"FILE", "-"}, 0, ""},
        Usage{"UnknownZone", {"FILE", "--tz", "Mars/Olympus"}, 2, "--tz Mars/Olympus: "},
        Usage{"UnknownUnit", {"FILE", "--epoch-unit", "days"}, 2, "s, ms, us or ns"},
        Usage{
            "CapacityWithoutCreate", {"FILE", "--capacity", "5"}, 2, "a file that --create makes"},
        Usage{"CapacityOfNone", {"--create", "NEW", "--capacity", "0"}, 2, "1 or more"},
        Usage{"CreateOverAFile",
              {"--create", "FILE"},
              1,
              "exists already, and --create never replaces it; nothing was read or written"}),
    RowName());

struct Creation
{
    const char *name;
    std::vector<std::string> options;
    std::string csv;
    std::uint64_t capacity; // 0: no file is made
    std::vector<Bar> bars = {};
    std::string text = "";
};

using CreatesAFile = CommandTable<Creation>;

// --create makes a file that holds the input's bars, or none at all when it cannot.
TEST_P(CreatesAFile, FromTheInput)
{
    const auto path = scratch.path() / "new.qdf";
    std::vector<std::string> arguments = {importer, "--create", path.string()};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const Result result = run(arguments, GetParam().csv);
    EXPECT_EQ(result.status, GetParam().capacity > 0 || contains(GetParam().name, "DryRun") ? 0 : 1)
        << result.err;
    EXPECT_TRUE(contains(result.out + result.err, GetParam().text)) << result.out << result.err;
    ASSERT_EQ(std::filesystem::exists(path), GetParam().capacity > 0);
    if (GetParam().capacity > 0) {
        const DataFile file = DataFile::open(path);
        EXPECT_EQ(file.header().capacity, GetParam().capacity);
        EXPECT_EQ(file.header().fileNumber, 0);
        EXPECT_EQ(storedBars(path), GetParam().bars);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CreatesAFile,
    testing::Values(
        Creation{"RoomForTheBarsRead",
                 {},
                 header + line1 + "\n" + line2,
                 2,
                 both,
                 "with room for 2 bars, and added 2 bars"},
        Creation{
            "RoomGiven", {"--capacity", "5"}, header + line1, 5, {next1}, "with room for 5 bars"},
        Creation{"EmptyWithRoomGiven", {"--capacity", "3"}, "", 3},
        Creation{"FromUtf16", {}, utf16(header + line1 + "\n", true), 1, {next1}},
        Creation{"NoBars", {}, header, 0, {}, "the input holds no bars"},
        Creation{"MoreThanTheRoomGiven",
                 {"--capacity", "1"},
                 header + line1 + "\n" + line2,
                 0,
                 {},
                 "line 3: the file has room for 1 more bar"},
        Creation{"BadLine", {}, header + line1 + "\nnoon,1,2,0.5,1.5,0\n", 0, {}, "is not a time"},
        Creation{"DryRun", {"--dry-run"}, header + line1, 0, {}, "bars: 1"}),
    RowName());

// Another writer holds the lock: the import waits, writing nothing, and goes on once it is free.
TEST_F(ImportLock, WaitsForAnotherWriter)
{
    const auto path = dataFile(5, {stored});
    const std::string before = contents(path);
    write(scratch.path() / "in.csv", header + line1 + "\n" + line2 + "\n");
    std::optional<DataFile> writer = DataFile::open(path, DataFile::Mode::Exclusive);
    Child::Streams streams;
    streams.input = scratch.path() / "in.csv";
    Child import({importer, path.string()}, streams, scratch.path());
    EXPECT_TRUE(saysItWaits(import)) << import.err();
    EXPECT_TRUE(import.running());
    EXPECT_EQ(contents(path), before);
    writer.reset();
    EXPECT_EQ(import.wait(), 0) << import.err();
    EXPECT_EQ(storedBars(path), (std::vector<Bar>{stored, next1, next2}));
}

struct Meanwhile
{
    const char *name;
    Bar added; // by another writer while the import waits for the lock
    std::string where;
    std::string reason;
};

using ChecksAgainWithTheLock = CommandTable<Meanwhile>;

// Bars another writer adds while the import waits count as the file's: the import checks its
// input against them again once it has the lock, and writes nothing when it no longer fits.
TEST_P(ChecksAgainWithTheLock, AndWritesNothing)
{
    const auto path = dataFile(3, {stored});
    write(scratch.path() / "in.csv", header + line1 + "\n" + line2 + "\n");
    std::optional<DataFile> writer = DataFile::open(path, DataFile::Mode::Exclusive);
    Child::Streams streams;
    streams.input = scratch.path() / "in.csv";
    Child import({importer, path.string()}, streams, scratch.path());
    ASSERT_TRUE(saysItWaits(import)) << import.err();
    writer->appendBars(std::span(&GetParam().added, 1));
    writer.reset();
    EXPECT_EQ(import.wait(), 1);
    EXPECT_TRUE(contains(import.err(), GetParam().where + ": " + GetParam().reason))
        << import.err();
    EXPECT_EQ(storedBars(path), (std::vector<Bar>{stored, GetParam().added}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChecksAgainWithTheLock,
    testing::Values(Meanwhile{"LaterBar", next2, "line 2, column 1 (time)",
                              "its time is not after the file's last bar"},
                    Meanwhile{"LastRoom",
                              {stored.timeMs + 1, 1, 1, 1, 1, 1},
                              "line 3",
                              "the file has room for 1 more bar, and this is one more"}),
    RowName());

// The window's store holds the file open: the import adds its bars, and the store's close later
// keeps them and marks the file closed.
TEST_F(ImportLock, IntoAFileTheWindowHoldsOpen)
{
    DataFileStore store(scratch.path());
    const auto path = store.createFile(1, 5);
    const Result result = run({importer, path.string()}, line1 + "\n" + line2 + "\n");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(DataFile::open(path).header().closedCleanly);
    store.closeFile(1);
    const DataFile file = DataFile::open(path);
    EXPECT_TRUE(file.header().closedCleanly);
    EXPECT_EQ(file.readBars(0, file.header().barsWritten), (std::vector<Bar>{next1, next2}));
}

// Two imports of the same bars at once: one adds them, the other finds them there, and no bar
// is stored twice.
TEST_F(ImportLock, TwoAtOnce)
{
    const std::vector<Bar> bars = sampleBars(300'000, next1.timeMs);
    const auto path = dataFile(600'000);
    write(scratch.path() / "in.csv", csvOf(bars));
    Child::Streams streams;
    streams.input = scratch.path() / "in.csv";
    Child first({importer, path.string()}, streams, scratch.path());
    Child second({importer, path.string()}, streams, scratch.path());
    const int statuses[] = {first.wait(), second.wait()};
    EXPECT_EQ(std::min(statuses[0], statuses[1]), 0) << first.err() << second.err();
    EXPECT_EQ(std::max(statuses[0], statuses[1]), 1) << first.err() << second.err();
    EXPECT_TRUE(contains(first.err() + second.err(), "line 2, column 1 (time)"));
    EXPECT_EQ(storedBars(path), bars);
}

// Killed while it writes, the import leaves a valid file that counts none of its bars: their
// count goes to the file only with the flush at its end, after their records.
TEST_F(Import, KilledPartwayLeavesAValidFile)
{
    const std::vector<Bar> bars = sampleBars(1'000'000, next1.timeMs);
    write(scratch.path() / "in.csv", csvOf(bars));
    bool partway = false;
    for (int attempt = 0; attempt < 3 && !partway; ++attempt) {
        const auto path = dataFile(1'000'000);
        const auto firstRecordWritten = [&] {
            std::ifstream file(path, std::ios::binary);
            std::string record(48, '\0');
            file.seekg(64).read(record.data(), 48);
            return record != std::string(48, '\0');
        };
        Child::Streams streams;
        streams.input = scratch.path() / "in.csv";
        Child import({importer, path.string()}, streams, scratch.path());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (import.running() && std::chrono::steady_clock::now() < deadline &&
               !firstRecordWritten()) {
        }
        import.kill();
        import.wait();
        const std::vector<Bar> counted = storedBars(path);
        EXPECT_TRUE(counted.empty() || counted == bars) << counted.size() << " bars counted";
        partway = counted.empty() && firstRecordWritten();
    }
    EXPECT_TRUE(partway) << "the import always ended before it was killed";
}
