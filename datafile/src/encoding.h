#pragma once

// How headers and bar records are laid out in bytes, and their checksums: the header's CRC-32,
// the library's own, and the tail's XXH3-64, Debian's libxxhash-dev used header-only.

#include <quelm/datafileformat.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

// xxHash header-only: nothing to link, on Linux or in the Windows build.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace quelm {

// A header and a bar record as they lie in the file.
using HeaderBytes = std::array<unsigned char, format::headerSize>;
using RecordBytes = std::array<unsigned char, format::recordSize>;

// The header's tail fields: the bars appended after those that bars written counts, and the
// checksum of their records. A reader counts them only when that checksum matches.
struct TailFields
{
    std::uint32_t bars = 0;
    std::uint64_t checksum = 0;

    bool operator==(const TailFields &) const = default;
};

// Lays out a header, with bars written as given and the tail, checksum included.
HeaderBytes encodeHeader(const DataFileHeader &header, const TailFields &tail = {});
// A header that fails a check, with the reason in plain words; the caller says which file.
class DamagedHeader : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Checks magic, version, sizes, state and checksum and gives the header; throws DamagedHeader
// when any fails.
DataFileHeader decodeHeader(const HeaderBytes &bytes);
// The tail fields of a header that decodeHeader accepted; they are not checked against anything.
TailFields decodeTail(const HeaderBytes &bytes);
// A bar's record and back; every bit pattern is a bar, so decoding cannot fail.
RecordBytes encodeBar(const Bar &bar);
Bar decodeBar(const RecordBytes &bytes);
// CRC-32 as in zlib and PNG (reflected polynomial 0xEDB88320).
std::uint32_t crc32(const unsigned char *data, std::size_t size);

// The checksum of a tail's records, XXH3-64 with seed 0, taken as records are added, so that
// each append hashes only its own records.
class TailChecksum
{
public:
    TailChecksum()
    {
        XXH3_INITSTATE(&m_state);
        reset();
    }

    void reset() { XXH3_64bits_reset(&m_state); }
    void add(const void *records, std::size_t size) { XXH3_64bits_update(&m_state, records, size); }
    std::uint64_t value() const { return XXH3_64bits_digest(&m_state); }

private:
    XXH3_state_t m_state;
};

} // namespace quelm
