#include "timetext.h"

#include "commanderror.h"
#include "textescape.h"

#include <array>
#include <charconv>
#include <limits>
#include <string>

namespace quelm::timetext {

using tools::InputError;

namespace {

constexpr std::int64_t msPerDay = 86'400'000;
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::string_view shapes =
    "a time is ISO-8601 (2026-12-07T06:01:02.345Z), a date (2026-12-07, 20261207, 2026.12.07, "
    "07.12.2026, 07/12/2026) with an optional time of day, or an epoch number";
constexpr std::array<std::string_view, 12> monthNames = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLeap(std::int64_t year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned daysInMonth(std::int64_t year, unsigned month)
{
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

bool addChecked(std::int64_t a, std::int64_t b, std::int64_t &sum)
{
    if ((b > 0 && a > int64Max - b) || (b < 0 && a < int64Min - b)) {
        return false;
    }
    sum = a + b;
    return true;
}

std::string quoted(std::string_view text)
{
    return inspect::quotedText(text);
}

[[noreturn]] void notTime(std::string_view text)
{
    throw InputError(quoted(text) + " is not a time; " + std::string(shapes));
}

[[noreturn]] void tooFar(std::string_view text)
{
    throw InputError(quoted(text) + " is too far from 1970 for a time in milliseconds");
}

// Reads a text from left to right; every failure names the whole text.
struct Cursor
{
    std::string_view text;
    std::size_t at = 0;

    bool done() const { return at == text.size(); }
    bool take(char c)
    {
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    // From `least` to `most` digits; how many were read.
    std::size_t digits(std::size_t least, std::size_t most, std::int64_t &value)
    {
        std::size_t count = 0;
        value = 0;
        while (count < most && at < text.size() && isDigit(text[at])) {
            value = value * 10 + (text[at++] - '0');
            ++count;
        }
        if (count < least) {
            notTime(text);
        }
        return count;
    }
    std::int64_t exactly(std::size_t count)
    {
        std::int64_t value = 0;
        digits(count, count, value);
        return value;
    }
};

// The milliseconds of a fraction of a second after its '.' or ','; digits past the third must
// be zeros.
std::int64_t fraction(Cursor &cursor)
{
    const std::size_t first = cursor.at;
    std::int64_t milli = 0;
    for (; !cursor.done() && isDigit(cursor.text[cursor.at]); ++cursor.at) {
        const int digit = cursor.text[cursor.at] - '0';
        if (cursor.at - first < 3) {
            milli = milli * 10 + digit;
        } else if (digit != 0) {
            throw InputError(quoted(cursor.text) + " is finer than a millisecond");
        }
    }
    if (cursor.at == first) {
        notTime(cursor.text);
    }
    for (std::size_t scale = cursor.at - first; scale < 3; ++scale) {
        milli *= 10;
    }
    return milli;
}

std::int64_t clockMs(std::string_view text, std::int64_t hour, std::int64_t minute,
                     std::int64_t second, std::int64_t milli)
{
    if (hour > 23 || minute > 59 || second > 59) {
        throw InputError(quoted(text) + " is not a time of day");
    }
    return ((hour * 60 + minute) * 60 + second) * 1000 + milli;
}

// AM or PM (in any case, blanks before it allowed) after a time of day of the 12-hour clock:
// the hour as the 24-hour clock gives it. The hour as it is when neither follows.
std::int64_t hourOfDay(Cursor &cursor, std::int64_t hour)
{
    const std::size_t start = cursor.at;
    while (cursor.take(' ')) {
    }
    const std::string_view rest = cursor.text.substr(cursor.at);
    if (rest.size() < 2 || (rest[1] | 0x20) != 'm' ||
        ((rest[0] | 0x20) != 'a' && (rest[0] | 0x20) != 'p')) {
        cursor.at = start;
        return hour;
    }
    cursor.at += 2;
    if (hour < 1 || hour > 12) {
        throw InputError(quoted(cursor.text) + " is not a time of day");
    }
    return hour % 12 + ((rest[0] | 0x20) == 'p' ? 12 : 0);
}

// H:MM or HH:MM, seconds and a fraction after them optional, or HHMMSS; AM or PM may follow.
std::int64_t clockAt(Cursor &cursor)
{
    std::int64_t hour = 0;
    const std::size_t hourDigits = cursor.digits(1, 2, hour);
    std::int64_t minute = 0, second = 0, milli = 0;
    bool seconds = true;
    if (cursor.take(':')) {
        minute = cursor.exactly(2);
        seconds = cursor.take(':');
    } else if (hourDigits == 2) {
        minute = cursor.exactly(2);
    } else {
        notTime(cursor.text);
    }
    if (seconds) {
        second = cursor.exactly(2);
        if (cursor.take('.') || cursor.take(',')) {
            milli = fraction(cursor);
        }
    }
    return clockMs(cursor.text, hourOfDay(cursor, hour), minute, second, milli);
}

// Z, +hh:mm or +hhmm: the offset from UTC, if the text names one.
std::optional<std::int64_t> zoneAt(Cursor &cursor)
{
    if (cursor.take('Z')) {
        return 0;
    }
    const bool ahead = cursor.take('+');
    if (!ahead && !cursor.take('-')) {
        return std::nullopt;
    }
    const std::int64_t hours = cursor.exactly(2);
    cursor.take(':');
    const std::int64_t minutes = cursor.exactly(2);
    if (hours > 23 || minutes > 59) {
        notTime(cursor.text);
    }
    const std::int64_t offset = (hours * 60 + minutes) * 60'000;
    return ahead ? offset : -offset;
}

bool isDate(std::int64_t year, std::int64_t month, std::int64_t day)
{
    return month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, static_cast<unsigned>(month));
}

// days * msPerDay + msOfDay, unless it leaves the 64-bit range. Negative days are taken one
// day nearer zero first, so that the earliest time of all still fits on the way.
std::int64_t timeOf(std::string_view text, std::int64_t year, std::int64_t month, std::int64_t day,
                    std::int64_t msOfDay)
{
    if (!isDate(year, month, day)) {
        throw InputError(quoted(text) + " is not a date of the calendar");
    }
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    std::int64_t ms = 0;
    const bool fits = days >= 0
                          ? days <= int64Max / msPerDay && addChecked(days * msPerDay, msOfDay, ms)
                          : days + 1 >= int64Min / msPerDay &&
                                addChecked((days + 1) * msPerDay, msOfDay - msPerDay, ms);
    if (!fits) {
        tooFar(text);
    }
    return ms;
}

// Applies the zone the text may name after its time.
void zoneAndEnd(Cursor &cursor, Reading &reading)
{
    if (const auto offset = zoneAt(cursor)) {
        reading.zoned = true;
        if (!addChecked(reading.ms, -*offset, reading.ms)) {
            tooFar(cursor.text);
        }
    }
    if (!cursor.done()) {
        notTime(cursor.text);
    }
}

std::int64_t clockAfterDate(Cursor &cursor)
{
    return cursor.take('T') || cursor.take(' ') ? clockAt(cursor) : 0;
}

} // namespace

const char *shapeName(Shape shape)
{
    switch (shape) {
    case Shape::Iso:
        return "ISO-8601";
    case Shape::Compact:
        return "yyyymmdd[hhmmss]";
    case Shape::YearFirst:
        return "yyyy.mm.dd";
    case Shape::DayFirst:
        return "dd.mm.yyyy";
    case Shape::Slashed:
        return "slashed date";
    case Shape::Format:
        return "--time-format";
    case Shape::Epoch:
        return "epoch number";
    }
    return "";
}

Reading readTime(std::string_view text)
{
    if (text.empty()) {
        throw InputError("empty; " + std::string(shapes));
    }
    Cursor cursor{text};
    const bool negative = cursor.take('-');
    const bool sign = negative || cursor.take('+');
    std::int64_t first = 0;
    const std::size_t firstDigits = cursor.digits(1, 9, first);
    Reading reading;
    if (!sign && (firstDigits == 8 ||
                  (firstDigits == 9 && cursor.at < text.size() && isDigit(text[cursor.at])))) {
        // yyyymmdd, with hhmmss run on or a time of day after a blank or T.
        cursor.at = 0;
        const std::int64_t year = cursor.exactly(4), month = cursor.exactly(2);
        const std::int64_t day = cursor.exactly(2);
        std::int64_t msOfDay = 0;
        if (cursor.at < text.size() && isDigit(text[cursor.at])) {
            const std::int64_t hour = cursor.exactly(2), minute = cursor.exactly(2);
            msOfDay = clockMs(text, hour, minute, cursor.exactly(2), 0);
        } else {
            msOfDay = clockAfterDate(cursor);
        }
        reading.shape = Shape::Compact;
        reading.ms = timeOf(text, year, month, day, msOfDay);
        zoneAndEnd(cursor, reading);
        return reading;
    }
    const char separator = cursor.at < text.size() ? text[cursor.at] : '\0';
    if (separator != '-' && separator != '.' && separator != '/') {
        notTime(text);
    }
    ++cursor.at;
    std::int64_t second = 0, third = 0;
    cursor.digits(1, 2, second);
    if (!cursor.take(separator)) {
        notTime(text);
    }
    const std::size_t thirdDigits = cursor.digits(1, 4, third);
    if (firstDigits >= 4 && (firstDigits == 4 || (sign && separator == '-'))) {
        if (thirdDigits > 2 || (sign && separator != '-')) {
            notTime(text);
        }
        reading.shape = separator == '-' ? Shape::Iso : Shape::YearFirst;
        reading.ms = timeOf(text, negative ? -first : first, second, third, clockAfterDate(cursor));
    } else if (!sign && firstDigits <= 2 && thirdDigits == 4 && separator != '-') {
        const std::int64_t msOfDay = clockAfterDate(cursor);
        if (separator == '.') {
            reading.shape = Shape::DayFirst;
            reading.ms = timeOf(text, third, second, first, msOfDay);
        } else {
            reading.shape = Shape::Slashed;
            const bool monthFirst = isDate(third, first, second);
            reading.dayFirst = !monthFirst;
            reading.ms = monthFirst ? timeOf(text, third, first, second, msOfDay)
                                    : timeOf(text, third, second, first, msOfDay);
            if (monthFirst && isDate(third, second, first)) {
                reading.dayFirstMs = timeOf(text, third, second, first, msOfDay);
            }
        }
    } else {
        notTime(text);
    }
    zoneAndEnd(cursor, reading);
    return reading;
}

void checkFormat(std::string_view format)
{
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            continue;
        }
        if (++i == format.size() ||
            std::string_view("YymdeHMSfbhzTF%").find(format[i]) == std::string_view::npos) {
            throw tools::UsageError("--time-format " + std::string(format) +
                                    ": takes %Y %y %m %d %e %H %M %S %f %b %z %T %F and %%");
        }
    }
}

Reading readTime(std::string_view text, std::string_view format)
{
    Cursor cursor{text};
    std::int64_t year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, milli = 0;
    std::optional<std::int64_t> offset;
    const auto fail = [&]() {
        throw InputError(quoted(text) + " does not have the shape --time-format " +
                         std::string(format));
    };
    const auto expect = [&](char c) {
        if (!cursor.take(c)) {
            fail();
        }
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == ' ') {
            while (cursor.take(' ')) {
            }
            continue;
        }
        if (c != '%' || i + 1 == format.size()) {
            expect(c);
            continue;
        }
        try {
            switch (format[++i]) {
            case 'Y':
                cursor.digits(4, 4, year);
                break;
            case 'y':
                cursor.digits(2, 2, year);
                year += year < 69 ? 2000 : 1900;
                break;
            case 'm':
                cursor.digits(1, 2, month);
                break;
            case 'e':
                cursor.take(' ');
                [[fallthrough]];
            case 'd':
                cursor.digits(1, 2, day);
                break;
            case 'H':
                cursor.digits(1, 2, hour);
                break;
            case 'M':
                cursor.digits(1, 2, minute);
                break;
            case 'S':
                cursor.digits(1, 2, second);
                break;
            case 'f':
                milli = fraction(cursor);
                break;
            case 'T':
                cursor.digits(1, 2, hour);
                expect(':');
                cursor.digits(1, 2, minute);
                expect(':');
                cursor.digits(1, 2, second);
                break;
            case 'F':
                cursor.digits(4, 4, year);
                expect('-');
                cursor.digits(1, 2, month);
                expect('-');
                cursor.digits(1, 2, day);
                break;
            case 'b':
            case 'h': {
                const std::string_view rest = text.substr(cursor.at);
                month = 0;
                for (std::size_t m = 0; m < monthNames.size() && month == 0; ++m) {
                    const std::string_view name = monthNames[m];
                    const auto matches = [&](std::size_t length) {
                        if (rest.size() < length) {
                            return false;
                        }
                        for (std::size_t k = 0; k < length; ++k) {
                            if ((rest[k] | 0x20) != name[k]) {
                                return false;
                            }
                        }
                        return true;
                    };
                    const std::size_t length =
                        matches(name.size()) ? name.size() : (matches(3) ? 3 : 0);
                    if (length > 0) {
                        month = static_cast<std::int64_t>(m) + 1;
                        cursor.at += length;
                    }
                }
                if (month == 0) {
                    fail();
                }
                break;
            }
            case 'z':
                offset = zoneAt(cursor);
                if (!offset) {
                    fail();
                }
                break;
            default:
                expect('%');
            }
        } catch (const InputError &) {
            fail();
        }
    }
    if (!cursor.done()) {
        fail();
    }
    Reading reading;
    reading.shape = Shape::Format;
    reading.ms = timeOf(text, year, month, day, clockMs(text, hour, minute, second, milli));
    if (offset) {
        reading.zoned = true;
        if (!addChecked(reading.ms, -*offset, reading.ms)) {
            tooFar(text);
        }
    }
    return reading;
}

