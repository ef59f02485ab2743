// Wall-clock times in a zone and the instants they stand for, as the commands' zone reads them
// and as quelm-import stores them: summer and winter dates on both sides of the equator, so that
// daylight saving applied the wrong way round shows, and the hours the clocks skip or repeat.

#include "commandtest.h"
#include "timetext.h"
#include "zone.h"

#include <gtest/gtest.h>

using namespace quelm;
using namespace testsupport;

namespace {

const std::string importer = QUELM_IMPORT;

struct WallTime
{
    const char *name;
    std::string zone;
    std::string wall; // naming no zone, as a CSV file writes it
    int count;        // the instants it stands for: 0 where the clocks skip it
    std::int64_t earliest;
    std::int64_t latest;
};

using ReadsWallTimes = CommandTable<WallTime>;

constexpr std::int64_t hour = 3'600'000;
constexpr std::int64_t summer = 1'783'317'660'000;   // 2026-07-06T06:01Z
constexpr std::int64_t winter = 1'796'623'260'000;   // 2026-12-07T06:01Z
constexpr std::int64_t fallBack = 1'793'511'000'000; // 2026-11-01T05:30Z, 01:30 EDT

std::vector<WallTime> rows()
{
    std::vector<WallTime> rows = {
        {"Utc", "UTC", "2026-07-06 06:01", 1, summer, summer},
        {"OffsetInSummer", "+05:30", "2026-07-06 11:31", 1, summer, summer},
        {"OffsetWest", "-03:00", "2026-12-07 03:01", 1, winter, winter}};
#ifndef _WIN32
    // Zone names need the system's zone database, which Windows has not.
    const std::vector<WallTime> named = {
        {"NewYorkInWinter", "America/New_York", "2026-12-07 01:01", 1, winter, winter},
        {"NewYorkInSummer", "America/New_York", "2026-07-06 02:01", 1, summer, summer},
        {"BerlinInWinter", "Europe/Berlin", "2026-12-07 07:01", 1, winter, winter},
        {"BerlinInSummer", "Europe/Berlin", "2026-07-06 08:01", 1, summer, summer},
        {"SydneyInItsSummer", "Australia/Sydney", "2026-12-07 17:01", 1, winter, winter},
        {"SydneyInItsWinter", "Australia/Sydney", "2026-07-06 16:01", 1, summer, summer},
        {"NewYorkRepeatsAnHour", "America/New_York", "2026-11-01 01:30", 2, fallBack,
         fallBack + hour},
        {"NewYorkSkipsAnHour", "America/New_York", "2027-03-14 02:30", 0, 0, 0}};
    rows.insert(rows.end(), named.begin(), named.end());
#endif
    return rows;
}

} // namespace

TEST_P(ReadsWallTimes, AsTheInstantsTheyStandFor)
{
    const WallTime &row = GetParam();
    const Zone zone = Zone::named(row.zone);
    const std::int64_t wall = timetext::readTime(row.wall).ms;
    const Zone::Instants instants = zone.toUtc(wall);
    ASSERT_EQ(instants.count, row.count);
    if (row.count == 0) {
        return;
    }
    EXPECT_EQ(instants.earliest, row.earliest);
    EXPECT_EQ(instants.latest, row.latest);
    EXPECT_EQ(zone.offsetMs(row.earliest), wall - row.earliest);
    EXPECT_EQ(zone.offsetMs(row.latest), wall - row.latest);
    if (row.count == 1) {
        const auto path = dataFile(2);
        const Result result = run({importer, path.string(), "--tz", row.zone},
                                  "time,open,high,low,close\n" + row.wall + ",1,2,0.5,1.5\n");
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(storedBars(path), (std::vector<Bar>{{row.earliest, 1, 2, 0.5, 1.5, 0}}));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReadsWallTimes, testing::ValuesIn(rows()), RowName());
