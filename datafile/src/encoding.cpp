#include "encoding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string>

namespace quelm {

namespace {

// Field offsets inside the header; docs/data-file-format.md has the same table.
constexpr std::size_t offMagic = 0;
constexpr std::size_t offVersion = 8;
constexpr std::size_t offHeaderSize = 10;
constexpr std::size_t offRecordSize = 12;
constexpr std::size_t offFileNumber = 16;
constexpr std::size_t offState = 20;
constexpr std::size_t offCapacity = 24;
constexpr std::size_t offBarsWritten = 32;
constexpr std::size_t offCreated = 40;
constexpr std::size_t offTailBars = 48;
constexpr std::size_t offTailChecksum = 52;
constexpr std::size_t offChecksum = 60;

template <typename T> void put(unsigned char *at, T value)
{
    auto bits = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        at[i] = static_cast<unsigned char>(bits >> (8 * i));
    }
}

template <typename T> T get(const unsigned char *at)
{
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bits |= static_cast<std::uint64_t>(at[i]) << (8 * i);
    }
    return static_cast<T>(bits);
}

void putDouble(unsigned char *at, double value)
{
    put(at, std::bit_cast<std::uint64_t>(value));
}

double getDouble(const unsigned char *at)
{
    return std::bit_cast<double>(get<std::uint64_t>(at));
}

} // namespace

HeaderBytes encodeHeader(const DataFileHeader &header, const TailFields &tail)
{
    HeaderBytes bytes{};
    std::copy(format::magic.begin(), format::magic.end(), bytes.begin() + offMagic);
    put(bytes.data() + offVersion, format::version);
    put(bytes.data() + offHeaderSize, format::headerSize);
    put(bytes.data() + offRecordSize, format::recordSize);
    put(bytes.data() + offFileNumber, header.fileNumber);
    put(bytes.data() + offState, header.closedCleanly ? format::stateClosed : format::stateOpen);
    put(bytes.data() + offCapacity, header.capacity);
    put(bytes.data() + offBarsWritten, header.barsWritten);
    put(bytes.data() + offCreated, header.createdMs);
    put(bytes.data() + offTailBars, tail.bars);
    put(bytes.data() + offTailChecksum, tail.checksum);
    put(bytes.data() + offChecksum, crc32(bytes.data(), offChecksum));
    return bytes;
}

DataFileHeader decodeHeader(const HeaderBytes &bytes)
{
    if (!std::equal(format::magic.begin(), format::magic.end(), bytes.begin() + offMagic)) {
        throw DamagedHeader("it is not a Quelm data file (its first bytes are not \"QUELMDAT\")");
    }
    const auto version = get<std::uint16_t>(bytes.data() + offVersion);
    if (version != format::version) {
        throw DamagedHeader("it has format version " + std::to_string(version) +
                            ", and this program reads only version " +
                            std::to_string(format::version));
    }
    if (get<std::uint32_t>(bytes.data() + offChecksum) != crc32(bytes.data(), offChecksum)) {
        throw DamagedHeader("its header is damaged (the checksum does not match)");
    }
    const auto headerSize = get<std::uint16_t>(bytes.data() + offHeaderSize);
    const auto recordSize = get<std::uint32_t>(bytes.data() + offRecordSize);
    if (headerSize != format::headerSize || recordSize != format::recordSize) {
        throw DamagedHeader("its header gives a header size of " + std::to_string(headerSize) +
                            " and a record size of " + std::to_string(recordSize) +
                            " bytes instead of " + std::to_string(format::headerSize) + " and " +
                            std::to_string(format::recordSize));
    }
    const auto state = get<std::uint32_t>(bytes.data() + offState);
    if (state != format::stateOpen && state != format::stateClosed) {
        throw DamagedHeader("its header gives an unknown state " + std::to_string(state));
    }
    DataFileHeader decoded;
    decoded.fileNumber = get<std::int32_t>(bytes.data() + offFileNumber);
    decoded.closedCleanly = state == format::stateClosed;
    decoded.capacity = get<std::uint64_t>(bytes.data() + offCapacity);
    decoded.barsWritten = get<std::uint64_t>(bytes.data() + offBarsWritten);
    decoded.createdMs = get<std::int64_t>(bytes.data() + offCreated);
    if (decoded.capacity > format::maxCapacity) {
        throw DamagedHeader("its header gives an impossible capacity of " +
                            std::to_string(decoded.capacity) + " bars");
    }
    if (decoded.barsWritten > decoded.capacity) {
        throw DamagedHeader("its header says " + std::to_string(decoded.barsWritten) +
                            " bars were written to a file with room for " +
                            std::to_string(decoded.capacity));
    }
    return decoded;
}

TailFields decodeTail(const HeaderBytes &bytes)
{
    return {get<std::uint32_t>(bytes.data() + offTailBars),
            get<std::uint64_t>(bytes.data() + offTailChecksum)};
}

RecordBytes encodeBar(const Bar &bar)
{
    RecordBytes bytes{};
    put(bytes.data(), bar.timeMs);
    putDouble(bytes.data() + 8, bar.open);
    putDouble(bytes.data() + 16, bar.high);
    putDouble(bytes.data() + 24, bar.low);
    putDouble(bytes.data() + 32, bar.close);
    putDouble(bytes.data() + 40, bar.volume);
    return bytes;
}

Bar decodeBar(const RecordBytes &bytes)
{
    return {get<std::int64_t>(bytes.data()), getDouble(bytes.data() + 8),
            getDouble(bytes.data() + 16),    getDouble(bytes.data() + 24),
            getDouble(bytes.data() + 32),    getDouble(bytes.data() + 40)};
}

std::uint32_t crc32(const unsigned char *data, std::size_t size)
{
    // A byte at a time through a table: the header is encoded at every append.
    static constexpr std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> crcs{};
        for (std::uint32_t byte = 0; byte < crcs.size(); ++byte) {
            std::uint32_t crc = byte;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
            }
            crcs[byte] = crc;
        }
        return crcs;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFFu];
    }
    return ~crc;
}

} // namespace quelm
