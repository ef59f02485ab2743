#include "encoding.h"

#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/errortext.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>

namespace quelm {

namespace {

[[noreturn]] void failOpen(const std::filesystem::path &path, const std::string &reason,
                           int error = 0)
{
    throw DataFileError("Cannot open data file " + pathText(path) + ": " + reason + ".", error);
}

// On a little-endian machine a Bar in memory is, byte for byte, its record on disk: bars go
// between the file and the caller's memory without a copy.
constexpr bool barIsRecord =
    std::endian::native == std::endian::little && sizeof(Bar) == format::recordSize &&
    offsetof(Bar, timeMs) == 0 && offsetof(Bar, open) == 8 && offsetof(Bar, high) == 16 &&
    offsetof(Bar, low) == 24 && offsetof(Bar, close) == 32 && offsetof(Bar, volume) == 40;

std::uint64_t recordOffset(std::uint64_t index)
{
    return format::headerSize + index * format::recordSize;
}

std::string barsText(std::uint64_t count)
{
    return std::to_string(count) + (count == 1 ? " bar" : " bars");
}

} // namespace

DataFile DataFile::open(const std::filesystem::path &path, Mode mode)
{
    return open(path, mode, systemFileCalls());
}

DataFile DataFile::open(const std::filesystem::path &path, Mode mode, FileSystemCalls &calls)
{
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    if (const int error = calls.openExisting(path, mode != Mode::ReadOnly, handle)) {
        failOpen(path, reasonText(error), error);
    }
    FileHandle file(calls, handle);
    // Locked before the header is read, so that the header cannot change under the holder.
    if (mode == Mode::Exclusive) {
        if (const int error = calls.lockFile(handle, false); error == EWOULDBLOCK) {
            failOpen(path, "another program is writing to it", error);
        } else if (error != 0) {
            failOpen(path, "it cannot be locked for writing: " + reasonText(error), error);
        }
    }
    std::uint64_t size = 0;
    if (const int error = calls.fileSize(handle, size)) {
        failOpen(path, reasonText(error), error);
    }
    if (size < format::headerSize) {
        failOpen(path, "it is " + std::to_string(size) +
                           " bytes long, too short for the header of a data file (" +
                           std::to_string(format::headerSize) + " bytes)");
    }
    HeaderBytes bytes{};
    DataFileHeader header;
    // A writer rewrites the header at each append: a read that meets such a write half done
    // fails the checksum, and is made again.
    constexpr int headerReads = 3;
    for (int read = 1;; ++read) {
        if (const int error = calls.readAt(handle, 0, bytes.data(), bytes.size())) {
            failOpen(path, reasonText(error), error);
        }
        try {
            header = decodeHeader(bytes);
            break;
        } catch (const DamagedHeader &damage) {
            if (read == headerReads) {
                failOpen(path, damage.what());
            }
        }
    }
    if (const std::uint64_t expected = fileSizeFor(header.capacity); size != expected) {
        failOpen(path, "its header gives room for " + std::to_string(header.capacity) +
                           " bars, which takes " + std::to_string(expected) +
                           " bytes, but the file is " + std::to_string(size) + " bytes long");
    }
    DataFile opened(calls, path, std::move(file), mode, header);
    const TailFields tail = decodeTail(bytes);
    opened.takeTail(tail.bars, tail.checksum);
    return opened;
}

DataFile::DataFile(FileSystemCalls &calls, std::filesystem::path path, FileHandle file, Mode mode,
                   const DataFileHeader &header)
    : m_calls(&calls), m_path(std::move(path)), m_file(std::move(file)), m_mode(mode),
      m_header(header), m_barsOnDisk(header.barsWritten),
      m_checksum(std::make_unique<TailChecksum>())
{
}

DataFile::DataFile(DataFile &&) noexcept = default;

// A tail is counted only when its records, as they are on disk now, give its checksum: a power
// cut may have kept the header's write without those of the records. Its length is checked
// first, so that a reader never reads more than maxTailBars records to prove it.
void DataFile::takeTail(std::uint32_t bars, std::uint64_t checksum)
{
    m_tailFound.bars = bars;
    if (bars == 0 && checksum == 0) {
        return;
    }
    if (bars > 0 && bars <= format::maxTailBars &&
        bars <= m_header.capacity - m_header.barsWritten) {
        std::vector<unsigned char> records(std::size_t{bars} * format::recordSize);
        if (const int error = m_calls->readAt(m_file.get(), recordOffset(m_header.barsWritten),
                                              records.data(), records.size())) {
            failOpen(m_path, reasonText(error), error);
        }
        m_checksum->add(records.data(), records.size());
        m_tailFound.proven = m_checksum->value() == checksum;
    }
    if (m_tailFound.proven) {
        m_header.barsWritten += bars;
        return;
    }
    m_checksum->reset();
    // A writer drops a tail that is not proven, so that records it writes in their place
    // cannot make that old tail count before they are counted themselves.
    if (m_mode != Mode::ReadOnly) {
        if (const int error = writeHeader(m_barsOnDisk, 0)) {
            failOpen(m_path, reasonText(error), error);
        }
    }
}

DataFile &DataFile::operator=(DataFile &&other) noexcept
{
    if (this != &other) {
        countBeforeGoing();
        m_calls = other.m_calls;
        m_path = std::move(other.m_path);
        m_file = std::move(other.m_file);
        m_mode = other.m_mode;
        m_header = other.m_header;
        m_tailFound = other.m_tailFound;
        m_counting = other.m_counting;
        m_barsOnDisk = other.m_barsOnDisk;
        m_checksum = std::move(other.m_checksum);
    }
    return *this;
}

DataFile::~DataFile()
{
    countBeforeGoing();
}

Bar DataFile::readBar(std::uint64_t index) const
{
    if (index >= m_header.barsWritten) {
        fail("read bar " + std::to_string(index),
             "it holds " + barsText(m_header.barsWritten) + ", counting from 0");
    }
    RecordBytes bytes{};
    if (const int error =
            m_calls->readAt(m_file.get(), recordOffset(index), bytes.data(), bytes.size())) {
        fail("read bar " + std::to_string(index), reasonText(error), error);
    }
    return decodeBar(bytes);
}

std::vector<Bar> DataFile::readBars(std::uint64_t first, std::uint64_t count) const
{
    const std::uint64_t stored = m_header.barsWritten;
    if (first > stored || count > stored - first) {
        fail("read " + barsText(count) + " from bar " + std::to_string(first),
             "it holds " + barsText(stored) + ", counting from 0");
    }
    std::vector<Bar> bars(static_cast<std::size_t>(count));
    readBars(first, bars);
    return bars;
}

void DataFile::readBars(std::uint64_t first, std::span<Bar> bars) const
{
    const std::uint64_t stored = m_header.barsWritten;
    const std::string what = "read " + barsText(bars.size()) + " from bar " + std::to_string(first);
    if (first > stored || bars.size() > stored - first) {
        fail(what, "it holds " + barsText(stored) + ", counting from 0");
    }
    int error = 0;
    if constexpr (barIsRecord) {
        error = m_calls->readAt(m_file.get(), recordOffset(first), bars.data(), bars.size_bytes());
    } else {
        std::vector<unsigned char> bytes(bars.size() * format::recordSize);
        error = m_calls->readAt(m_file.get(), recordOffset(first), bytes.data(), bytes.size());
        for (std::size_t i = 0; error == 0 && i < bars.size(); ++i) {
            RecordBytes record;
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i * format::recordSize),
                        record.size(), record.begin());
            bars[i] = decodeBar(record);
        }
    }
    if (error != 0) {
        fail(what, reasonText(error), error);
    }
}

