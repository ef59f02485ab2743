#pragma once

#include <array>
#include <cstdint>

namespace quelm {

// The on-disk layout of a data file (docs/data-file-format.md): a 64-byte little-endian
// header followed by room for `capacity` bar records of 48 bytes each.
namespace format {
inline constexpr std::array<unsigned char, 8> magic = {'Q', 'U', 'E', 'L', 'M', 'D', 'A', 'T'};
inline constexpr std::uint16_t version = 1;
inline constexpr std::uint16_t headerSize = 64;
inline constexpr std::uint32_t recordSize = 48;
inline constexpr std::uint32_t stateOpen = 0;
inline constexpr std::uint32_t stateClosed = 1;
// The largest capacity whose file size still fits in 64 bits.
inline constexpr std::uint64_t maxCapacity = (UINT64_MAX - headerSize) / recordSize;
// The most bars a header's tail counts: the records that fit in 1 MiB, which a reader reads
// and hashes at most to prove them. An append that would make the tail longer folds it into
// bars written with a flush instead.
inline constexpr std::uint32_t maxTailBars = (1u << 20) / recordSize;
} // namespace format

// One time-series bar: when it starts and its prices and volume.
struct Bar
{
    std::int64_t timeMs = 0; // milliseconds since 1970-01-01 00:00:00 UTC
    double open = 0;
    double high = 0;
    double low = 0;
    double close = 0;
    double volume = 0;

    bool operator==(const Bar &) const = default;
};

// The fields of a data file's header that vary from file to file.
struct DataFileHeader
{
    std::int32_t fileNumber = 0;
    std::uint64_t capacity = 0;    // the bars the file has room for
    std::uint64_t barsWritten = 0; // the bars stored so far, at most capacity; see DataFile
    std::int64_t createdMs = 0;    // creation time, milliseconds since the epoch, UTC
    bool closedCleanly = false;    // false while open, and forever if its writer was killed

    bool operator==(const DataFileHeader &) const = default;
};

// The bars a header counts beyond bars written on disk, appended since its writer's last flush
// (its tail), as found when the file was opened.
struct DataFileTail
{
    std::uint32_t bars = 0; // the bars the tail gives
    bool proven = false;    // their records on disk match its checksum: only then are they counted

    bool operator==(const DataFileTail &) const = default;
};

// The exact size of a file with room for `capacity` bars; capacity must be <= maxCapacity.
constexpr std::uint64_t fileSizeFor(std::uint64_t capacity)
{
    return format::headerSize + capacity * format::recordSize;
}

} // namespace quelm
