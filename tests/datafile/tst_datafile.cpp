#include "encoding.h"
#include "testsupport.h"

#include <quelm/datafile.h>
#include <quelm/forwardingfilesystemcalls.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>

using namespace quelm;
using namespace testsupport;
using Call = FaultyFileSystemCalls::Call;

namespace {

// The unsigned little-endian number in bytes [offset, offset + sizeof(T)).
template <typename T> T at(const std::string &bytes, std::size_t offset)
{
    using Unsigned =
        std::make_unsigned_t<std::conditional_t<std::is_same_v<T, double>, std::int64_t, T>>;
    Unsigned value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) {
        value =
            static_cast<Unsigned>(value << 8 | static_cast<unsigned char>(bytes.at(offset + i)));
    }
    return std::bit_cast<T>(value);
}

template <typename T> void put(std::string &bytes, std::size_t offset, T value)
{
    using Unsigned = std::make_unsigned_t<T>;
    auto bits = static_cast<Unsigned>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i, bits = static_cast<Unsigned>(bits >> 8)) {
        bytes.at(offset + i) = static_cast<char>(bits & 0xFF);
    }
}

// A valid file with room for two bars and none written.
std::string goodFile()
{
    DataFileHeader header;
    header.fileNumber = 1;
    header.capacity = 2;
    const HeaderBytes bytes = encodeHeader(header);
    return std::string(bytes.begin(), bytes.end()) + std::string(96, '\0');
}

// The good file with one header field changed and the checksum made to match again.
template <typename T> std::string patched(std::size_t offset, T value)
{
    std::string bytes = goodFile();
    put(bytes, offset, value);
    put(bytes, 60, crc32(reinterpret_cast<const unsigned char *>(bytes.data()), 60));
    return bytes;
}

std::string flipped(std::size_t offset)
{
    std::string bytes = goodFile();
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x10);
    return bytes;
}

std::string openError(const std::filesystem::path &path)
{
    return errorOf([&] { DataFile::open(path); });
}

const Bar sample[] = {
    {1733551262123, 101.25, 102.5, 100.75, 101.0, 12000.0},
    {-1, -0.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
     std::numeric_limits<double>::max(), 0.0},
    {std::numeric_limits<std::int64_t>::max(), 1e-300, 2, 3, 4, 5},
};

// Makes file `number` with room for `bars` bars and returns its path.
std::filesystem::path madeFile(DataFileStore &store, std::int32_t number, std::int32_t bars)
{
    store.createFile(number, bars);
    return *store.filePath(number);
}

using DataFileTest = FolderTest;

// The system's calls, checking that each header written counts in bars written only records
// flushed before, and in its tail only records written before.
class CountOrderCalls final : public ForwardingFileSystemCalls
{
public:
    std::uint64_t written = format::headerSize; // where the records written so far end
    std::uint64_t flushed = format::headerSize; // where those flushed end
    int headers = 0;                            // header writes so far

    int writeAt(Handle file, std::uint64_t offset, const void *data, std::size_t size) override
    {
        if (offset == 0) {
            const std::string header(static_cast<const char *>(data), size);
            const auto count = at<std::uint64_t>(header, 32);
            const auto tail = at<std::uint32_t>(header, 48);
            EXPECT_LE(fileSizeFor(count), flushed)
                << "a count of " << count << " before its records are flushed";
            EXPECT_LE(fileSizeFor(count + tail), written)
                << "a tail of " << tail << " before its records are written";
            ++headers;
        } else {
            written = std::max(written, offset + size);
        }
        return target().writeAt(file, offset, data, size);
    }
    int syncData(Handle file) override
    {
        flushed = written;
        return target().syncData(file);
    }
};

} // namespace

// The check values docs/data-file-format.md gives: the header's CRC-32 and the tail's XXH3-64,
// the latter taken in two parts as appends take it.
TEST(DataFileFormat, ChecksumsGiveTheirCheckValues)
{
    const char digits[] = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const unsigned char *>(digits), 9), 0xCBF43926u);
    TailChecksum tail;
    tail.add(digits, 4);
    tail.add(digits + 4, 5);
    EXPECT_EQ(tail.value(), 0x72DCB18B67A17DFFu);
}

