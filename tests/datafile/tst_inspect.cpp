#include "encoding.h"
#include "runprogram.h"
#include "testsupport.h"

#include <quelm/datafile.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

using namespace quelm;
using namespace testsupport;

// Runs the built quelm-inspect on data files made by the store.

struct FreshFileRow : Row
{
    std::int32_t bars;
    bool closed;
    std::int64_t createdMs; // written into the header afterwards
    const char *created;
    std::size_t appended;                // bars added, at time 0 but with prices
    std::optional<std::uint64_t> zeroed; // a record then made all zero bytes
    bool verify;
    std::uint32_t tail = 0;   // bars then added as a tail, not flushed
    bool tailChanged = false; // a record of the tail then changed
};

class FreshFile : public FolderTestWithRows<FreshFileRow>
{
};

namespace {

Result inspect(const std::vector<std::string> &arguments)
{
    std::vector<std::string> command{QUELM_INSPECT};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run(command);
}

// One value of a flat JSON object: a string's text, or the literal as written.
struct JsonValue
{
    bool isString = false;
    std::string text;

    bool operator==(const JsonValue &) const = default;
};

JsonValue jsonString(const std::string &text)
{
    return {true, text};
}

JsonValue jsonLiteral(const std::string &text)
{
    return {false, text};
}

std::ostream &operator<<(std::ostream &out, const JsonValue &value)
{
    return out << (value.isString ? "\"" + value.text + "\"" : value.text);
}

using JsonObject = std::map<std::string, JsonValue>;

// Reads a JSON string whose opening quote is at `at`, leaving `at` after its closing quote.
// Escapes other than \uXXXX are kept as the character they stand for.
std::string readString(const std::string &line, std::size_t &at)
{
    std::string text;
    for (++at; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] != '\\' || at + 1 >= line.size()) {
            text += line[at];
            continue;
        }
        const char escaped = line[++at];
        if (escaped == 'u' && at + 4 < line.size()) {
            const auto code = std::strtoul(line.substr(at + 1, 4).c_str(), nullptr, 16);
            text += code < 0x80 ? std::string(1, static_cast<char>(code)) : "?";
            at += 4;
        } else {
            text += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
        }
    }
    ++at;
    return text;
}

// A line of the form {"key":value,...} with string, number, true, false or null values;
// an empty object when the line is not of that form.
JsonObject parseObject(const std::string &line)
{
    JsonObject object;
    std::size_t at = 0;
    const auto skipSpace = [&] {
        while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) {
            ++at;
        }
    };
    skipSpace();
    if (at >= line.size() || line[at++] != '{') {
        return {};
    }
    for (;;) {
        skipSpace();
        if (at >= line.size() || line[at] != '"') {
            return line[at] == '}' ? object : JsonObject();
        }
        const std::string key = readString(line, at);
        skipSpace();
        if (at >= line.size() || line[at++] != ':') {
            return {};
        }
        skipSpace();
        if (at < line.size() && line[at] == '"') {
            object[key] = jsonString(readString(line, at));
        } else {
            const std::size_t end = line.find_first_of(",} \t", at);
            if (end == std::string::npos) {
                return {};
            }
            object[key] = jsonLiteral(line.substr(at, end - at));
            at = end;
        }
        skipSpace();
        if (at < line.size() && line[at] == ',') {
            ++at;
        } else if (at < line.size() && line[at] == '}') {
            return object;
        } else {
            return {};
        }
    }
}

std::vector<JsonObject> jsonLines(const std::string &output)
{
    std::vector<JsonObject> objects;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            objects.push_back(parseObject(line));
        }
    }
    return objects;
}

using InspectTest = FolderTest;

// The reports are text, their lines ending as text lines do on the system.
#ifdef _WIN32
const std::string lineEnd = "\r\n";
#else
const std::string lineEnd = "\n";
#endif

} // namespace

