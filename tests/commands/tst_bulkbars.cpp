// DataFile's bulk calls and the writers' lock, on files made by the store.

#include "commandtest.h"

#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/datafilestore.h>
#include <quelm/forwardingfilesystemcalls.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

using namespace quelm;
using namespace testsupport;

namespace {

using BulkBars = CommandTest;
using WritersLock = CommandTest;

// The system's calls, with every write recorded and, when asked, writes of records failing.
class RecordingCalls final : public ForwardingFileSystemCalls
{
public:
    struct Write
    {
        std::uint64_t offset;
        std::size_t size;
    };
    std::vector<Write> writes;
    int failRecordWrites = 0;

    int writeAt(Handle file, std::uint64_t offset, const void *data, std::size_t size) override
    {
        writes.push_back({offset, size});
        if (failRecordWrites != 0 && offset >= format::headerSize) {
            return failRecordWrites;
        }
        return target().writeAt(file, offset, data, size);
    }
};

std::string errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const DataFileError &error) {
        return error.what();
    }
    return "";
}

} // namespace

TEST_F(BulkBars, AppendsAndReadsManyBarsAsTheDocumentedRecords)
{
    const std::vector<Bar> bars = sampleBars(500);
    const auto path = dataFile(1000);
    {
        DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite);
        file.appendBars(std::span(bars).first(300));
        file.appendBars(std::span(bars).subspan(300));
        EXPECT_EQ(file.header().barsWritten, 500u);
    }
    const DataFile file = DataFile::open(path);
    EXPECT_EQ(file.header().barsWritten, 500u);
    EXPECT_EQ(file.readBars(0, 500), bars);
    std::vector<Bar> some(50);
    file.readBars(120, some);
    EXPECT_TRUE(std::equal(some.begin(), some.end(), bars.begin() + 120));
    EXPECT_TRUE(file.readBars(500, 0).empty());

    // Byte for byte the records of the format: the time, then the five prices and volume, as
    // little-endian numbers (the machines the tests run on are little-endian).
    const std::string bytes = contents(path);
    for (std::size_t i = 0; i < bars.size(); i += 97) {
        const Bar &bar = bars[i];
        const double fields[] = {bar.open, bar.high, bar.low, bar.close, bar.volume};
        const char *record = bytes.data() + 64 + 48 * i;
        EXPECT_EQ(0, std::memcmp(record, &bar.timeMs, 8)) << "bar " << i;
        EXPECT_EQ(0, std::memcmp(record + 8, fields, sizeof fields)) << "bar " << i;
    }
}

struct Refusal
{
    const char *name;
    std::function<void(DataFile &)> action;
    const char *reason;
};

using BulkRefusals = CommandTable<Refusal>;

// A refused call says why and leaves the file as it was.
TEST_P(BulkRefusals, LeaveTheFileAlone)
{
    const auto path = dataFile(10, sampleBars(4));
    const std::string before = contents(path);
    DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite);
    const std::string message = errorOf([&] { GetParam().action(file); });
    EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    EXPECT_EQ(file.header().barsWritten, 4u);
    EXPECT_EQ(contents(path), before);
}

const std::vector<Bar> seven = sampleBars(7, 1'900'000'000'000);

INSTANTIATE_TEST_SUITE_P(
    Table, BulkRefusals,
    testing::Values(
        Refusal{"ReadPastTheEnd", [](DataFile &f) { f.readBars(3, 2); },
                "it holds 4 bars, counting from 0"},
        Refusal{"ReadFromBeyond", [](DataFile &f) { f.readBars(5, 0); }, "it holds 4 bars"},
        Refusal{"CountThatWrapsAround",
                [](DataFile &f) { f.readBars(1, std::numeric_limits<std::uint64_t>::max()); },
                "it holds 4 bars"},
        Refusal{"SpanPastTheEnd",
                [](DataFile &f) {
                    std::vector<Bar> bars(5);
                    f.readBars(0, bars);
                },
                "it holds 4 bars"},
        Refusal{"MoreThanTheRoom", [](DataFile &f) { f.appendBars(seven); },
                "Cannot add 7 bars in data file 1 at "},
        Refusal{"MoreThanTheRoomSaysHowMuch", [](DataFile &f) { f.appendBars(seven); },
                "it has room for 6 more bars (10 in all)"},
        Refusal{"ReadOnly",
                [](DataFile &f) {
                    f = DataFile::open(f.path());
                    f.appendBars(std::span(seven).first(1));
                },
                "it was opened for reading only"}),
    RowName());