// Reads a made, filled and closed file with nothing but the offsets of docs/data-file-format.md.
TEST_F(DataFileTest, FileMatchesTheDocumentedLayout)
{
    DataFileStore store(folder.path());
    const std::filesystem::path path = madeFile(store, 5, 4);
    {
        DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite);
        file.appendBar(sample[0]);
        file.appendBar(sample[1]);
        // Not flushed yet: bars written is 0, and the tail counts both with the XXH3-64 of
        // their records.
        const std::string live = contents(path);
        EXPECT_EQ(at<std::uint64_t>(live, 32), 0u);
        EXPECT_EQ(at<std::uint32_t>(live, 48), 2u);
        EXPECT_EQ(at<std::uint64_t>(live, 52), XXH3_64bits(live.data() + 64, 96));
        EXPECT_EQ(at<std::uint32_t>(live, 60),
                  crc32(reinterpret_cast<const unsigned char *>(live.data()), 60));
    }
    store.closeFile(5);

    const std::string bytes = contents(path);
    ASSERT_EQ(bytes.size(), 64u + 48 * 4);
    EXPECT_EQ(bytes.substr(0, 8), "QUELMDAT");
    EXPECT_EQ(at<std::uint16_t>(bytes, 8), 1);
    EXPECT_EQ(at<std::uint16_t>(bytes, 10), 64);
    EXPECT_EQ(at<std::uint32_t>(bytes, 12), 48u);
    EXPECT_EQ(at<std::int32_t>(bytes, 16), 5);
    EXPECT_EQ(at<std::uint32_t>(bytes, 20), 1u);
    EXPECT_EQ(at<std::uint64_t>(bytes, 24), 4u);
    EXPECT_EQ(at<std::uint64_t>(bytes, 32), 2u);
    EXPECT_LT(std::llabs(at<std::int64_t>(bytes, 40) - nowMs()), 60000);
    EXPECT_EQ(bytes.substr(48, 12), std::string(12, '\0'));
    EXPECT_EQ(at<std::uint32_t>(bytes, 60),
              crc32(reinterpret_cast<const unsigned char *>(bytes.data()), 60));
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE("bar " + std::to_string(i));
        const std::size_t record = 64 + 48 * i;
        const Bar read{at<std::int64_t>(bytes, record), at<double>(bytes, record + 8),
                       at<double>(bytes, record + 16),  at<double>(bytes, record + 24),
                       at<double>(bytes, record + 32),  at<double>(bytes, record + 40)};
        EXPECT_EQ(read, sample[i]);
        EXPECT_EQ(std::signbit(read.open), std::signbit(sample[i].open));
    }
    EXPECT_EQ(bytes.substr(64 + 96), std::string(96, '\0'));
}

TEST_F(DataFileTest, AppendsAndReadsBarsUpToCapacity)
{
    DataFileStore store(folder.path());
    const std::filesystem::path path = madeFile(store, 2, 3);
    const std::string where = "in data file 2 at " + text(path);
    {
        DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite);
        for (const Bar &bar : sample) {
            file.appendBar(bar);
        }
        file.flush();
        EXPECT_EQ(file.header().barsWritten, 3u);
        EXPECT_EQ(errorOf([&] { file.appendBar(sample[0]); }),
                  "Cannot add a bar " + where + ": it is full (3 bars).");
    }
    // Closing keeps the bars another writer counted.
    store.closeFile(2);
    DataFile file = DataFile::open(path);
    EXPECT_EQ(file.header().barsWritten, 3u);
    EXPECT_TRUE(file.header().closedCleanly);
    for (std::uint64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(file.readBar(i), sample[i]);
    }
    EXPECT_EQ(errorOf([&] { file.readBar(3); }),
              "Cannot read bar 3 " + where + ": it holds 3 bars, counting from 0.");
    EXPECT_EQ(errorOf([&] { file.appendBar(sample[0]); }),
              "Cannot add a bar " + where + ": it was opened for reading only.");
}

TEST_F(DataFileTest, FileWithoutBarsIsValidAndFull)
{
    DataFileStore store(folder.path());
    DataFile file = DataFile::open(madeFile(store, 1, 0), DataFile::Mode::ReadWrite);
    EXPECT_EQ(file.header().capacity, 0u);
    EXPECT_THROW(file.appendBar(sample[0]), DataFileError);
    EXPECT_THROW(file.readBar(0), DataFileError);
}

