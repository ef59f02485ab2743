#pragma once

#include "quelm/datafile_export.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

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
    std::uint64_t barsWritten = 0; // the bars stored so far, at most capacity
    std::int64_t createdMs = 0;    // creation time, milliseconds since the epoch, UTC
    bool closedCleanly = false;    // false while open, and forever if its writer was killed

    bool operator==(const DataFileHeader &) const = default;
};

// A header and a bar record as they lie in the file.
using HeaderBytes = std::array<unsigned char, format::headerSize>;
using RecordBytes = std::array<unsigned char, format::recordSize>;

// Lays out a header, checksum included.
QUELM_DATAFILE_EXPORT HeaderBytes encodeHeader(const DataFileHeader &header);
// Checks magic, version, sizes, state and checksum. Returns "" and fills `header` when all
// hold, otherwise the reason in plain words and leaves `header` alone.
QUELM_DATAFILE_EXPORT std::string decodeHeader(const HeaderBytes &bytes, DataFileHeader &header);
// A bar's record and back; every bit pattern is a bar, so decoding cannot fail.
QUELM_DATAFILE_EXPORT RecordBytes encodeBar(const Bar &bar);
QUELM_DATAFILE_EXPORT Bar decodeBar(const RecordBytes &bytes);
// The exact size of a file with room for `capacity` bars; capacity must be <= maxCapacity.
QUELM_DATAFILE_EXPORT std::uint64_t fileSizeFor(std::uint64_t capacity);
// CRC-32 as in zlib and PNG (reflected polynomial 0xEDB88320).
QUELM_DATAFILE_EXPORT std::uint32_t crc32(const unsigned char *data, std::size_t size);

} // namespace quelm
