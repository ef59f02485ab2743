#include "timeaxis.h"

#include "timetext.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace quelm::chart {
namespace {

constexpr std::int64_t secondMs = 1000;
constexpr std::int64_t minuteMs = 60 * secondMs;
constexpr std::int64_t hourMs = 60 * minuteMs;
constexpr std::int64_t dayMs = 24 * hourMs;

enum class Unit
{
    second,
    minute,
    hour,
    day,
    week, // from Monday
    month,
    year
};

struct Step
{
    Unit unit;
    std::int64_t n;
    std::int64_t ms; // about
};

constexpr std::array steps = {
    Step{Unit::second, 1, secondMs},
    Step{Unit::second, 5, 5 * secondMs},
    Step{Unit::second, 15, 15 * secondMs},
    Step{Unit::second, 30, 30 * secondMs},
    Step{Unit::minute, 1, minuteMs},
    Step{Unit::minute, 5, 5 * minuteMs},
    Step{Unit::minute, 15, 15 * minuteMs},
    Step{Unit::minute, 30, 30 * minuteMs},
    Step{Unit::hour, 1, hourMs},
    Step{Unit::hour, 3, 3 * hourMs},
    Step{Unit::hour, 6, 6 * hourMs},
    Step{Unit::hour, 12, 12 * hourMs},
    Step{Unit::day, 1, dayMs},
    Step{Unit::week, 1, 7 * dayMs},
    Step{Unit::week, 2, 14 * dayMs},
    Step{Unit::month, 1, 30 * dayMs},
    Step{Unit::month, 3, 91 * dayMs},
    Step{Unit::month, 6, 182 * dayMs},
    Step{Unit::year, 1, 365 * dayMs},
    Step{Unit::year, 2, 730 * dayMs},
    Step{Unit::year, 5, 1826 * dayMs},
};

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

// A local time taken apart.
struct Civil
{
    std::int64_t year;
    unsigned month; // 1 to 12
    unsigned day;
    std::int64_t msOfDay;
};

Civil civil(std::int64_t localMs)
{
    const std::int64_t days = floorDiv(localMs, dayMs);
    Civil date{0, 0, 0, localMs - days * dayMs};
    timetext::civilFromDays(days, date.year, date.month, date.day);
    return date;
}

std::int64_t bucketOf(std::int64_t localMs, const Step &step)
{
    switch (step.unit) {
    case Unit::month: {
        const Civil date = civil(localMs);
        return floorDiv(date.year * 12 + date.month - 1, step.n);
    }
    case Unit::year:
        return floorDiv(civil(localMs).year, step.n);
    case Unit::week:
        // 1970-01-01 was a Thursday: three days on, weeks start on Mondays.
        return floorDiv(floorDiv(localMs, dayMs) + 3, 7 * step.n);
    default:
        return floorDiv(localMs, step.ms);
    }
}

void append(std::string &text, std::int64_t value, int digits)
{
    char number[24];
    const auto end = std::to_chars(number, number + sizeof number, value < 0 ? -value : value).ptr;
    if (value < 0) {
        text += '-';
    }
    text.append(static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, digits - (end - number))),
                '0');
    text.append(number, end);
}

// "2026", "2026-12" or "2026-12-07".
std::string dateText(const Civil &date, Unit precision)
{
    std::string text;
    append(text, date.year, 4);
    if (precision < Unit::year) {
        text += '-';
        append(text, date.month, 2);
    }
    if (precision < Unit::month) {
        text += '-';
        append(text, date.day, 2);
    }
    return text;
}

std::string clockText(const Civil &date, bool withSeconds)
{
    std::string text;
    append(text, date.msOfDay / hourMs, 2);
    text += ':';
    append(text, date.msOfDay / minuteMs % 60, 2);
    if (withSeconds) {
        text += ':';
        append(text, date.msOfDay / secondMs % 60, 2);
    }
    return text;
}

} // namespace

std::vector<TimeTick> timeTicks(const std::vector<Candle> &candles, const Zone &zone,
                                double candleWidth, double spacing)
{
    std::vector<TimeTick> ticks;
    if (candles.empty()) {
        return ticks;
    }
    // The step: the finest whose boundaries, over the whole span, leave room for the labels.
    const double room = std::max(1.0, static_cast<double>(candles.size()) * candleWidth / spacing);
    const double span = static_cast<double>(candles.back().lastTimeMs) -
                        static_cast<double>(candles.front().firstTimeMs);
    // Nor finer than the closest candles: minute bars get no seconds.
    double closest = span;
    for (std::size_t c = 1; c < candles.size(); ++c) {
        closest = std::min(closest, static_cast<double>(candles[c].firstTimeMs) -
                                        static_cast<double>(candles[c - 1].firstTimeMs));
    }
    Step step{Unit::year, 10, 3652 * dayMs};
    for (const Step &each : steps) {
        const auto ms = static_cast<double>(each.ms);
        if (span / ms <= room && ms >= closest) {
            step = each;
            break;
        }
    }
    while (step.unit == Unit::year && span / static_cast<double>(step.ms) > room &&
           step.n < 100'000'000) {
        step.n *= 10;
        step.ms *= 10;
    }
    const bool withinDays = step.unit < Unit::day;
    const double end = static_cast<double>(candles.size()) * candleWidth;

    std::int64_t lastBucket = 0;
    std::int64_t lastDay = 0;
    double lastX = 0;
    for (std::size_t c = 0; c < candles.size(); ++c) {
        const std::int64_t utc = candles[c].firstTimeMs;
        const std::int64_t local = utc + zone.offsetMs(utc);
        const std::int64_t bucket = bucketOf(local, step);
        const double x = static_cast<double>(c) * candleWidth;
        // No label too close to the last, nor running past the end of the axis.
        if (c > 0 && (bucket == lastBucket || x - lastX < spacing || x + spacing / 2 > end)) {
            lastBucket = bucket;
            continue;
        }
        lastBucket = bucket;
        lastX = x;
        const Civil date = civil(local);
        TimeTick tick{c, {}, {}};
        if (withinDays) {
            tick.label = clockText(date, step.unit == Unit::second);
            const std::int64_t day = floorDiv(local, dayMs);
            if (ticks.empty() || day != lastDay) {
                tick.date = dateText(date, Unit::day);
            }
            lastDay = day;
        } else {
            tick.label = dateText(date, step.unit);
        }
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

} // namespace quelm::chart
