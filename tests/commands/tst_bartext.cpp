// Times and numbers as text, both ways, and the input's bytes as text.

#include "bartext.h"
#include "commanderror.h"
#include "commandtest.h"
#include "inputtext.h"
#include "numbertext.h"
#include "timetext.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

using namespace quelm;

namespace {

std::string timeText(std::int64_t ms)
{
    char text[bartext::maxTimeLength];
    return std::string(text, bartext::writeTime(text, ms));
}

struct TimeRow
{
    const char *text;
    std::int64_t ms;
};

class ReadsTimes : public testing::TestWithParam<TimeRow>
{
};

struct BadRow
{
    const char *text;
    const char *reason;
};

class RefusesTimes : public testing::TestWithParam<BadRow>
{
};

class RefusesNumbers : public testing::TestWithParam<BadRow>
{
};

struct NumberRow
{
    const char *text;
    char decimal;
    double value;
    std::string_view grouping = "";
    bool suffixed = false;
};

class ReadsNumbers : public testing::TestWithParam<NumberRow>
{
};

struct MarkRow
{
    const char *text;
    numbertext::Mark mark;
    bool suffixed = false;
};

class TellsTheDecimalMark : public testing::TestWithParam<MarkRow>
{
};

double readNumber(std::string_view text)
{
    std::string_view grouping;
    return numbertext::readNumber(text, '.', false, grouping);
}

constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

} // namespace

std::string whyNot(const std::function<void()> &read)
{
    try {
        read();
    } catch (const tools::InputError &error) {
        return error.what();
    }
    return "";
}

// A time of day alone (the second column beside a date) is a time on 1970-01-01.
TEST_P(ReadsTimes, AsMilliseconds)
{
    const std::string_view text = GetParam().text;
    EXPECT_EQ(text.find('-') == text.npos && text.find('/') == text.npos &&
                      text.find('.') == text.npos && text.size() < 12
                  ? timetext::readClock(text)
                  : timetext::readTime(text).ms,
              GetParam().ms);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadsTimes,
    testing::Values(TimeRow{"2026-12-07T06:01:02.345Z", 1'796'623'262'345},
                    TimeRow{"2026-12-07 06:01:02.345", 1'796'623'262'345},
                    TimeRow{"2026-12-07T06:01:02.345+00:00", 1'796'623'262'345},
                    TimeRow{"2026-12-07T07:31:02.345+01:30", 1'796'623'262'345},
                    TimeRow{"2026-12-07T01:01:02.345-0500", 1'796'623'262'345},
                    TimeRow{"2026-12-07T06:01:02.345000", 1'796'623'262'345},
                    TimeRow{"2026-12-07T06:01:02.3Z", 1'796'623'262'300},
                    TimeRow{"2026-12-07T06:01Z", 1'796'623'260'000},
                    TimeRow{"2026-12-07", 1'796'601'600'000},
                    TimeRow{"2024-02-29T00:00:00Z", 1'709'164'800'000},
                    TimeRow{"1969-12-31T23:59:59.999Z", -1}, TimeRow{"1970-01-01T00:00:00.000Z", 0},
                    TimeRow{"20261207 06:01:02.345", 1'796'623'262'345},
                    TimeRow{"20261207060102", 1'796'623'262'000},
                    TimeRow{"2026.12.07 06:01:02.345", 1'796'623'262'345},
                    TimeRow{"07.12.2026 06:01:02.345", 1'796'623'262'345},
                    TimeRow{"2026/12/07T06:01:02.345", 1'796'623'262'345},
                    TimeRow{"-292275055-05-16T16:47:04.192Z", int64Min},
                    TimeRow{"+292278994-08-17T07:12:55.807Z", int64Max},
                    TimeRow{"-0001-12-31T00:00:00Z", -62'167'305'600'000},
                    TimeRow{"2026-12-7 6:01", 1'796'623'260'000},
                    TimeRow{"1/2/2024 9:30:00 AM", 1'704'187'800'000},
                    TimeRow{"12/31/2024 12:00:00 am", 1'735'603'200'000},
                    TimeRow{"2026-12-07 12:30 PM", 1'796'646'600'000},
                    TimeRow{"2026.12.07 6:01 AM", 1'796'623'260'000}, TimeRow{"93000", 34'200'000},
                    TimeRow{"153000", 55'800'000}, TimeRow{"9:30 PM", 77'400'000},
                    TimeRow{"12:00 AM", 0}, TimeRow{"12:59:59 PM", 46'799'000}));

