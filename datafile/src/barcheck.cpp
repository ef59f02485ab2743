#include <quelm/barcheck.h>
#include <quelm/datafile.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

namespace quelm {

namespace {

std::string numberText(double value)
{
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// "2026-12-07T06:01:00.000Z"; a time outside the years 0 to 9999 as its milliseconds.
std::string timeText(std::int64_t ms)
{
    using namespace std::chrono;
    constexpr std::int64_t lowest = -62'167'219'200'000;  // 0000-01-01T00:00:00Z
    constexpr std::int64_t highest = 253'402'300'799'999; // 9999-12-31T23:59:59.999Z
    if (ms < lowest || ms > highest) {
        return std::to_string(ms) + " ms since 1970";
    }
    const sys_time<milliseconds> time{milliseconds(ms)};
    const sys_days day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss clock(time - day);
    char text[80]; // room for any int in each field, though each fits its width
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()),
                  int(clock.subseconds().count()));
    return text;
}

// The reason `bar` may not follow a bar of time `before`, empty when it may.
std::string reasonAgainst(const Bar &bar, std::optional<std::int64_t> before, bool firstOfBatch)
{
    static constexpr const char *names[] = {"open", "high", "low", "close", "volume"};
    const double values[] = {bar.open, bar.high, bar.low, bar.close, bar.volume};
    for (std::size_t i = 0; i < std::size(values); ++i) {
        if (!std::isfinite(values[i])) {
            return std::string("its ") + names[i] + ", " + numberText(values[i]) +
                   ", is not a finite number";
        }
    }
    if (before && bar.timeMs <= *before) {
        return std::string("its time is not after that of ") +
               (firstOfBatch ? "the file's last bar, " : "the bar before it, ") + timeText(*before);
    }
    if (bar.high < bar.low) {
        return "its high, " + numberText(bar.high) + ", is below its low, " + numberText(bar.low);
    }
    for (const auto &[name, value] : {std::pair{"open", bar.open}, std::pair{"close", bar.close}}) {
        if (value < bar.low || value > bar.high) {
            return std::string("its ") + name + ", " + numberText(value) +
                   ", is outside its low and high, " + numberText(bar.low) + " to " +
                   numberText(bar.high);
        }
    }
    if (bar.volume < 0) {
        return "its volume, " + numberText(bar.volume) + ", is negative";
    }
    return {};
}

} // namespace

std::optional<BarProblem> findBarProblem(std::span<const Bar> bars,
                                         std::optional<std::int64_t> after, std::uint64_t room)
{
    std::optional<std::int64_t> before = after;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        std::string reason = reasonAgainst(bars[i], before, i == 0);
        if (reason.empty() && i == room) {
            reason = "the file has room for " + std::to_string(room) +
                     (room == 1 ? " more bar" : " more bars") + ", and this is one more";
        }
        if (!reason.empty()) {
            return BarProblem{i, "bar " + std::to_string(i) + " (" + timeText(bars[i].timeMs) +
                                     "): " + reason};
        }
        before = bars[i].timeMs;
    }
    return std::nullopt;
}

std::optional<BarProblem> findBarProblem(std::span<const Bar> bars, const DataFile &file)
{
    const DataFileHeader &header = file.header();
    std::optional<std::int64_t> after;
    if (header.barsWritten > 0) {
        after = file.readBar(header.barsWritten - 1).timeMs;
    }
    return findBarProblem(bars, after, header.capacity - header.barsWritten);
}

} // namespace quelm