TEST_P(FreshFile, IsReportedAsJson)
{
    const FreshFileRow &row = GetParam();
    DataFileStore store(folder.path());
    const std::filesystem::path made = store.createFile(7, row.bars);
    DataFile::open(made, DataFile::Mode::ReadWrite)
        .appendBars(std::vector<Bar>(row.appended, {0, 1.5, 2, 1, 1.5, 0}));
    if (row.closed) {
        store.closeFile(7);
    }
    const std::string path = text(made);
    DataFileHeader header = DataFile::open(path).header();
    header.createdMs = row.createdMs;
    const HeaderBytes bytes = encodeHeader(header);
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    if (row.zeroed) {
        write(made, contents(made).replace(64 + 48 * *row.zeroed, 48, std::string(48, '\0')));
    }
    writeTail(made, std::vector<Bar>(row.tail, {0, 2.5, 3, 2, 2.5, 1}));
    if (row.tailChanged) {
        write(made, contents(made).replace(64 + 48 * row.appended, 1, 1, '\x01'));
    }
    const std::size_t counted = row.appended + (row.tailChanged ? 0 : row.tail);

    const Result result = inspect({"--json", row.verify ? "--verify" : "--json", path});
    EXPECT_EQ(result.status, row.verify && row.zeroed ? 1 : 0) << result.err;
    EXPECT_EQ(result.err, "");
    const auto lines = jsonLines(result.out);
    ASSERT_EQ(lines.size(), 1u) << result.out;
    JsonObject file = lines[0];
    EXPECT_EQ(file["file"], jsonString(path));
    EXPECT_EQ(file["valid"], jsonLiteral("true"));
    EXPECT_EQ(file["number"], jsonLiteral("7"));
    EXPECT_EQ(file["capacity"], jsonLiteral(std::to_string(row.bars)));
    EXPECT_EQ(file["bars"], jsonLiteral(std::to_string(counted)));
    EXPECT_EQ(file["state"], jsonString(row.closed ? "closed" : "open"));
    EXPECT_EQ(file["created"], jsonString(row.created));
    EXPECT_EQ(file["tail_bars"], jsonLiteral(std::to_string(row.tail)));
    EXPECT_EQ(file["tail_proven"],
              jsonLiteral(row.tail > 0 && !row.tailChanged ? "true" : "false"));
    EXPECT_EQ(file.count("error"), 0u) << result.out;
    if (row.verify) {
        EXPECT_EQ(file["zero_record"].text, row.zeroed ? std::to_string(*row.zeroed) : "null");
        EXPECT_EQ(file["sound_bars"].text, std::to_string(row.zeroed.value_or(counted)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inspect, FreshFile,
    ::testing::Values(FreshFileRow{"made, filled and closed, verified", 10, true, 1796623262345,
                                   "2026-12-07T06:01:02.345Z", 3, std::nullopt, true},
                      FreshFileRow{"still open, no bars, made before 1970", 0, false, -1,
                                   "1969-12-31T23:59:59.999Z", 0, std::nullopt, false},
                      FreshFileRow{"a zero record, not verified", 10, false, 1796623262345,
                                   "2026-12-07T06:01:02.345Z", 4, 2, false},
                      FreshFileRow{"a zero record, verified", 10, true, 1796623262345,
                                   "2026-12-07T06:01:02.345Z", 4, 2, true},
                      FreshFileRow{"the last counted record zero, verified", 10, true,
                                   1796623262345, "2026-12-07T06:01:02.345Z", 4, 3, true},
                      FreshFileRow{"a zero record past the first chunk read, verified", 70000, true,
                                   1796623262345, "2026-12-07T06:01:02.345Z", 70000, 65540, true},
                      FreshFileRow{"a proven tail, verified", 10, false, 1796623262345,
                                   "2026-12-07T06:01:02.345Z", 2, std::nullopt, true, 3},
                      FreshFileRow{"a tail its records do not prove", 10, false, 1796623262345,
                                   "2026-12-07T06:01:02.345Z", 2, std::nullopt, true, 3, true}),
    RowName());

TEST_F(InspectTest, ReportsDamagedAndMissingFilesAndFolders)
{
    DataFileStore store(folder.path());
    store.createFile(1, 10);
    const auto good = *store.filePath(1);
    const auto cut = folder.path() / "cut.qdf";
    const std::string bytes = contents(good);
    write(cut, bytes.substr(0, bytes.size() - 48));
    const std::string missing = text(folder.path() / "missing.qdf");

    const Result result = inspect({"--json", text(good), text(cut), missing, text(folder.path())});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    auto lines = jsonLines(result.out);
    ASSERT_EQ(lines.size(), 4u) << result.out;
    EXPECT_EQ(lines[0]["valid"], jsonLiteral("true"));
    EXPECT_EQ(lines[1]["valid"], jsonLiteral("false"));
    EXPECT_EQ(lines[1]["number"], jsonLiteral("null"));
    EXPECT_EQ(lines[1]["error"],
              jsonString("Cannot open data file " + text(cut) +
                         ": its header gives room for 10 bars, which takes 544 bytes, but the "
                         "file is 496 bytes long."));
    EXPECT_EQ(lines[2]["file"], jsonString(missing));
    EXPECT_EQ(lines[2]["valid"], jsonLiteral("false"));
    EXPECT_EQ(lines[3]["error"], jsonString("Cannot open data file " + text(folder.path()) +
                                            ": not a regular file: a folder."));
}

TEST_F(InspectTest, PrintsHeadersAsText)
{
    DataFileStore store(folder.path());
    store.createFile(12, 250);
    store.closeFile(12);
    const std::string path = text(*store.filePath(12));

    const Result result = inspect({path});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind(path + ": valid, closed cleanly" + lineEnd, 0), 0u) << result.out;
    EXPECT_NE(result.out.find("  file number   12" + lineEnd + "  capacity      250 bars" +
                              lineEnd + "  bars written  0" + lineEnd),
              std::string::npos)
        << result.out;
}

struct UsageRow : Row
{
    std::vector<std::string> arguments;
    int exitCode;
};

class Usage : public ::testing::TestWithParam<UsageRow>
{
};

TEST_P(Usage, IsExplained)
{
    const Result result = inspect(GetParam().arguments);
    EXPECT_EQ(result.status, GetParam().exitCode);
    const std::string shown = result.out + result.err;
    EXPECT_NE(shown.find("Usage: quelm-inspect [--json] [--verify] FILE..."), std::string::npos)
        << shown;
}

INSTANTIATE_TEST_SUITE_P(Inspect, Usage,
                         ::testing::Values(UsageRow{"help", {"--help"}, 0},
                                           UsageRow{"no file", {}, 2},
                                           UsageRow{"json alone", {"--json"}, 2},
                                           UsageRow{"unknown option", {"--jsn", "x.qdf"}, 2}),
                         RowName());
