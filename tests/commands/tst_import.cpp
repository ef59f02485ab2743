// quelm-import run as a program: what it takes, what it refuses, the lock, a kill.

#include <quelm/datafile.h>
#include <quelm/datafilestore.h>
#include "testsupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace quelm;
using namespace testsupport;

namespace {

const std::string importer = QUELM_IMPORT;
const std::string header = "time,open,high,low,close,volume\n";
// The bar every file of these tests starts with, and two that may follow it.
const Bar stored{1'796'601'600'000, 10, 11, 9, 10.5, 5}; // 2026-12-07T00:00:00Z
const Bar next1{1'796'601'660'000, 1, 2, 0.5, 1.5, 10};  // 00:01
const Bar next2{1'796'601'720'000, 2, 3, 1, 2.5, 0};     // 00:02
const std::string line1 = "2026-12-07T00:01:00Z,1,2,0.5,1.5,10";
const std::string line2 = "2026-12-07T00:02:00.000Z,2,3,1,2.5,0";

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

struct BadInput
{
    const char *name;
    std::string csv;
    std::string where;
    std::string reason;
};

class RefusesBadInput : public testing::TestWithParam<BadInput>
{
};

struct Shape
{
    const char *name;
    std::string csv;
    std::size_t bars; // of next1, next2
};

class TakesOddShapes : public testing::TestWithParam<Shape>
{
};

std::string goodLines(std::size_t count)
{
    std::string text;
    for (const Bar &bar : sampleBars(count, next1.timeMs)) {
        text += csvOf({bar}).substr(header.size());
    }
    return text;
}

// Whether the import, started while another writer holds the lock, says that it waits; it may
// take a while to start (slowly under Wine), so this waits for it, up to a deadline.
bool saysItWaits(Child &import)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (contains(import.err(), "waiting for another program to finish writing to")) {
            return true;
        }
        if (!import.running()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

// A bad line anywhere is named with its column, and the file stays as it was, byte for byte.
TEST_P(RefusesBadInput, NamingLineAndColumn)
{
    TempFolder scratch;
    const auto path = makeDataFile(scratch.path(), 5, {stored});
    const std::string before = contents(path);
    const Result result = run({importer, path.string()}, GetParam().csv);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "standard input, " + GetParam().where + ": ")) << result.err;
    EXPECT_TRUE(contains(result.err, GetParam().reason)) << result.err;
    EXPECT_TRUE(contains(result.err, "nothing was written to " + path.string())) << result.err;
    EXPECT_EQ(contents(path), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusesBadInput,
    testing::Values(
        BadInput{"NotANumber", header + line1 + "\n2026-12-07T00:02:00Z,abc,3,1,2,0\n",
                 "line 3, column 2 (open)", "\"abc\" is not a number"},
        BadInput{"EmptyField", header + line1 + "\n2026-12-07T00:02:00Z,2,3,,2,0\n",
                 "line 3, column 4 (low)", "empty"},
        BadInput{"Infinite", header + line1 + "\n2026-12-07T00:02:00Z,2,inf,1,2,0\n",
                 "line 3, column 3 (high)", "not a finite number"},
        BadInput{"NotANumberAtAll", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,nan,0\n",
                 "line 3, column 5 (close)", "not a finite number"},
        BadInput{"OutOfRange", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,2,1e400\n",
                 "line 3, column 6 (volume)", "out of the range"},
        BadInput{"HighBelowLow", header + line1 + "\n2026-12-07T00:02:00Z,2,1,3,2,0\n",
                 "line 3, column 3 (high)", "1 is below the low, 3"},
        BadInput{"OpenAboveHigh", header + line1 + "\n2026-12-07T00:02:00Z,4,3,1,2,0\n",
                 "line 3, column 2 (open)", "4 is outside the low and the high, 1 to 3"},
        BadInput{"OpenBelowLow", header + line1 + "\n2026-12-07T00:02:00Z,0.5,3,1,2,0\n",
                 "line 3, column 2 (open)", "outside the low and the high"},
        BadInput{"CloseAboveHigh", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,3.5,0\n",
                 "line 3, column 5 (close)", "outside the low and the high"},
        BadInput{"CloseBelowLow", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,-1,0\n",
                 "line 3, column 5 (close)", "outside the low and the high"},
        BadInput{"NegativeVolume", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,2,-0.5\n",
                 "line 3, column 6 (volume)", "-0.5 is negative"},
        BadInput{"SameTime", header + line1 + "\n2026-12-07T00:01:00Z,2,3,1,2,0\n",
                 "line 3, column 1 (time)",
                 "2026-12-07T00:01:00.000Z is not after the time of the bar before it, "
                 "2026-12-07T00:01:00.000Z (line 2)"},
        BadInput{"EarlierTime", header + line1 + "\n1796601600001,2,3,1,2,0\n",
                 "line 3, column 1 (time)", "is not after the time of the bar before it"},
        BadInput{"NotAfterTheFilesLastBar", header + "2026-12-07T00:00:00Z,2,3,1,2,0\n",
                 "line 2, column 1 (time)", "(the file's last bar)"},
        BadInput{"NotATime", header + line1 + "\nnoon,2,3,1,2,0\n", "line 3, column 1 (time)",
                 "\"noon\" is not a time"},
        BadInput{"NotADay", header + line1 + "\n2027-02-29,2,3,1,2,0\n", "line 3, column 1 (time)",
                 "is not a date of the calendar"},
        BadInput{"TooFewFields", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1\n",
                 "line 3, column 5 (close)", "missing"},
        BadInput{"TooManyFields", header + line1 + "\n2026-12-07T00:02:00Z,2,3,1,2,0,9\n",
                 "line 3, column 7", "this one has more"},
        BadInput{"BadHeader", "time,open,high,low,close\n" + line1 + "\n", "line 1",
                 "a header line must name the columns time,open,high,low,close,volume"},
        BadInput{"LastOfManyWithoutLineEnd", header + goodLines(1000) + "2030-01-01,2,1,3,2,0",
                 "line 1002, column 3 (high)", "is below the low"},
        BadInput{"MoreThanTheRoom", header + goodLines(5), "line 6",
                 "the file has room for 4 more bars, and this is one more"}),
    [](const testing::TestParamInfo<BadInput> &row) { return row.param.name; });

TEST(Import, CountsBadLinesBeyondThoseItNames)
{
    TempFolder scratch;
    const auto path = makeDataFile(scratch.path(), 5, {stored});
    std::string csv = header;
    for (int i = 0; i < 25; ++i) {
        csv += "2030-01-01,x,1,1,1,1\n";
    }
    const Result result = run({importer, path.string()}, csv);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "line 21, column 2")) << result.err;
    EXPECT_FALSE(contains(result.err, "line 22,")) << result.err;
    EXPECT_TRUE(contains(result.err, "and 5 more bad lines")) << result.err;
    EXPECT_TRUE(contains(result.err, "(25 bad lines)")) << result.err;
}