std::int64_t readClock(std::string_view text)
{
    Cursor cursor{text};
    try {
        std::int64_t ms = 0;
        if (text.size() == 5 && text.find_first_not_of("0123456789") == std::string_view::npos) {
            // HMMSS: a time of day written as a number, which drops the hour's leading zero.
            const std::int64_t hour = cursor.exactly(1), minute = cursor.exactly(2);
            ms = clockMs(text, hour, minute, cursor.exactly(2), 0);
        } else {
            ms = clockAt(cursor);
        }
        if (cursor.done()) {
            return ms;
        }
    } catch (const InputError &) {
    }
    throw InputError(quoted(text) +
                     " is not a time of day (23:00, 9:30:05.5, 9:30 PM, 230005 or 93000)");
}

const char *unitSymbol(EpochUnit unit)
{
    static constexpr const char *symbols[] = {"s", "ms", "us", "ns"};
    return symbols[static_cast<int>(unit)];
}

std::optional<EpochUnit> unitNamed(std::string_view symbol)
{
    for (const EpochUnit unit : {EpochUnit::Seconds, EpochUnit::Milliseconds,
                                 EpochUnit::Microseconds, EpochUnit::Nanoseconds}) {
        if (symbol == unitSymbol(unit)) {
            return unit;
        }
    }
    return std::nullopt;
}

