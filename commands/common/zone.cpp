#include "zone.h"

#include "commanderror.h"

#include <optional>
#include <string_view>

#ifdef QUELM_ZONE_DATABASE
#include <date/tz.h>
#endif

namespace quelm {

namespace {

bool twoDigits(std::string_view text, std::size_t at, int &value)
{
    if (at + 2 > text.size() || text[at] < '0' || text[at] > '9' || text[at + 1] < '0' ||
        text[at + 1] > '9') {
        return false;
    }
    value = (text[at] - '0') * 10 + (text[at + 1] - '0');
    return true;
}

// "+hh:mm", "+hhmm" or "+hh" (or with a minus) as milliseconds east of UTC.
std::optional<std::int64_t> offsetOf(std::string_view text)
{
    if (text == "UTC" || text == "Z") {
        return 0;
    }
    int hours = 0, minutes = 0;
    if (text.size() < 3 || (text[0] != '+' && text[0] != '-') || !twoDigits(text, 1, hours)) {
        return std::nullopt;
    }
    const std::string_view rest = text.substr(3);
    const bool valid = rest.empty() || (rest.size() == 2 && twoDigits(rest, 0, minutes)) ||
                       (rest.size() == 3 && rest[0] == ':' && twoDigits(rest, 1, minutes));
    if (!valid || hours > 23 || minutes > 59) {
        return std::nullopt;
    }
    const std::int64_t offset = (hours * 60 + minutes) * std::int64_t{60'000};
    return text[0] == '-' ? -offset : offset;
}

} // namespace

Zone Zone::named(const std::string &name)
{
    Zone zone;
    zone.m_name = name;
    if (const auto offset = offsetOf(name)) {
        zone.m_offsetMs = *offset;
        return zone;
    }
#ifdef QUELM_ZONE_DATABASE
    try {
        zone.m_zone = date::locate_zone(name);
        return zone;
    } catch (const std::exception &) {
        throw tools::UsageError("--tz " + name +
                                ": no such zone in the system's zone database; a zone is an IANA "
                                "name such as America/New_York, or an offset such as -05:00");
    }
#else
    throw tools::UsageError("--tz " + name +
                            ": this system has no zone database for zone names; give the zone "
                            "as an offset from UTC, such as -05:00");
#endif
}

Zone::Instants Zone::toUtc(std::int64_t wallMs) const
{
#ifdef QUELM_ZONE_DATABASE
    if (m_zone) {
        using namespace std::chrono;
        const date::local_time<milliseconds> wall{milliseconds(wallMs)};
        const date::local_info info = m_zone->get_info(date::floor<seconds>(wall));
        const auto at = [&](const date::sys_info &rule) {
            return wallMs - duration_cast<milliseconds>(rule.offset).count();
        };
        switch (info.result) {
        case date::local_info::unique:
            return {1, at(info.first), at(info.first)};
        case date::local_info::ambiguous:
            return {2, at(info.first), at(info.second)};
        default:
            return {0, 0, 0};
        }
    }
#endif
    return {1, wallMs - m_offsetMs, wallMs - m_offsetMs};
}

std::int64_t Zone::offsetMs(std::int64_t utcMs) const
{
#ifdef QUELM_ZONE_DATABASE
    if (m_zone) {
        using namespace std::chrono;
        const sys_seconds at = floor<seconds>(sys_time<milliseconds>(milliseconds(utcMs)));
        return duration_cast<milliseconds>(m_zone->get_info(at).offset).count();
    }
#endif
    (void)utcMs;
    return m_offsetMs;
}

} // namespace quelm
