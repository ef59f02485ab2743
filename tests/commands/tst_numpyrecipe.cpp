// The numpy recipe of docs/data-file-format.md, run as written on a file the store made and
// filled, reads the very bars that were counted.

#include "bartext.h"
#include "commandtest.h"

#include <quelm/datafile.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <sstream>

using namespace quelm;
using namespace testsupport;

struct RecipeRow
{
    const char *name;
    std::size_t flushed; // bars flushed by their writer
    std::size_t tail;    // bars appended after them by a writer still at work
    bool changed;        // a record of the tail then changed on disk
};

using NumpyRecipe = CommandTable<RecipeRow>;

// The recipe reads the flushed bars, and the tail after them only when its records prove it.
TEST_P(NumpyRecipe, ReadsTheCountedBars)
{
    const RecipeRow &row = GetParam();
    std::vector<Bar> bars = sampleBars(row.flushed + row.tail);
    bars[1].low = -0.0;
    bars[1].open = 0.1;
    bars[2].volume = std::numeric_limits<double>::denorm_min();
    bars[3].high = 1e308;
    const auto path = dataFile(8, std::vector<Bar>(bars.begin(), bars.begin() + row.flushed));
    ASSERT_EQ(path.filename(), "0001.qdf");
    std::optional<DataFile> writer;
    if (row.tail > 0) {
        writer = DataFile::open(path, DataFile::Mode::ReadWrite);
        for (std::size_t i = row.flushed; i < bars.size(); ++i) {
            writer->appendBar(bars[i]);
        }
    }
    if (row.changed) {
        std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
            .seekp(static_cast<std::streamoff>(64 + 48 * row.flushed + 47))
            .put('\x7f');
    }
    bars.resize(row.flushed + (row.changed ? 0 : row.tail));

    const Result result = run({QUELM_PYTHON3, QUELM_RECIPE, QUELM_DOC, path.parent_path()});
    ASSERT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_LT(count, bars.size()) << line;
        std::istringstream fields(line);
        std::int64_t time = 0;
        std::string values[5], shown;
        fields >> time >> values[0] >> values[1] >> values[2] >> values[3] >> values[4] >> shown;
        const Bar read{time,
                       std::strtod(values[0].c_str(), nullptr),
                       std::strtod(values[1].c_str(), nullptr),
                       std::strtod(values[2].c_str(), nullptr),
                       std::strtod(values[3].c_str(), nullptr),
                       std::strtod(values[4].c_str(), nullptr)};
        EXPECT_EQ(std::memcmp(&read, &bars[count], sizeof read), 0) << line;
        // numpy shows times as ISO-8601 without the zone.
        char text[bartext::maxTimeLength];
        EXPECT_EQ(shown + "Z", std::string(text, bartext::writeTime(text, bars[count].timeMs)));
    }
    EXPECT_EQ(count, bars.size());
}

INSTANTIATE_TEST_SUITE_P(Table, NumpyRecipe,
                         testing::Values(RecipeRow{"Flushed", 5, 0, false},
                                         RecipeRow{"ProvenTail", 2, 3, false},
                                         RecipeRow{"TailNotProven", 2, 3, true}),
                         RowName());