int integerDigits(std::string_view text)
{
    const std::size_t first = text.starts_with('-') ? 1 : 0;
    const std::size_t end = text.find('.');
    return static_cast<int>((end == std::string_view::npos ? text.size() : end) - first);
}

bool isEpochNumber(std::string_view text)
{
    const int digits = integerDigits(text);
    if (digits <= 0) {
        return false;
    }
    const std::size_t first = text.starts_with('-') ? 1 : 0;
    const std::size_t end = first + static_cast<std::size_t>(digits);
    for (std::size_t i = first; i < text.size(); ++i) {
        if (!isDigit(text[i]) && !(i == end && i + 1 < text.size())) {
            return false;
        }
    }
    return true;
}

std::optional<EpochUnit> unitOfDigits(std::string_view text)
{
    switch (integerDigits(text)) {
    case 10:
        return EpochUnit::Seconds;
    case 13:
        return EpochUnit::Milliseconds;
    case 16:
        return EpochUnit::Microseconds;
    case 19:
        return EpochUnit::Nanoseconds;
    default:
        return std::nullopt;
    }
}

std::int64_t epochMs(std::string_view text, EpochUnit unit)
{
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(whole.data(), whole.data() + whole.size(), value);
    if (error != std::errc() || end != whole.data() + whole.size()) {
        tooFar(text);
    }
    std::int64_t milli = 0;
    if (point != std::string_view::npos) {
        Cursor cursor{text, point + 1};
        milli = fraction(cursor);
        if (unit != EpochUnit::Seconds && milli != 0) {
            throw InputError(quoted(text) + " is finer than a millisecond");
        }
    }
    static constexpr std::int64_t divisors[] = {1, 1, 1000, 1'000'000};
    const std::int64_t divisor = divisors[static_cast<int>(unit)];
    if (value % divisor != 0) {
        throw InputError(quoted(text) + " is finer than a millisecond");
    }
    value /= divisor;
    if (unit == EpochUnit::Seconds) {
        if (value > int64Max / 1000 || value < int64Min / 1000 ||
            !addChecked(value * 1000, text.starts_with('-') ? -milli : milli, value)) {
            tooFar(text);
        }
    }
    return value;
}

std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void civilFromDays(std::int64_t days, std::int64_t &year, unsigned &month, unsigned &day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    month = shifted < 10 ? shifted + 3 : shifted - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
}

} // namespace quelm::timetext
