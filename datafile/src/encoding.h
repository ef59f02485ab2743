#pragma once

// How headers and bar records are laid out in bytes, and their checksum: the library's own.

#include <quelm/datafileformat.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quelm {

// A header and a bar record as they lie in the file.
using HeaderBytes = std::array<unsigned char, format::headerSize>;
using RecordBytes = std::array<unsigned char, format::recordSize>;

// Lays out a header, checksum included.
HeaderBytes encodeHeader(const DataFileHeader &header);
// Checks magic, version, sizes, state and checksum. Returns "" and fills `header` when all
// hold, otherwise the reason in plain words and leaves `header` alone.
std::string decodeHeader(const HeaderBytes &bytes, DataFileHeader &header);
// A bar's record and back; every bit pattern is a bar, so decoding cannot fail.
RecordBytes encodeBar(const Bar &bar);
Bar decodeBar(const RecordBytes &bytes);
// CRC-32 as in zlib and PNG (reflected polynomial 0xEDB88320).
std::uint32_t crc32(const unsigned char *data, std::size_t size);

} // namespace quelm