TEST_P(RefusesTimes, SayingWhy)
{
    const std::string why = whyNot([] { timetext::readTime(GetParam().text); });
    EXPECT_NE(why.find(GetParam().reason), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusesTimes,
    testing::Values(
        BadRow{"", "empty"}, BadRow{"-", "is not a time"}, BadRow{"yesterday", "is not a time"},
        BadRow{"2026-12-07T06:01:02.345Q", "is not a time"}, BadRow{"2026-12-", "is not a time"},
        BadRow{"26-12-07", "is not a time"}, BadRow{"12026-12-07", "is not a time"},
        BadRow{"2026-12-07T6:1", "is not a time"}, BadRow{"2026-12-07T06:01:02.", "is not a time"},
        BadRow{"202612070", "is not a time"}, BadRow{"2026-12-07 13:00 PM", "not a time of day"},
        BadRow{"2026-12-07 0:30 AM", "not a time of day"},
        BadRow{"2026-02-29", "is not a date of the calendar"},
        BadRow{"2026-13-01", "is not a date of the calendar"},
        BadRow{"2026-12-00", "is not a date of the calendar"},
        BadRow{"2026-12-07T24:00:00Z", "is not a time of day"},
        BadRow{"2026-12-07T06:60:00Z", "is not a time of day"},
        BadRow{"2026-12-07T06:01:02.3456Z", "finer than a millisecond"},
        BadRow{"07-12-2026", "is not a time"}, BadRow{"13/13/2026", "not a date of the calendar"},
        BadRow{"+292278994-08-17T07:12:55.808Z", "too far from 1970"},
        BadRow{"-292275055-05-16T16:47:04.191Z", "too far from 1970"}));

// Every 64-bit time has a text that reads back to it, with four-digit years as they are.
TEST(Times, WriteAndReadBack)
{
    EXPECT_EQ(timeText(1'796'623'262'345), "2026-12-07T06:01:02.345Z");
    EXPECT_EQ(timeText(-1), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(timeText(253'402'300'799'999), "9999-12-31T23:59:59.999Z");
    EXPECT_EQ(timeText(253'402'300'800'000), "+10000-01-01T00:00:00.000Z");
    EXPECT_EQ(timeText(-62'167'219'200'001), "-0001-12-31T23:59:59.999Z");
    for (const std::int64_t ms : {int64Min, int64Min + 1, std::int64_t{-86'400'001},
                                  std::int64_t{0}, std::int64_t{951'782'400'000}, int64Max}) {
        EXPECT_EQ(timetext::readTime(timeText(ms)).ms, ms) << timeText(ms);
    }
}

TEST(Clocks, RefuseWhatIsNoTimeOfDay)
{
    for (const char *text : {"930", "9300", "1234567", "24:00", "9:3", "93000 PM", "12:00 XM"}) {
        EXPECT_NE(whyNot([&] { timetext::readClock(text); }).find("is not a time of day"),
                  std::string::npos)
            << text;
    }
}

TEST_P(ReadsNumbers, Exactly)
{
    std::string_view grouping;
    EXPECT_EQ(
        numbertext::readNumber(GetParam().text, GetParam().decimal, GetParam().suffixed, grouping),
        GetParam().value);
    EXPECT_EQ(grouping, GetParam().grouping);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadsNumbers,
                         testing::Values(NumberRow{"+2.5", '.', 2.5}, NumberRow{"0.1", '.', 0.1},
                                         NumberRow{"1,234.50", '.', 1234.5, ","},
                                         NumberRow{"1.234,50", ',', 1234.5, "."},
                                         NumberRow{"1,234", '.', 1234, ","},
                                         NumberRow{"1,234", ',', 1.234},
                                         NumberRow{"-12 345 678,9", ',', -12345678.9, " "},
                                         NumberRow{"1'234'567.25", '.', 1234567.25, "'"},
                                         NumberRow{"1\xC2\xA0"
                                                   "234,5",
                                                   ',', 1234.5, "\xC2\xA0"},
                                         NumberRow{"36.87M", '.', 36'870'000, "", true},
                                         NumberRow{"1,234.5K", '.', 1'234'500, ",", true},
                                         NumberRow{"0,5B", ',', 500'000'000, "", true},
                                         NumberRow{"7K", '.', 7000, "", true}));

TEST_P(RefusesNumbers, SayingWhy)
{
    const std::string why = whyNot([] { readNumber(GetParam().text); });
    EXPECT_NE(why.find(GetParam().reason), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusesNumbers,
    testing::Values(BadRow{"", "empty"}, BadRow{"abc", "is not a number"},
                    BadRow{"1.5x", "is not a number"}, BadRow{"+-1", "is not a number"},
                    BadRow{"0x10", "is not a number"}, BadRow{"1,5", "is not a number"},
                    BadRow{"1,23", "is not a number"}, BadRow{"1,2345", "is not a number"},
                    BadRow{"1234,567", "is not a number"}, BadRow{"0,123", "is not a number"},
                    BadRow{"1,234 567", "is not a number"}, BadRow{"36.87M", "is not a number"},
                    BadRow{"\x01", "\"\\x01\" is not a number"},
                    BadRow{"inf", "is not a finite number"},
                    BadRow{"-infinity", "is not a finite number"},
                    BadRow{"nan", "is not a finite number"}, BadRow{"1e999", "out of the range"},
                    BadRow{"1e-400", "out of the range"}));

TEST_P(TellsTheDecimalMark, FromOneNumber)
{
    EXPECT_EQ(numbertext::decimalMark(GetParam().text, GetParam().suffixed), GetParam().mark);
}

using numbertext::Mark;
INSTANTIATE_TEST_SUITE_P(
    Table, TellsTheDecimalMark,
    testing::Values(MarkRow{"1,234", Mark::Either}, MarkRow{"-1.234", Mark::Either},
                    MarkRow{"0.123", Mark::Point}, MarkRow{"1234.567", Mark::Point},
                    MarkRow{"1,2345", Mark::Comma}, MarkRow{"1.234.567", Mark::Comma},
                    MarkRow{"1,234.5", Mark::Point}, MarkRow{"1.234K", Mark::Either, true},
                    MarkRow{"12.5K", Mark::Point, true}, MarkRow{"1.234K", Mark::None},
                    MarkRow{"1234", Mark::None}, MarkRow{"n.a.", Mark::None},
                    MarkRow{"null", Mark::None}));

// The shortest text of a double reads back to the very same bits.
TEST(Numbers, WriteShortestAndReadBackBitForBit)
{
    const double values[] = {0.1,
                             -0.0,
                             0.0,
                             1e308,
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::denorm_min(),
                             -std::numeric_limits<double>::denorm_min() * 3,
                             std::numeric_limits<double>::min(),
                             1.0 / 3,
                             123456789.125};
    for (const double value : values) {
        char text[bartext::maxNumberLength];
        const std::string written(text, bartext::writeNumber(text, value));
        const double back = readNumber(written);
        EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << written;
    }
    char text[bartext::maxNumberLength];
    EXPECT_EQ(std::string(text, bartext::writeNumber(text, 0.1)), "0.1");
}

TEST(Lines, CsvAndJson)
{
    const Bar bar{1'796'623'262'345, 1.5, 2, -0.0, 0.1, std::nan("")};
    char text[bartext::maxLineLength];
    EXPECT_EQ(std::string(text, bartext::writeCsvLine(text, bar)),
              "2026-12-07T06:01:02.345Z,1.5,2,-0,0.1,nan\n");
    EXPECT_EQ(std::string(text, bartext::writeJsonLine(text, bar)),
              "{\"time\":\"2026-12-07T06:01:02.345Z\",\"open\":1.5,\"high\":2,\"low\":-0,"
              "\"close\":0.1,\"volume\":null}\n");
    const double most = -std::numeric_limits<double>::denorm_min();
    const Bar longest{std::numeric_limits<std::int64_t>::min(), most, most, most, most, most};
    EXPECT_LT(bartext::writeJsonLine(text, longest) - text, std::ptrdiff_t{200});
}

// UTF-16 fed in pieces of any size, characters split across them, reads as fed whole; a UTF-8
// byte order mark is dropped.
TEST(InputText, AsUtf8WhateverThePieces)
{
    const std::string text = "Datum;Er\xC3\xB6"
                             "ffnung;\xE2\x82\xAC;\xF0\x9F\x98\x80\n";
    for (const std::string &bytes :
         {testsupport::utf16(text, true), testsupport::utf16(text, false), "\xEF\xBB\xBF" + text}) {
        for (const std::size_t piece : {1, 2, 3, 7, 1000}) {
            InputText input;
            std::string read;
            for (std::size_t at = 0; at < bytes.size(); at += piece) {
                read += input.decode(std::string_view(bytes).substr(at, piece));
            }
            read += input.finish();
            EXPECT_EQ(read, text) << "in pieces of " << piece;
        }
    }
}
