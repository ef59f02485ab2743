#pragma once

#include <quelm/datafileformat.h>
#include "runprogram.h"
#include "tempfolder.h"

#include <cstdint>
#include <filesystem>
#include <vector>

// What the tests of the import and export commands share besides temporary folders and child
// processes: data files made by the store, and bars.
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

} // namespace testsupport