// A power cut may keep any write the system has not flushed, in any order: bars written must
// cover only records flushed before it was written, and a tail only records written before it.
// An append counts its bars in the tail at once, unless counting waits for the flush; a tail
// past its bound is folded in with a flush.
TEST_F(DataFileTest, NoCountIsWrittenBeforeItsRecords)
{
    DataFileStore store(folder.path());
    const std::filesystem::path path = madeFile(store, 1, format::maxTailBars + 5);
    CountOrderCalls calls;
    DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite, calls);
    file.appendBar(sample[0]);
    file.appendBars(std::span(sample).subspan(1, 1));
    EXPECT_EQ(calls.headers, 2);
    EXPECT_EQ(DataFile::open(path).header().barsWritten, 2u);
    file.flush();
    file.appendBar(sample[2]);
    file.appendBars(std::vector<Bar>(format::maxTailBars, sample[0]));
    const DataFile folded = DataFile::open(path);
    EXPECT_EQ(folded.header().barsWritten, format::maxTailBars + 3u);
    EXPECT_EQ(folded.tailFound(), DataFileTail{});

    file.setCounting(DataFile::Counting::AtFlush);
    const int headers = calls.headers;
    file.appendBars(std::span(sample).first(2));
    EXPECT_EQ(calls.headers, headers);
    EXPECT_EQ(DataFile::open(path).header().barsWritten, format::maxTailBars + 3u);
    file = DataFile::open(path); // the file assigned over counts its last bars as it goes
    EXPECT_EQ(DataFile::open(path).header().barsWritten, format::maxTailBars + 5u);
}

struct FailedWriteRow : Row
{
    Call call;
    int skip;          // calls of that kind that succeed first
    std::string what;  // what the message says could not be done
    std::string after; // what it adds to the system's reason
};

class FailedAppend : public FolderTestWithRows<FailedWriteRow>
{
};

// A failed write of the records or of the header after them, or a failed flush of them before
// the count, leaves the count on disk and in memory as it was, the tail included, and the next
// append takes the same place.
TEST_P(FailedAppend, CountsNothingAndTheNextAppendTakesItsPlace)
{
    const FailedWriteRow &row = GetParam();
    DataFileStore store(folder.path());
    const std::filesystem::path path = madeFile(store, 3, 2);
    FaultyFileSystemCalls calls;
    DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite, calls);

    calls.fail(row.call, EIO, false, row.skip);
    int error = 0;
    EXPECT_EQ(errorOf([&] { file.appendBar(sample[0]), file.flush(); }, &error),
              "Cannot " + row.what + " in data file 3 at " + text(path) +
                  ": the disk reported an input/output error" + row.after + ".");
    EXPECT_EQ(error, EIO);
    EXPECT_EQ(file.header().barsWritten, 0u);
    EXPECT_EQ(DataFile::open(path).header().barsWritten, 0u);

    file.appendBar(sample[1]);
    EXPECT_EQ(DataFile::open(path).tailFound(), (DataFileTail{1, true}));
    file.flush();
    const DataFile reread = DataFile::open(path);
    EXPECT_EQ(reread.header().barsWritten, 1u);
    EXPECT_EQ(reread.readBar(0), sample[1]);
}

INSTANTIATE_TEST_SUITE_P(
    DataFile, FailedAppend,
    ::testing::Values(FailedWriteRow{"the record", Call::WriteAt, 0, "add a bar", ""},
                      FailedWriteRow{"the header after the record", Call::WriteAt, 1, "add a bar",
                                     ""},
                      FailedWriteRow{"the flush before the count", Call::SyncData, 0, "flush",
                                     "; the 1 bar added since the last flush is not counted"}),
    RowName());

// In both writable modes: holding the writers' lock changes nothing about flushing, which
// flushes the records, then the count.
TEST_F(DataFileTest, FlushReachesTheDisk)
{
    DataFileStore store(folder.path());
    const std::filesystem::path path = madeFile(store, 4, 2);
    for (const DataFile::Mode mode : {DataFile::Mode::ReadWrite, DataFile::Mode::Exclusive}) {
        SCOPED_TRACE(mode == DataFile::Mode::ReadWrite ? "ReadWrite" : "Exclusive");
        FaultyFileSystemCalls calls;
        DataFile file = DataFile::open(path, mode, calls);
        file.appendBar(sample[0]);
        file.flush();
        EXPECT_EQ(calls.count(Call::SyncData), 2);

        calls.fail(Call::SyncData, EIO);
        EXPECT_EQ(errorOf([&] { file.flush(); }), "Cannot flush in data file 4 at " + text(path) +
                                                      ": the disk reported an input/output error.");
    }
}

