#include "runprogram.h"
#include "testsupport.h"

#include <cstdlib>
#include <sstream>

using namespace quelm;
using namespace testsupport;

// Runs the built quelm-inspect on data files made by the store.

struct FreshFileRow : Row
{
    std::int32_t bars;
    bool closed;
};

class FreshFile : public FolderTestWithRows<FreshFileRow>
{
};

namespace {

ProgramResult inspect(const std::vector<std::string> &arguments)
{
    return runProgram(std::filesystem::u8path(QUELM_INSPECT), arguments);
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

} // namespace

TEST_P(FreshFile, IsReportedAsJson)
{
    const FreshFileRow &row = GetParam();
    DataFileStore store(folder.path());
    create(store, 7, row.bars);
    if (row.closed) {
        close(store, 7);
    }
    const std::string path = text(*store.filePath(7));

    const ProgramResult result = inspect({"--json", path});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const auto lines = jsonLines(result.output);
    ASSERT_EQ(lines.size(), 1u) << result.output;
    JsonObject file = lines[0];
    EXPECT_EQ(file["file"], jsonString(path));
    EXPECT_EQ(file["valid"], jsonLiteral("true"));
    EXPECT_EQ(file["number"], jsonLiteral("7"));
    EXPECT_EQ(file["capacity"], jsonLiteral(std::to_string(row.bars)));
    EXPECT_EQ(file["bars"], jsonLiteral("0"));
    EXPECT_EQ(file["state"], jsonString(row.closed ? "closed" : "open"));
    EXPECT_EQ(file.count("error"), 0u) << result.output;
}

INSTANTIATE_TEST_SUITE_P(Inspect, FreshFile,
                         ::testing::Values(FreshFileRow{"made and closed", 10, true},
                                           FreshFileRow{"still open, no bars", 0, false}),
                         RowName());

TEST_F(InspectTest, ReportsDamagedAndMissingFiles)
{
    DataFileStore store(folder.path());
    create(store, 1, 10);
    const auto good = *store.filePath(1);
    const auto cut = folder.path() / "cut.qdf";
    const std::string bytes = contents(good);
    write(cut, bytes.substr(0, bytes.size() - 48));
    const std::string missing = text(folder.path() / "missing.qdf");

    const ProgramResult result = inspect({"--json", text(good), text(cut), missing});
    EXPECT_EQ(result.exitCode, 1);
    auto lines = jsonLines(result.output);
    ASSERT_EQ(lines.size(), 3u) << result.output;
    EXPECT_EQ(lines[0]["valid"], jsonLiteral("true"));
    EXPECT_EQ(lines[1]["valid"], jsonLiteral("false"));
    EXPECT_EQ(lines[1]["number"], jsonLiteral("null"));
    EXPECT_EQ(lines[1]["error"],
              jsonString("Cannot open data file " + text(cut) +
                         ": its header gives room for 10 bars, which takes 544 bytes, but the "
                         "file is 496 bytes long."));
    EXPECT_EQ(lines[2]["file"], jsonString(missing));
    EXPECT_EQ(lines[2]["valid"], jsonLiteral("false"));
}

TEST_F(InspectTest, PrintsHeadersAsText)
{
    DataFileStore store(folder.path());
    create(store, 12, 250);
    close(store, 12);
    const std::string path = text(*store.filePath(12));

    const ProgramResult result = inspect({path});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output.rfind(path + ": valid, closed cleanly\n", 0), 0u) << result.output;
    EXPECT_NE(
        result.output.find("  file number   12\n  capacity      250 bars\n  bars written  0\n"),
        std::string::npos)
        << result.output;
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
    const ProgramResult result = inspect(GetParam().arguments);
    EXPECT_EQ(result.exitCode, GetParam().exitCode);
    EXPECT_NE(result.output.find("Usage: quelm-inspect [--json] FILE..."), std::string::npos)
        << result.output;
}

INSTANTIATE_TEST_SUITE_P(Inspect, Usage,
                         ::testing::Values(UsageRow{"help", {"--help"}, 0},
                                           UsageRow{"no file", {}, 2},
                                           UsageRow{"json alone", {"--json"}, 2},
                                           UsageRow{"unknown option", {"--jsn", "x.qdf"}, 2}),
                         RowName());
