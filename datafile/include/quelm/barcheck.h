#pragma once

#include <quelm/datafile_export.h>
#include <quelm/datafileformat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quelm {

class DataFile;

// What makes a bar unfit to append, so that a file holds only bars a reader can trust: every
// number finite, the high not below the low, the open and the close between them, the volume
// not negative, each time after the one before it (the first after the file's last bar), and
// no more bars than the file has room for.
struct BarProblem
{
    std::size_t index;   // the bar's place among those checked, counting from 0
    std::string message; // "bar 2 (2026-12-07T06:01:00.000Z): its high, 1, is below its low, 2"
};

// The first problem of `bars` as appended after a bar of time `after` (none when the file holds
// no bar yet) into room for `room` more bars; nothing when they are all fit.
QUELM_DATAFILE_EXPORT std::optional<BarProblem>
findBarProblem(std::span<const Bar> bars, std::optional<std::int64_t> after, std::uint64_t room);
// The same for appending `bars` to `file`: after its last bar, into the room it has left.
// Throws DataFileError when the last bar cannot be read.
QUELM_DATAFILE_EXPORT std::optional<BarProblem> findBarProblem(std::span<const Bar> bars,
                                                               const DataFile &file);

} // namespace quelm