TEST_P(TakesOddShapes, AddingTheirBars)
{
    TempFolder scratch;
    const auto path = makeDataFile(scratch.path(), 5, {stored});
    const Result result = run({importer, path.string()}, GetParam().csv);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    std::vector<Bar> expected = {stored, next1, next2};
    expected.resize(1 + GetParam().bars);
    EXPECT_EQ(storedBars(path), expected);
    EXPECT_TRUE(DataFile::open(path).header().closedCleanly);
}

const std::string bom = "\xEF\xBB\xBF";

INSTANTIATE_TEST_SUITE_P(
    Table, TakesOddShapes,
    testing::Values(
        Shape{"Empty", "", 0}, Shape{"HeaderOnly", header, 0},
        Shape{"HeaderOnlyWithoutLineEnd", "time,open,high,low,close,volume", 0},
        Shape{"OnlyALineEnd", "\n", 0},
        Shape{"CrLf", "time,open,high,low,close,volume\r\n" + line1 + "\r\n" + line2 + "\r\n", 2},
        Shape{"ByteOrderMark", bom + header + line1 + "\n" + line2 + "\n", 2},
        Shape{"ByteOrderMarkWithoutHeader", bom + line1 + "\n", 1},
        Shape{"ByteOrderMarkAndCrLf",
              bom + "time,open,high,low,close,volume\r\n" + line1 + "\r\n" + line2, 2},
        Shape{"NoFinalLineEnd", header + line1 + "\n" + line2, 2},
        Shape{"NoHeader", line1 + "\n" + line2 + "\n", 2},
        Shape{"BlankLines", "\n" + line1 + "\n\n \n" + line2 + "\n\n", 2},
        Shape{"HeaderInCapitals", "Time,Open,High,Low,Close,Volume\n" + line1, 1},
        Shape{"EpochMilliseconds",
              header + "1796601660000,1,2,0.5,1.5,10\n1796601720000,2,3,1,2.5,0\n", 2},
        Shape{"SpacesAndQuotes", header + " \"2026-12-07 00:01:00\" , 1 ,2,0.5,1.5,\"10\"\n", 1}),
    [](const testing::TestParamInfo<Shape> &row) { return row.param.name; });

