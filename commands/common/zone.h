#pragma once

#include <cstdint>
#include <string>

namespace date {
class time_zone;
}

namespace quelm {

// The zone of times that name none: UTC, a fixed offset, or an IANA zone from the system's
// zone database (where there is one), whose daylight saving applies to each time.
class Zone
{
public:
    // UTC.
    Zone() = default;
    // "UTC", "Z", "+05:30", "-0500", "+02" or "America/New_York". Throws
    // quelm::tools::UsageError for a name the system does not know.
    static Zone named(const std::string &name);

    const std::string &name() const { return m_name; }

    // The instants a wall-clock time (counted as if it were UTC, within `reach` of 1970) stands
    // for in this zone: one, two where the clocks go back, none where they skip it.
    static constexpr std::int64_t reach = 253'402'300'800'000; // 10000-01-01
    struct Instants
    {
        int count = 1;
        std::int64_t earliest = 0;
        std::int64_t latest = 0;
    };
    Instants toUtc(std::int64_t wallMs) const;

    // What to add to a UTC time to get the wall-clock time here then.
    std::int64_t offsetMs(std::int64_t utcMs) const;

private:
    std::string m_name = "UTC";
    std::int64_t m_offsetMs = 0;
    const date::time_zone *m_zone = nullptr;
};

} // namespace quelm
