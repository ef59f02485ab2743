// quelm-export run as a program: the text it prints, ranges, the command line.

#include "commandtest.h"

#include <quelm/datafile.h>

#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using namespace quelm;
using namespace testsupport;

namespace {

using Export = CommandTest;

const std::string exporter = QUELM_EXPORT;
const std::string importer = QUELM_IMPORT;

std::string records(const std::filesystem::path &path)
{
    const DataFile file = DataFile::open(path);
    return contents(path).substr(64, 48 * file.header().barsWritten);
}

struct Range
{
    const char *name;
    std::vector<std::string> arguments;
    std::size_t first;
    std::size_t count;
};

using SelectsARange = CommandTable<Range>;

struct Usage
{
    const char *name;
    std::vector<std::string> arguments;
    int status;
    std::string text;
};

using ExportCommandLine = CommandTable<Usage>;

} // namespace

TEST_F(Export, PrintsCsvAndJsonLines)
{
    const auto path = makeDataFile(
        scratch.path(), 5,
        {{1'796'623'262'345, 1.5, 2, 0.1, 1.75, 100}, {1'796'623'322'345, 2, 3, -0.0, 0.5, 0}});
    Result result = run({exporter, path.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, header + "2026-12-07T06:01:02.345Z,1.5,2,0.1,1.75,100\n"
                                   "2026-12-07T06:02:02.345Z,2,3,-0,0.5,0\n");
    result = run({exporter, "--format", "jsonl", path.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "{\"time\":\"2026-12-07T06:01:02.345Z\",\"open\":1.5,\"high\":2,"
                          "\"low\":0.1,\"close\":1.75,\"volume\":100}\n"
                          "{\"time\":\"2026-12-07T06:02:02.345Z\",\"open\":2,\"high\":3,"
                          "\"low\":-0,\"close\":0.5,\"volume\":0}\n");
    EXPECT_EQ(result.err, "");
}

// A file name outside any one code page reaches both commands whole, on Windows too.
TEST_F(Export, ReachesAFileWhateverItsName)
{
    const auto folder = scratch.path() / std::filesystem::path(u8"Donn\u00e9es-\u6570\u636e");
    std::filesystem::create_directory(folder);
    const std::u8string name = makeDataFile(folder, 5).u8string();
    const std::string path(name.begin(), name.end());
    const std::string bar = "2026-12-07T06:01:02.345Z,1.5,2,0.1,1.75,100\n";
    const Result imported = run({importer, path}, header + bar);
    ASSERT_EQ(imported.status, 0) << imported.err;
    const Result exported = run({exporter, path});
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out, header + bar);
}

// Exported and imported into a new file, bars come back bit for bit, the awkward ones too. The
// import reads them through a pipe, which ends when its writer has gone.
TEST_F(Export, ImportOfTheExportGivesTheSameBars)
{
    constexpr double denormal = std::numeric_limits<double>::denorm_min();
    constexpr std::int64_t earliest = std::numeric_limits<std::int64_t>::min();
    const std::vector<Bar> bars = {
        {earliest, -0.0, -0.0, -0.0, -0.0, -0.0},
        {-86'400'001, 0.1, 0.30000000000000004, 0.1, 0.2, 0.1},
        {0, denormal, 1e308, denormal, 1e-310, denormal * 7},
        {1'796'623'262'345, 1.0 / 3, std::numeric_limits<double>::max(), -1e308, 2.0 / 3, 1e308},
        {253'402'300'800'000, -2.5, -1.5, -3.5, -2, 2.2250738585072014e-308},
        {std::numeric_limits<std::int64_t>::max(), 123456.789, 123456.789, 123456.789, 123456.789,
         0}};
    const auto original = dataFile(10, bars);
    const auto copy = dataFile(10);
    const Result exported = run({exporter, original.string()});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const Result imported = runThroughPipe({importer, copy.string()}, exported.out);
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(records(copy), records(original));
    EXPECT_EQ(storedBars(copy).size(), bars.size());
    EXPECT_EQ(run({exporter, copy.string()}).out, exported.out);
}

TEST_P(SelectsARange, OfBars)
{
    const std::vector<Bar> bars = sampleBars(10);
    const auto path = dataFile(12, bars);
    std::vector<std::string> arguments = {exporter};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    arguments.push_back(path.string());
    const Result result = run(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<Bar> expected(
        bars.begin() + static_cast<std::ptrdiff_t>(GetParam().first),
        bars.begin() + static_cast<std::ptrdiff_t>(GetParam().first + GetParam().count));
    EXPECT_EQ(result.out, csvOf(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SelectsARange,
    testing::Values(Range{"All", {}, 0, 10}, Range{"FromTheFourth", {"--first", "3"}, 3, 7},
                    Range{"FirstTwo", {"--count", "2"}, 0, 2},
                    Range{"TwoFromTheSixth", {"--first=5", "--count=2"}, 5, 2},
                    Range{"PastTheEnd", {"--first", "8", "--count", "5"}, 8, 2},
                    Range{"AtTheEnd", {"--first", "10"}, 10, 0},
                    Range{"BeyondTheEnd", {"--first", "11"}, 10, 0},
                    Range{"None", {"--count", "0"}, 0, 0},
                    Range{"Huge", {"--first", "2", "--count", "18446744073709551615"}, 2, 8},
                    Range{"Last", {"--first", "9", "--count", "1"}, 9, 1}),
    RowName());

TEST_F(Export, RangeInJsonLines)
{
    const auto path = dataFile(10, sampleBars(10));
    const Result result =
        run({exporter, "--format=jsonl", "--first", "4", "--count", "2", path.string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 2);
    EXPECT_TRUE(result.out.starts_with("{\"time\":\"2026-12-07T06:05:02.345Z\",")) << result.out;
}

TEST_P(ExportCommandLine, ExitStatus)
{
    const auto path = dataFile(5, sampleBars(2));
    write(scratch.path() / "damaged.qdf", std::string(200, 'x'));
    std::vector<std::string> arguments = {exporter};
    for (const std::string &argument : GetParam().arguments) {
        arguments.push_back(argument == "FILE"      ? path.string()
                            : argument == "DAMAGED" ? (scratch.path() / "damaged.qdf").string()
                                                    : argument);
    }
    const Result result = run(arguments);
    EXPECT_EQ(result.status, GetParam().status) << result.err;
    EXPECT_TRUE(contains(result.out + result.err, GetParam().text)) << result.out << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExportCommandLine,
    testing::Values(
        Usage{"Help", {"--help"}, 0, "Usage: quelm-export [--format csv|jsonl]"},
        Usage{"NoFile", {}, 2, "no file given"}, Usage{"TwoFiles", {"FILE", "FILE"}, 2, "one file"},
        Usage{"UnknownOption", {"--all", "FILE"}, 2, "unknown option --all"},
        Usage{"UnknownFormat", {"--format", "xml", "FILE"}, 2, "the format is csv or jsonl"},
        Usage{"MissingValue", {"FILE", "--first"}, 2, "--first needs a value"},
        Usage{"NotACount", {"--count", "-1", "FILE"}, 2, "--count takes a whole number"},
        Usage{"NotAFirst", {"--first=2x", "FILE"}, 2, "--first takes a whole number"},
        Usage{"MissingFile", {"/nonexistent/0001.qdf"}, 1, "Cannot open data file"},
        Usage{"LoneSurrogateInAnOption", {"--\xed\xa0\x80", "FILE"}, 2, "unknown option --"},
        Usage{"DamagedFile", {"DAMAGED"}, 1, "it is not a Quelm data file"}),
    RowName());