// The records go first and the count after them: a failed record write leaves every new bar
// uncounted; a good append is one write of the records and one of the header with the tail,
// not one a bar, and its flush one write of the header more.
TEST_F(BulkBars, StoresRecordsBeforeCountingThem)
{
    const auto path = dataFile(100, sampleBars(2));
    const std::vector<Bar> more = sampleBars(30, 1'900'000'000'000);
    RecordingCalls calls;
    {
        DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite, calls);
        calls.failRecordWrites = EIO;
        EXPECT_NE(errorOf([&] { file.appendBars(more); }).find("input/output error"),
                  std::string::npos);
        EXPECT_EQ(file.header().barsWritten, 2u);
    }
    EXPECT_EQ(DataFile::open(path).header().barsWritten, 2u);

    calls.failRecordWrites = 0;
    calls.writes.clear();
    DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite, calls);
    file.appendBars(more);
    ASSERT_EQ(calls.writes.size(), 2u);
    EXPECT_EQ(calls.writes[0].offset, 64u + 48 * 2);
    EXPECT_EQ(calls.writes[0].size, 48u * 30);
    EXPECT_EQ(calls.writes[1].offset, 0u);
    EXPECT_EQ(calls.writes[1].size, 64u);
    file.flush();
    ASSERT_EQ(calls.writes.size(), 3u);
    EXPECT_EQ(calls.writes[2].offset, 0u);
    EXPECT_EQ(calls.writes[2].size, 64u);
    EXPECT_EQ(DataFile::open(path).header().barsWritten, 32u);
}

TEST_F(WritersLock, OneWriterAtATime)
{
    const auto path = dataFile(10);
    std::optional<DataFile> first = DataFile::open(path, DataFile::Mode::Exclusive);
    try {
        DataFile::open(path, DataFile::Mode::Exclusive);
        FAIL() << "a second writer got the lock";
    } catch (const DataFileError &error) {
        EXPECT_EQ(error.errorNumber(), EWOULDBLOCK);
        EXPECT_NE(std::string(error.what()).find("another program is writing to it"),
                  std::string::npos);
    }
    // Readers need no lock.
    EXPECT_EQ(DataFile::open(path).header().capacity, 10u);
    first.reset();
    EXPECT_NO_THROW(DataFile::open(path, DataFile::Mode::Exclusive));
}

// The window's store marks a file closed only once a writer has let go, so that the writer's
// last count and the mark both stay.
TEST_F(WritersLock, StoreClosesAfterTheWriterLetsGo)
{
    DataFileStore store(scratch.path());
    const auto path = store.createFile(3, 10);
    std::optional<DataFile> writer = DataFile::open(path, DataFile::Mode::Exclusive);
    writer->appendBars(sampleBars(2));

    auto closing = std::async(std::launch::async, [&] { store.closeFile(3); });
    EXPECT_EQ(closing.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_FALSE(DataFile::open(path).header().closedCleanly);
    writer->appendBars(sampleBars(1, 1'900'000'000'000));
    writer.reset();
    ASSERT_EQ(closing.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    closing.get();

    const DataFileHeader header = DataFile::open(path).header();
    EXPECT_TRUE(header.closedCleanly);
    EXPECT_EQ(header.barsWritten, 3u);
}
