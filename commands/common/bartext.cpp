#include "bartext.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace quelm::bartext {

namespace {

constexpr std::int64_t msPerDay = 86'400'000;
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back.
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

// days * msPerDay + msOfDay, unless it leaves the 64-bit range. Negative days are taken one
// day nearer zero first, so that the earliest time of all still fits on the way.
bool timeFrom(std::int64_t days, std::int64_t msOfDay, std::int64_t &ms)
{
    if (days >= 0) {
        return days <= int64Max / msPerDay && addChecked(days * msPerDay, msOfDay, ms);
    }
    return days + 1 >= int64Min / msPerDay &&
           addChecked((days + 1) * msPerDay, msOfDay - msPerDay, ms);
}

char *writeDigits(char *out, std::uint64_t value, int width)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int pad = count; pad < width; ++pad) {
        *out++ = '0';
    }
    while (count > 0) {
        *out++ = digits[--count];
    }
    return out;
}

char *writeText(char *out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Reads exactly `count` digits at `at` into `value`.
bool digitsAt(std::string_view text, std::size_t at, std::size_t count, unsigned &value)
{
    if (at + count > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

std::string quoted(std::string_view text)
{
    std::string result(1, '"');
    result.append(text);
    result += '"';
    return result;
}

} // namespace

char *writeTime(char *out, std::int64_t ms)
{
    // Floor division, so that times before 1970 count back from the day they fall in.
    std::int64_t days = ms / msPerDay;
    std::int64_t msOfDay = ms % msPerDay;
    if (msOfDay < 0) {
        msOfDay += msPerDay;
        --days;
    }
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(days, year, month, day);
    if (year < 0) {
        *out++ = '-';
    } else if (year > 9999) {
        *out++ = '+';
    }
    out = writeDigits(out, static_cast<std::uint64_t>(year < 0 ? -year : year), 4);
    *out++ = '-';
    out = writeDigits(out, month, 2);
    *out++ = '-';
    out = writeDigits(out, day, 2);
    *out++ = 'T';
    const auto clock = static_cast<std::uint64_t>(msOfDay);
    out = writeDigits(out, clock / 3'600'000, 2);
    *out++ = ':';
    out = writeDigits(out, clock / 60'000 % 60, 2);
    *out++ = ':';
    out = writeDigits(out, clock / 1000 % 60, 2);
    *out++ = '.';
    out = writeDigits(out, clock % 1000, 3);
    *out++ = 'Z';
    return out;
}

char *writeNumber(char *out, double value)
{
    return std::to_chars(out, out + maxNumberLength, value).ptr;
}

char *writeCsvLine(char *out, const Bar &bar)
{
    out = writeTime(out, bar.timeMs);
    for (const double value : {bar.open, bar.high, bar.low, bar.close, bar.volume}) {
        *out++ = ',';
        out = writeNumber(out, value);
    }
    *out++ = '\n';
    return out;
}

char *writeJsonLine(char *out, const Bar &bar)
{
    out = writeText(out, "{\"time\":\"");
    out = writeTime(out, bar.timeMs);
    *out++ = '"';
    const double values[] = {bar.open, bar.high, bar.low, bar.close, bar.volume};
    for (std::size_t i = 0; i < std::size(values); ++i) {
        *out++ = ',';
        *out++ = '"';
        out = writeText(out, columnNames[i + 1]);
        out = writeText(out, "\":");
        out = std::isfinite(values[i]) ? writeNumber(out, values[i]) : writeText(out, "null");
    }
    return writeText(out, "}\n");
}

std::string readTime(std::string_view text, std::int64_t &ms)
{
    if (text.empty()) {
        return "empty; a time is ISO-8601 (2026-12-07T06:01:02.345Z) or milliseconds since 1970";
    }
    const bool negative = text[0] == '-';
    const bool sign = negative || text[0] == '+';
    const std::size_t digitsEnd = text.find_first_not_of("0123456789", sign ? 1 : 0);
    const std::string notTime = quoted(text) +
                                " is not a time; a time is ISO-8601 (2026-12-07T06:01:02.345Z) or "
                                "milliseconds since 1970";
    if (text.size() == (sign ? 1u : 0u) || digitsEnd == (sign ? 1u : 0u)) {
        return notTime;
    }
    if (digitsEnd == std::string_view::npos && !text.starts_with('+')) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
        if (error != std::errc() || end != text.data() + text.size()) {
            return quoted(text) + " is too far from 1970 for a time in milliseconds";
        }
        return "";
    }

    // Four digits of year, or more with a sign.
    const std::size_t yearDigits =
        digitsEnd == std::string_view::npos ? 0 : digitsEnd - (sign ? 1 : 0);
    if (yearDigits < 4 || (yearDigits > 4 && !sign) || yearDigits > 9 || text[digitsEnd] != '-') {
        return notTime;
    }
    std::int64_t year = 0;
    std::from_chars(text.data() + (sign ? 1 : 0), text.data() + digitsEnd, year);
    if (negative) {
        year = -year;
    }
    std::size_t at = digitsEnd + 1;
    unsigned month = 0, day = 0;
    if (!digitsAt(text, at, 2, month) || at + 2 >= text.size() || text[at + 2] != '-' ||
        !digitsAt(text, at + 3, 2, day)) {
        return notTime;
    }
    at += 5;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) {
        return quoted(text) + " is not a date of the calendar";
    }

    unsigned hour = 0, minute = 0, second = 0, milli = 0;
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        if (!digitsAt(text, at + 1, 2, hour) || at + 3 >= text.size() || text[at + 3] != ':' ||
            !digitsAt(text, at + 4, 2, minute)) {
            return notTime;
        }
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (!digitsAt(text, at + 1, 2, second)) {
                return notTime;
            }
            at += 3;
            if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
                const std::size_t first = ++at;
                for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
                    const unsigned digit = static_cast<unsigned>(text[at] - '0');
                    if (at - first < 3) {
                        milli = milli * 10 + digit;
                    } else if (digit != 0) {
                        return quoted(text) + " is finer than a millisecond";
                    }
                }
                if (at == first) {
                    return notTime;
                }
                for (std::size_t scale = at - first; scale < 3; ++scale) {
                    milli *= 10;
                }
            }
        }
        if (hour > 23 || minute > 59 || second > 59) {
            return quoted(text) + " is not a time of day";
        }
    }

    std::int64_t offsetMs = 0;
    if (at < text.size() && text[at] == 'Z') {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        unsigned offsetHours = 0, offsetMinutes = 0;
        const std::size_t minutesAt = at + 3 < text.size() && text[at + 3] == ':' ? at + 4 : at + 3;
        if (!digitsAt(text, at + 1, 2, offsetHours) ||
            !digitsAt(text, minutesAt, 2, offsetMinutes) || offsetHours > 23 ||
            offsetMinutes > 59) {
            return notTime;
        }
        offsetMs = (offsetHours * 60 + offsetMinutes) * std::int64_t{60'000};
        if (text[at] == '-') {
            offsetMs = -offsetMs;
        }
        at = minutesAt + 2;
    }
    if (at != text.size()) {
        return notTime;
    }
    const std::int64_t msOfDay = ((hour * 60 + minute) * 60 + second) * std::int64_t{1000} + milli;
    if (!timeFrom(daysFromCivil(year, month, day), msOfDay, ms) || !addChecked(ms, -offsetMs, ms)) {
        return quoted(text) + " is too far from 1970 for a time in milliseconds";
    }
    return "";
}

std::string readNumber(std::string_view text, double &value)
{
    if (text.empty()) {
        return "empty; a number is needed";
    }
    // from_chars takes a minus but no plus; a plus is allowed before digits only.
    const std::string_view number = text[0] == '+' ? text.substr(1) : text;
    const char *const end = number.data() + number.size();
    const auto [stop, error] = std::from_chars(number.data(), end, value);
    if (error == std::errc::result_out_of_range) {
        return quoted(text) + " is out of the range of a double";
    }
    if (error != std::errc() || stop != end || (number != text && number.starts_with('-'))) {
        return quoted(text) + " is not a number";
    }
    if (!std::isfinite(value)) {
        return quoted(text) + " is not a finite number";
    }
    return "";
}

} // namespace quelm::bartext
