#pragma once

// How headers and bar records are laid out in bytes, and their checksum: the library's own.

#include <quelm/datafileformat.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace quelm {

// A header and a bar record as they lie in the file.
using HeaderBytes = std::array<unsigned char, format::headerSize>;
using RecordBytes = std::array<unsigned char, format::recordSize>;

// Lays out a header, checksum included.
HeaderBytes encodeHeader(const DataFileHeader &header);
// A header that fails a check, with the reason in plain words; the caller says which file.
class DamagedHeader : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Checks magic, version, sizes, state and checksum and gives the header; throws DamagedHeader
// when any fails.
DataFileHeader decodeHeader(const HeaderBytes &bytes);
// A bar's record and back; every bit pattern is a bar, so decoding cannot fail.
RecordBytes encodeBar(const Bar &bar);
Bar decodeBar(const RecordBytes &bytes);
// CRC-32 as in zlib and PNG (reflected polynomial 0xEDB88320).
std::uint32_t crc32(const unsigned char *data, std::size_t size);

} // namespace quelm
