// The check that bars pass before they are appended: each rule refused with the bar and the
// reason named, fit bars let through, and the file's own last bar and room taken into account.

#include "testsupport.h"

#include <quelm/barcheck.h>
#include <quelm/datafile.h>

#include <limits>

using namespace quelm;

namespace {

constexpr double largest = std::numeric_limits<double>::max();
constexpr std::int64_t t0 = 1796623260000; // 2026-12-07T06:01:00.000Z

Bar bar(std::int64_t minute, double open = 2, double high = 3, double low = 1, double close = 2,
        double volume = 10)
{
    return {t0 + minute * 60000, open, high, low, close, volume};
}

struct BarCheckRow
{
    const char *name;
    std::vector<Bar> bars;
    std::optional<std::int64_t> after;
    std::uint64_t room;
    std::string problem; // empty when the bars are fit
};

std::ostream &operator<<(std::ostream &out, const BarCheckRow &row)
{
    return out << row.name;
}

const std::string at0 = "bar 0 (2026-12-07T06:01:00.000Z): ";
const std::string at1 = "bar 1 (2026-12-07T06:02:00.000Z): ";

// clang-format off
const BarCheckRow barCheckRows[] = {
    {"none", {}, t0, 0, ""},
    {"fit, edges equal", {bar(0, 1, 1, 1, 1, 0), bar(1, -0.0, 0, -0.0, 0, -0.0)}, {}, 2, ""},
    {"fit, subnormal and largest", {bar(0, 5e-324, largest, 0, 5e-324, largest)}, t0 - 1, 1, ""},
    {"not a number", {bar(0), bar(1, std::numeric_limits<double>::quiet_NaN())}, {}, 9,
     at1 + "its open, nan, is not a finite number"},
    {"infinite volume", {bar(0, 2, 3, 1, 2, largest * 2)}, {}, 9,
     at0 + "its volume, inf, is not a finite number"},
    {"high below low", {bar(0, 2, 1, 2, 2)}, {}, 9, at0 + "its high, 1, is below its low, 2"},
    {"open above high", {bar(0, 3.5)}, {}, 9,
     at0 + "its open, 3.5, is outside its low and high, 1 to 3"},
    {"close below low", {bar(0, 2, 3, 1, 0.5)}, {}, 9,
     at0 + "its close, 0.5, is outside its low and high, 1 to 3"},
    {"volume negative", {bar(0, 2, 3, 1, 2, -1)}, {}, 9, at0 + "its volume, -1, is negative"},
    {"time of the file's last", {bar(0)}, t0, 9,
     at0 + "its time is not after that of the file's last bar, 2026-12-07T06:01:00.000Z"},
    {"time going back", {bar(-1), {-1, 1, 1, 1, 1, 1}}, {}, 9,
     "bar 1 (1969-12-31T23:59:59.999Z): its time is not after that of the bar before it, "
     "2026-12-07T06:00:00.000Z"},
    {"one past the room", {bar(0), bar(1)}, {}, 1,
     at1 + "the file has room for 1 more bar, and this is one more"},
    {"a bad bar before the room runs out", {bar(0), bar(1, 9)}, {}, 1,
     at1 + "its open, 9, is outside its low and high, 1 to 3"},
    {"year 10000", {{253402300800000, 1, 0, 1, 1, 0}}, {}, 9,
     "bar 0 (253402300800000 ms since 1970): its high, 0, is below its low, 1"},
};
// clang-format on

class BarCheck : public ::testing::TestWithParam<BarCheckRow>
{
};

TEST_P(BarCheck, NamesTheFirstUnfitBarAndWhy)
{
    const BarCheckRow &row = GetParam();
    const auto problem = findBarProblem(row.bars, row.after, row.room);
    EXPECT_EQ(problem ? problem->message : "", row.problem);
}

INSTANTIATE_TEST_SUITE_P(DataFile, BarCheck, ::testing::ValuesIn(barCheckRows),
                         testsupport::RowName());

// Against a real file: after its last bar, into the room it has left.
TEST(BarCheckFile, TakesTheFileLastBarAndRoom)
{
    testsupport::TempFolder folder;
    DataFile file = DataFile::create(folder.path() / "bars.qdf", 3);
    EXPECT_FALSE(findBarProblem(std::vector{bar(0), bar(1), bar(2)}, file));
    file.appendBars(std::vector{bar(5), bar(6)});
    const auto late = findBarProblem(std::vector{bar(6)}, file);
    ASSERT_TRUE(late);
    EXPECT_NE(late->message.find("last bar, 2026-12-07T06:07:00.000Z"), std::string::npos);
    const auto full = findBarProblem(std::vector{bar(7), bar(8)}, file);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->index, 1u);
}

} // namespace
