#include "bartext.h"

#include "timetext.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace quelm::bartext {

namespace {

constexpr std::int64_t msPerDay = 86'400'000;

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
    timetext::civilFromDays(days, year, month, day);
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

std::string timeText(std::int64_t ms)
{
    char text[maxTimeLength];
    return std::string(text, writeTime(text, ms));
}

char *writeNumber(char *out, double value)
{
    return std::to_chars(out, out + maxNumberLength, value).ptr;
}

std::string numberText(double value)
{
    char text[maxNumberLength];
    return std::string(text, writeNumber(text, value));
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

} // namespace quelm::bartext
