#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Times as CSV files of bars write them: ISO-8601, dates in the common national and compact
// shapes with an optional time of day, strftime-style shapes given by the user, and epoch
// numbers. Every reader throws quelm::tools::InputError saying why a text is not a time.
namespace quelm::timetext {

enum class Shape
{
    Iso,
    Compact,
    YearFirst,
    DayFirst,
    Slashed,
    Format,
    Epoch
};
// "ISO-8601", "yyyymmdd[hhmmss]", ...
const char *shapeName(Shape shape);

struct Reading
{
    Shape shape = Shape::Iso;
    // UTC when the text names a zone, otherwise the wall-clock time counted as if it were UTC.
    std::int64_t ms = 0;
    bool zoned = false;
    // Slashed dates with both fields at most 12 read either way: `ms` is the month-first
    // reading and `dayFirstMs` the other. When only one reading is a date, `ms` holds it and
    // `dayFirst` says which it is.
    std::optional<std::int64_t> dayFirstMs;
    bool dayFirst = false;
};

// Reads "2026-12-07T06:01:02.345Z" (T or a space, seconds and fraction optional, Z, +hh:mm or no
// zone), "2026-12-07", "20261207", "20261207060102", "2026.12.07", "07.12.2026", "07/12/2026"
// and "12/07/2026", each date with an optional time of day after it. Days, months and hours
// may lack their leading zero ("1/2/2024 9:30"), and a time of day may be one of the 12-hour
// clock ("9:30:00 AM").
Reading readTime(std::string_view text);
// Reads a time of the strftime-style `format`: %Y %y %m %d %e %H %M %S %f (fraction of a
// second) %b (month name) %z %T %F %% and literal characters; a blank matches any blanks.
Reading readTime(std::string_view text, std::string_view format);
// Throws quelm::tools::UsageError when `format` holds a directive that readTime does not take.
void checkFormat(std::string_view format);
// A time of day alone, "23:00", "9:30:05.5", "9:30 PM", "230005" or "93000" (a number of five
// digits drops the hour's leading zero): milliseconds since midnight.
std::int64_t readClock(std::string_view text);

enum class EpochUnit
{
    Seconds,
    Milliseconds,
    Microseconds,
    Nanoseconds
};
// "s", "ms", "us", "ns".
const char *unitSymbol(EpochUnit unit);
std::optional<EpochUnit> unitNamed(std::string_view symbol);
// Digits with an optional minus and an optional fraction.
bool isEpochNumber(std::string_view text);
// The unit an epoch number's count of integer digits stands for: 10 s, 13 ms, 16 us, 19 ns.
std::optional<EpochUnit> unitOfDigits(std::string_view text);
int integerDigits(std::string_view text);
// An epoch number in `unit` as milliseconds; throws when it is finer than a millisecond or
// beyond the 64-bit range.
std::int64_t epochMs(std::string_view text, EpochUnit unit);

// The calendar: days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day);
void civilFromDays(std::int64_t days, std::int64_t &year, unsigned &month, unsigned &day);

} // namespace quelm::timetext