TEST(Import, ReadsANamedFile)
{
    TempFolder scratch;
    const auto path = makeDataFile(scratch.path(), 5, {stored});
    write(scratch.path() / "in.csv", header + line1 + "\n");
    const Result result = run({importer, path.string(), (scratch.path() / "in.csv").string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(storedBars(path), (std::vector<Bar>{stored, next1}));
}

struct Usage
{
    const char *name;
    std::vector<std::string> arguments;
    int status;
    std::string text;
};

class ImportCommandLine : public testing::TestWithParam<Usage>
{
};

TEST_P(ImportCommandLine, ExitStatus)
{
    TempFolder scratch;
    const auto path = makeDataFile(scratch.path(), 5);
    write(scratch.path() / "damaged.qdf", "QUELMDAT but not much more");
    std::vector<std::string> arguments = {importer};
    for (const std::string &argument : GetParam().arguments) {
        arguments.push_back(argument == "FILE"      ? path.string()
                            : argument == "DAMAGED" ? (scratch.path() / "damaged.qdf").string()
                                                    : argument);
    }
    const Result result = run(arguments, line1);
    EXPECT_EQ(result.status, GetParam().status) << result.err;
    EXPECT_TRUE(contains(result.out + result.err, GetParam().text)) << result.out << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImportCommandLine,
    testing::Values(Usage{"Help", {"--help"}, 0, "Usage: quelm-import FILE [INPUT]"},
                    Usage{"NoFile", {}, 2, "no file given"},
                    Usage{"UnknownOption", {"--fast", "FILE"}, 2, "unknown option --fast"},
                    Usage{"TooMany", {"FILE", "-", "-"}, 2, "too many operands"},
                    Usage{"MissingFile", {"/nonexistent/0001.qdf"}, 1, "Cannot open data file"},
                    Usage{"DamagedFile", {"DAMAGED"}, 1, "too short for the header"},
                    Usage{"MissingInput",
                          {"FILE", "/nonexistent/in.csv"},
                          1,
                          "cannot read /nonexistent/in.csv"},
                    Usage{"StandardInputByName", {"FILE", "-"}, 0, ""}),
    [](const testing::TestParamInfo<Usage> &row) { return row.param.name; });

// Another writer holds the lock: the import waits, writing nothing, and goes on once it is free.
TEST(ImportLock, WaitsForAnotherWriter)
{
    TempFolder scratch;
    const auto path = makeDataFile(scratch.path(), 5, {stored});
    const std::string before = contents(path);
    write(scratch.path() / "in.csv", header + line1 + "\n" + line2 + "\n");
    std::optional<DataFile> writer = DataFile::open(path, DataFile::Mode::Exclusive);
    Child::Streams streams;
    streams.input = scratch.path() / "in.csv";
    Child import({importer, path.string()}, streams, scratch.path());
    EXPECT_TRUE(saysItWaits(import)) << import.err();
    EXPECT_TRUE(import.running());
    EXPECT_EQ(contents(path), before);
    writer.reset();
    EXPECT_EQ(import.wait(), 0) << import.err();
    EXPECT_EQ(storedBars(path), (std::vector<Bar>{stored, next1, next2}));
}

struct Meanwhile
{
    const char *name;
    Bar added; // by another writer while the import waits for the lock
    std::string where;
    std::string reason;
};

class ChecksAgainWithTheLock : public testing::TestWithParam<Meanwhile>
{
};

// Bars another writer adds while the import waits count as the file's: the import checks its
// input against them again once it has the lock, and writes nothing when it no longer fits.
TEST_P(ChecksAgainWithTheLock, AndWritesNothing)
{
    TempFolder scratch;
    const auto path = makeDataFile(scratch.path(), 3, {stored});
    write(scratch.path() / "in.csv", header + line1 + "\n" + line2 + "\n");
    std::optional<DataFile> writer = DataFile::open(path, DataFile::Mode::Exclusive);
    Child::Streams streams;
    streams.input = scratch.path() / "in.csv";
    Child import({importer, path.string()}, streams, scratch.path());
    ASSERT_TRUE(saysItWaits(import)) << import.err();
    writer->appendBars(std::span(&GetParam().added, 1));
    writer.reset();
    EXPECT_EQ(import.wait(), 1);
    EXPECT_TRUE(contains(import.err(), GetParam().where + ": " + GetParam().reason))
        << import.err();
    EXPECT_EQ(storedBars(path), (std::vector<Bar>{stored, GetParam().added}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChecksAgainWithTheLock,
    testing::Values(Meanwhile{"LaterBar", next2, "line 2, column 1 (time)",
                              "its time is not after the file's last bar"},
                    Meanwhile{"LastRoom",
                              {stored.timeMs + 1, 1, 1, 1, 1, 1},
                              "line 3",
                              "the file has room for 1 more bar, and this is one more"}),
    [](const testing::TestParamInfo<Meanwhile> &row) { return row.param.name; });

// The window's store holds the file open: the import adds its bars, and the store's close later
// keeps them and marks the file closed.
TEST(ImportLock, IntoAFileTheWindowHoldsOpen)
{
    TempFolder scratch;
    DataFileStore store(scratch.path());
    std::int32_t number = 1, capacity = 5;
    store.CreateDataFile(number, capacity);
    const auto path = *store.filePath(1);
    const Result result = run({importer, path.string()}, line1 + "\n" + line2 + "\n");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(DataFile::open(path).header().closedCleanly);
    store.CloseDataFile(number);
    const DataFile file = DataFile::open(path);
    EXPECT_TRUE(file.header().closedCleanly);
    EXPECT_EQ(file.readBars(0, file.header().barsWritten), (std::vector<Bar>{next1, next2}));
}

// Two imports of the same bars at once: one adds them, the other finds them there, and no bar
// is stored twice.
TEST(ImportLock, TwoAtOnce)
{
    TempFolder scratch;
    const std::vector<Bar> bars = sampleBars(300'000, next1.timeMs);
    const auto path = makeDataFile(scratch.path(), 600'000);
    write(scratch.path() / "in.csv", csvOf(bars));
    Child::Streams streams;
    streams.input = scratch.path() / "in.csv";
    Child first({importer, path.string()}, streams, scratch.path());
    Child second({importer, path.string()}, streams, scratch.path());
    const int statuses[] = {first.wait(), second.wait()};
    EXPECT_EQ(std::min(statuses[0], statuses[1]), 0) << first.err() << second.err();
    EXPECT_EQ(std::max(statuses[0], statuses[1]), 1) << first.err() << second.err();
    EXPECT_TRUE(contains(first.err() + second.err(), "line 2, column 1 (time)"));
    EXPECT_EQ(storedBars(path), bars);
}

// Killed while it writes, the import leaves a valid file that counts none of its bars: their
// count goes to the file only with the flush at its end, after their records.
TEST(Import, KilledPartwayLeavesAValidFile)
{
    TempFolder scratch;
    const std::vector<Bar> bars = sampleBars(1'000'000, next1.timeMs);
    write(scratch.path() / "in.csv", csvOf(bars));
    bool partway = false;
    for (int attempt = 0; attempt < 3 && !partway; ++attempt) {
        const auto path = makeDataFile(scratch.path(), 1'000'000);
        const auto firstRecordWritten = [&] {
            std::ifstream file(path, std::ios::binary);
            std::string record(48, '\0');
            file.seekg(64).read(record.data(), 48);
            return record != std::string(48, '\0');
        };
        Child::Streams streams;
        streams.input = scratch.path() / "in.csv";
        Child import({importer, path.string()}, streams, scratch.path());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (import.running() && std::chrono::steady_clock::now() < deadline &&
               !firstRecordWritten()) {
        }
        import.kill();
        import.wait();
        const std::vector<Bar> counted = storedBars(path);
        EXPECT_TRUE(counted.empty() || counted == bars) << counted.size() << " bars counted";
        partway = counted.empty() && firstRecordWritten();
    }
    EXPECT_TRUE(partway) << "the import always ended before it was killed";
}