void DataFile::appendBar(const Bar &bar)
{
    writeBars("add a bar", std::span<const Bar>(&bar, 1));
}

void DataFile::appendBars(std::span<const Bar> bars)
{
    writeBars("add " + barsText(bars.size()), bars);
}

void DataFile::writeBars(const std::string &what, std::span<const Bar> bars)
{
    if (m_mode == Mode::ReadOnly) {
        fail(what, "it was opened for reading only");
    }
    const std::uint64_t room = m_header.capacity - m_header.barsWritten;
    if (bars.size() > room) {
        fail(what, room == 0 ? "it is full (" + barsText(m_header.capacity) + ")"
                             : "it has room for " + std::to_string(room) + " more " +
                                   (room == 1 ? "bar" : "bars") + " (" +
                                   std::to_string(m_header.capacity) + " in all)");
    }
    if (bars.empty()) {
        return;
    }
    const std::uint64_t offset = recordOffset(m_header.barsWritten);
    const void *records = bars.data();
    std::size_t size = bars.size_bytes();
    std::vector<unsigned char> encoded;
    if constexpr (!barIsRecord) {
        encoded.reserve(bars.size() * format::recordSize);
        for (const Bar &bar : bars) {
            const RecordBytes record = encodeBar(bar);
            encoded.insert(encoded.end(), record.begin(), record.end());
        }
        records = encoded.data();
        size = encoded.size();
    }
    if (const int error = m_calls->writeAt(m_file.get(), offset, records, size)) {
        fail(what, reasonText(error), error);
    }
    const std::uint64_t before = m_header.barsWritten;
    m_header.barsWritten += bars.size();
    const std::uint64_t tail = m_header.barsWritten - m_barsOnDisk;
    if (tail > format::maxTailBars) {
        // Too long to prove cheaply, it is folded in with a flush: at once where appends are
        // counted, at the next flush otherwise.
        if (m_counting == Counting::EachAppend) {
            fold(what);
        }
        return;
    }
    if (m_counting == Counting::AtFlush) {
        m_checksum->add(records, size);
        return;
    }
    const TailChecksum checksumBefore = *m_checksum;
    m_checksum->add(records, size);
    // Only now that the records are written may a header count them.
    if (const int error = writeHeader(m_barsOnDisk, m_checksum->value())) {
        m_header.barsWritten = before;
        *m_checksum = checksumBefore;
        fail(what, reasonText(error), error);
    }
}

