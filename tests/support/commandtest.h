#pragma once

#include "rows.h"
#include "runprogram.h"
#include "tempfolder.h"

#include <quelm/datafileformat.h>

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

// What the tests of the commands share: data files made by the store in a temporary folder of
// the test's own, the commands run on them, bars, and the CSV the commands read and write.
namespace testsupport {

// Makes data file 1 with room for `capacity` bars through the store, in a run folder of its own
// under `root`, fills in `bars` and closes it as the window does. Returns its path.
std::filesystem::path makeDataFile(const std::filesystem::path &root, std::int32_t capacity,
                                   const std::vector<quelm::Bar> &bars = {});

// `count` valid bars, one a minute from `startMs`, with prices that vary.
std::vector<quelm::Bar> sampleBars(std::size_t count,
                                   std::int64_t startMs = 1'796'623'262'345); // 2026-12-07
// The bars as the CSV that quelm-export writes.
std::string csvOf(const std::vector<quelm::Bar> &bars);

// The bars stored in a data file, read with the component.
std::vector<quelm::Bar> storedBars(const std::filesystem::path &path);

// The first line of the CSV that the commands read and write.
inline const std::string header = "time,open,high,low,close,volume\n";

// `text` (UTF-8) as UTF-16, little- or big-endian, after its byte order mark.
std::string utf16(std::string_view text, bool little);

inline bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A test (or with a TestWithParam base, a table) that makes data files in a temporary folder
// of its own and runs the commands on them.
template <typename Base = ::testing::Test> class CommandFixture : public Base
{
protected:
    std::filesystem::path dataFile(std::int32_t capacity, const std::vector<quelm::Bar> &bars = {})
    {
        return makeDataFile(scratch.path(), capacity, bars);
    }

    TempFolder scratch;
};
using CommandTest = CommandFixture<>;
template <typename Row> using CommandTable = CommandFixture<::testing::TestWithParam<Row>>;

} // namespace testsupport