struct DamagedFileRow : Row
{
    std::string bytes;
    std::string reason;
};

class DamagedFile : public FolderTestWithRows<DamagedFileRow>
{
};

TEST_P(DamagedFile, IsRefusedWithTheReason)
{
    const auto path = folder.path() / "0001.qdf";
    write(path, goodFile());
    ASSERT_EQ(openError(path), "");

    write(path, GetParam().bytes);
    EXPECT_EQ(openError(path),
              "Cannot open data file " + text(path) + ": " + GetParam().reason + ".");
}

namespace {

const std::string checksum = "its header is damaged (the checksum does not match)";

std::string room(std::uint64_t capacity, std::uint64_t needed, std::uint64_t size)
{
    return "its header gives room for " + std::to_string(capacity) + " bars, which takes " +
           std::to_string(needed) + " bytes, but the file is " + std::to_string(size) +
           " bytes long";
}

std::string tooShort(std::size_t size)
{
    return "it is " + std::to_string(size) +
           " bytes long, too short for the header of a data file (64 bytes)";
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    DataFile, DamagedFile,
    ::testing::Values(
        DamagedFileRow{"empty", "", tooShort(0)},
        DamagedFileRow{"cut inside the header", goodFile().substr(0, 30), tooShort(30)},
        DamagedFileRow{"cut inside the records", goodFile().substr(0, 159), room(2, 160, 159)},
        DamagedFileRow{"a byte too many", goodFile() + '\0', room(2, 160, 161)},
        DamagedFileRow{"flipped bit in the file number", flipped(16), checksum},
        DamagedFileRow{"flipped bit in bars written", flipped(32), checksum},
        DamagedFileRow{"flipped bit in the reserved bytes", flipped(50), checksum},
        DamagedFileRow{"flipped bit in the checksum", flipped(61), checksum},
        DamagedFileRow{"another kind of file", "\x89PNG\r\n\x1a\n" + std::string(200, 'x'),
                       "it is not a Quelm data file (its first bytes are not \"QUELMDAT\")"},
        DamagedFileRow{"format version 2", patched<std::uint16_t>(8, 2),
                       "it has format version 2, and this program reads only version 1"},
        DamagedFileRow{"other record size", patched<std::uint32_t>(12, 40),
                       "its header gives a header size of 64 and a record size of 40 bytes "
                       "instead of 64 and 48"},
        DamagedFileRow{"unknown state", patched<std::uint32_t>(20, 7),
                       "its header gives an unknown state 7"},
        DamagedFileRow{"more capacity than the file holds", patched<std::uint64_t>(24, 1000),
                       room(1000, 48064, 160)},
        DamagedFileRow{"capacity past any file size",
                       patched<std::uint64_t>(24, std::numeric_limits<std::uint64_t>::max()),
                       "its header gives an impossible capacity of 18446744073709551615 bars"},
        DamagedFileRow{"more bars than capacity", patched<std::uint64_t>(32, 3),
                       "its header says 3 bars were written to a file with room for 2"}),
    RowName());

struct TailRow : Row
{
    std::function<void(std::string &)> change; // what happens to the file's bytes
    bool proven;
};

class TailOnDisk : public FolderTestWithRows<TailRow>
{
};

namespace {

// The flushed bars, and the tail after them.
const std::vector<Bar> flushedBars = {sample[0], sample[1]};
const std::vector<Bar> tailBars = {sample[2], sample[0], sample[1]};
constexpr std::size_t tailAt = 64 + 48 * 2;

void setTailBars(std::string &bytes, std::uint32_t bars)
{
    put(bytes, 48, bars);
    put(bytes, 60, crc32(reinterpret_cast<const unsigned char *>(bytes.data()), 60));
}

} // namespace

// Readers count a tail only when its records give its checksum; a writer adopts a proven tail,
// appending after it, and drops any other, writing the header again without it.
TEST_P(TailOnDisk, IsCountedOnlyWhenProven)
{
    const TailRow &row = GetParam();
    DataFileStore store(folder.path());
    const std::filesystem::path path = madeFile(store, 1, 8);
    DataFile::open(path, DataFile::Mode::ReadWrite).appendBars(flushedBars);
    writeTail(path, tailBars);
    std::string bytes = contents(path);
    row.change(bytes);
    write(path, bytes);

    std::vector<Bar> counted = flushedBars;
    if (row.proven) {
        counted.insert(counted.end(), tailBars.begin(), tailBars.end());
    }
    const DataFile reader = DataFile::open(path);
    EXPECT_EQ(reader.tailFound(), (DataFileTail{at<std::uint32_t>(bytes, 48), row.proven}));
    EXPECT_EQ(reader.readBars(0, reader.header().barsWritten), counted);

    {
        DataFile writer = DataFile::open(path, DataFile::Mode::ReadWrite);
        EXPECT_EQ(writer.header().barsWritten, counted.size());
        EXPECT_EQ(contents(path).substr(48, 12),
                  row.proven ? bytes.substr(48, 12) : std::string(12, '\0'));
        writer.appendBar(sample[1]);
        counted.push_back(sample[1]);
    }
    const DataFile after = DataFile::open(path);
    EXPECT_EQ(after.readBars(0, after.header().barsWritten), counted);
}

INSTANTIATE_TEST_SUITE_P(
    DataFile, TailOnDisk,
    ::testing::Values(
        TailRow{"proven", [](std::string &) {}, true},
        TailRow{"records after the tail changed",
                [](std::string &bytes) { bytes[tailAt + 48 * 3] = 1; }, true},
        TailRow{"records of zero bytes",
                [](std::string &bytes) { bytes.replace(tailAt, 48 * 3, 48 * 3, '\0'); }, false},
        TailRow{"a record changed after the header",
                [](std::string &bytes) { bytes[tailAt + 48 * 2 + 47] ^= 1; }, false},
        TailRow{"one bar fewer", [](std::string &bytes) { setTailBars(bytes, 2); }, false},
        TailRow{"more bars than the room left", [](std::string &bytes) { setTailBars(bytes, 7); },
                false}),
    RowName());

// A writer rewrites the header at each append: a read of it that met such a write half done
// fails the checksum once, and is made again.
TEST_F(DataFileTest, HeaderReadHalfWrittenIsReadAgain)
{
    DataFileStore store(folder.path());
    const std::filesystem::path path = madeFile(store, 1, 8);
    class TornOnce final : public ForwardingFileSystemCalls
    {
    public:
        int readAt(Handle file, std::uint64_t offset, void *data, std::size_t size) override
        {
            const int error = target().readAt(file, offset, data, size);
            if (offset == 0 && reads++ == 0) {
                static_cast<unsigned char *>(data)[32] ^= 1;
            }
            return error;
        }
        int reads = 0;
    } calls;
    EXPECT_EQ(DataFile::open(path, DataFile::Mode::ReadOnly, calls).header().capacity, 8u);
    EXPECT_EQ(calls.reads, 2);
}

struct SizeRow : Row
{
    std::uint64_t bytes;
    const char *text;
};

class SizeText : public ::testing::TestWithParam<SizeRow>
{
};

// A size is told in the largest unit it reaches once rounded, never as 1024.0 of the one below.
TEST_P(SizeText, UsesTheLargestUnitReached)
{
    EXPECT_EQ(sizeText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    DataFile, SizeText,
    ::testing::Values(SizeRow{"nothing", 0, "0 bytes"}, SizeRow{"one byte", 1, "1 byte"},
                      SizeRow{"a byte below a KiB", 1023, "1023 bytes"},
                      SizeRow{"one KiB", 1024, "1.0 KiB"},
                      SizeRow{"a KiB and a half", 1536, "1.5 KiB"},
                      SizeRow{"a byte below a MiB", (1u << 20) - 1, "1.0 MiB"},
                      SizeRow{"one MiB", 1u << 20, "1.0 MiB"},
                      SizeRow{"just below a rounded MiB", 1023 * 1024 + 972, "1023.9 KiB"},
                      SizeRow{"a byte below a GiB", (1ull << 30) - 1, "1.0 GiB"},
                      SizeRow{"a byte below a TiB", (1ull << 40) - 1, "1.0 TiB"},
                      SizeRow{"the largest size", std::numeric_limits<std::uint64_t>::max(),
                              "16.0 EiB"}),
    RowName());