void DataFile::flush()
{
    // A file opened for reading has nothing to flush, and Windows flushes only with write
    // access.
    if (m_mode == Mode::ReadOnly) {
        return;
    }
    fold("flush");
}

void DataFile::fold(const std::string &what)
{
    if (m_barsOnDisk != m_header.barsWritten) {
        // The records reach the disk before bars written covers them: the system may write the
        // header's block first, at any moment, once it has it.
        if (const int error = m_calls->syncData(m_file.get())) {
            // A failed flush may have lost the records for good, so that flushing again could
            // succeed without them: their bars are given up, and a later append takes their place.
            const std::uint64_t dropped = m_header.barsWritten - m_barsOnDisk;
            m_header.barsWritten = m_barsOnDisk;
            m_checksum->reset();
            (void)writeHeader(m_barsOnDisk, 0);
            fail(what,
                 reasonText(error) + "; the " + barsText(dropped) + " added since the last flush " +
                     (dropped == 1 ? "is" : "are") + " not counted",
                 error);
        }
        if (const int error = writeHeader(m_header.barsWritten, 0)) {
            fail(what, reasonText(error), error);
        }
        m_checksum->reset();
    }
    if (const int error = m_calls->syncData(m_file.get())) {
        fail(what, reasonText(error), error);
    }
}

int DataFile::writeHeader(std::uint64_t flushed, std::uint64_t checksum) noexcept
{
    DataFileHeader onDisk = m_header;
    onDisk.barsWritten = flushed;
    const auto tail = static_cast<std::uint32_t>(m_header.barsWritten - flushed);
    const HeaderBytes bytes = encodeHeader(onDisk, {tail, tail == 0 ? 0 : checksum});
    const int error = m_calls->writeAt(m_file.get(), 0, bytes.data(), bytes.size());
    if (error == 0) {
        m_barsOnDisk = flushed;
    }
    return error;
}

void DataFile::countBeforeGoing() noexcept
{
    if (m_file.isOpen() && m_mode != Mode::ReadOnly && m_barsOnDisk != m_header.barsWritten &&
        m_calls->syncData(m_file.get()) == 0) {
        (void)writeHeader(m_header.barsWritten, 0);
    }
}

void DataFile::fail(const std::string &what, const std::string &reason, int error) const
{
    throw DataFileError("Cannot " + what + " in data file " + std::to_string(m_header.fileNumber) +
                            " at " + pathText(m_path) + ": " + reason + ".",
                        error);
}

} // namespace quelm
