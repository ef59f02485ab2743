#include "quickline.h"

#include "timetext.h"

#include <cmath>
#include <cstring>
#include <fast_float/fast_float.h>

namespace quelm {

using csv::Field;

namespace {

constexpr std::int64_t msPerDay = 86'400'000;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Two digits at text[at] as a number, or -1.
int twoDigits(std::string_view text, std::size_t at)
{
    return isDigit(text[at]) && isDigit(text[at + 1]) ? (text[at] - '0') * 10 + (text[at + 1] - '0')
                                                      : -1;
}

// A zero that is one, not a number too small for a double.
bool isZero(std::string_view text)
{
    for (const char c : text) {
        if (c == 'e' || c == 'E') {
            return true;
        }
        if (c >= '1' && c <= '9') {
            return false;
        }
    }
    return true;
}

} // namespace

QuickLine::QuickLine(const csv::Layout &layout)
    : m_decimal(layout.decimal), m_fieldCount(layout.fields), m_atLeast(layout.atLeast),
      m_column(layout.column),
      m_enabled(layout.decimalHow != csv::Layout::Settled::Assumed && layout.at(Field::Date) < 0)
{
}

bool QuickLine::read(const std::vector<std::string_view> &fields, Bar &bar, bool &zoned)
{
    if (!m_enabled || fields.size() < m_fieldCount ||
        (fields.size() > m_fieldCount && !m_atLeast)) {
        return false;
    }
    const auto text = [&](Field field) {
        return fields[static_cast<std::size_t>(m_column[static_cast<std::size_t>(field)])];
    };
    bar.volume = 0;
    if (!readIsoTime(text(Field::Time), bar.timeMs, zoned) ||
        !readNumber(text(Field::Open), bar.open) || !readNumber(text(Field::High), bar.high) ||
        !readNumber(text(Field::Low), bar.low) || !readNumber(text(Field::Close), bar.close) ||
        (m_column[static_cast<std::size_t>(Field::Volume)] >= 0 &&
         !readNumber(text(Field::Volume), bar.volume))) {
        return false;
    }
    return bar.high >= bar.low && bar.open >= bar.low && bar.open <= bar.high &&
           bar.close >= bar.low && bar.close <= bar.high && bar.volume >= 0;
}

bool QuickLine::readNumber(std::string_view text, double &value) const
{
    const char *const end = text.data() + text.size();
    const auto [stop, error] = fast_float::from_chars_advanced(
        text.data(), end, value,
        fast_float::parse_options(fast_float::chars_format::general, m_decimal));
    return error == std::errc() && stop == end && std::isfinite(value) &&
           (value != 0 || isZero(text));
}

bool QuickLine::readIsoTime(std::string_view text, std::int64_t &ms, bool &zoned)
{
    const std::size_t size = text.size();
    if (size < 10 || text[4] != '-' || text[7] != '-') {
        return false;
    }
    if (std::memcmp(text.data(), m_dayText, sizeof m_dayText) != 0) {
        const int century = twoDigits(text, 0), year = twoDigits(text, 2);
        const int month = twoDigits(text, 5), day = twoDigits(text, 8);
        if (century < 0 || year < 0 || month < 1 || month > 12 || day < 1) {
            return false;
        }
        const std::int64_t days = timetext::daysFromCivil(
            century * 100 + year, static_cast<unsigned>(month), static_cast<unsigned>(day));
        std::int64_t backYear = 0;
        unsigned backMonth = 0, backDay = 0;
        timetext::civilFromDays(days, backYear, backMonth, backDay);
        if (backDay != static_cast<unsigned>(day)) {
            return false;
        }
        std::memcpy(m_dayText, text.data(), sizeof m_dayText);
        m_dayMs = days * msPerDay;
    }
    ms = m_dayMs;
    zoned = false;
    std::size_t at = 10;
    if (at == size) {
        return true;
    }
    if ((text[at] != ' ' && text[at] != 'T') || size < 16 || text[13] != ':') {
        return false;
    }
    const int hour = twoDigits(text, 11), minute = twoDigits(text, 14);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        return false;
    }
    std::int64_t clock = (hour * 60 + minute) * 60'000;
    at = 16;
    if (at + 3 <= size && text[at] == ':') {
        const int second = twoDigits(text, at + 1);
        if (second < 0 || second > 59) {
            return false;
        }
        clock += second * 1000;
        at += 3;
        if (at + 4 <= size && text[at] == '.') {
            const int tenths = twoDigits(text, at + 1);
            if (tenths < 0 || !isDigit(text[at + 3])) {
                return false;
            }
            clock += tenths * 10 + (text[at + 3] - '0');
            at += 4;
        }
    }
    if (at + 1 == size && text[at] == 'Z') {
        zoned = true;
        ++at;
    }
    ms += clock;
    return at == size;
}

} // namespace quelm
