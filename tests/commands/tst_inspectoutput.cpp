// quelm-inspect in a hostile world: names that are not plain text, things that are not regular
// files, and output that cannot be written.

#include "rows.h"
#include "textescape.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#ifndef _WIN32
#include "commandtest.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using namespace quelm::inspect;
using testsupport::RowName;

namespace {

struct EscapeCase
{
    const char *name;
    std::string bytes;
    std::string json;
    std::string line;
};

using Escaping = testing::TestWithParam<EscapeCase>;

TEST_P(Escaping, GivesOneJsonStringAndOneLineOfText)
{
    EXPECT_EQ(jsonString(GetParam().bytes), GetParam().json);
    EXPECT_EQ(lineText(GetParam().bytes), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Escaping,
    testing::Values(
        EscapeCase{"Plain", "0001.qdf", R"("0001.qdf")", "0001.qdf"},
        EscapeCase{"QuoteAndBackslash", R"(a"b\c)", R"("a\"b\\c")", R"(a"b\c)"},
        EscapeCase{"LineBreaksAndTab", "a\nb\tc\rd", R"("a\nb\tc\rd")", R"(a\x0ab\x09c\x0dd)"},
        EscapeCase{"OtherC0AndDelete", std::string("\0\x1b\x7f", 3), R"("\u0000\u001b\u007f")",
                   R"(\x00\x1b\x7f)"},
        EscapeCase{"C1Control",
                   "a\xc2\x9b"
                   "b",
                   R"("a\u009bb")", R"(a\xc2\x9bb)"},
        EscapeCase{"NoBreakSpaceIsNoControl", "\xc2\xa0", "\"\xc2\xa0\"", "\xc2\xa0"},
        EscapeCase{"AccentsAndHan", "Données-数据", "\"Données-数据\"", "Données-数据"},
        EscapeCase{"LargestCodePoint", "\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\"",
                   "\xf4\x8f\xbf\xbf"},
        EscapeCase{"LineSeparators", "\xe2\x80\xa8\xe2\x80\xa9", R"("\u2028\u2029")",
                   "\xe2\x80\xa8\xe2\x80\xa9"},
        EscapeCase{"StrayByte",
                   "a\xff"
                   "b",
                   R"("a\\xffb")", R"(a\xffb)"},
        EscapeCase{"CutShortCharacter", "\xe6\x95", R"("\\xe6\\x95")", R"(\xe6\x95)"},
        EscapeCase{"OverlongSlash", "\xc0\xaf", R"("\\xc0\\xaf")", R"(\xc0\xaf)"},
        EscapeCase{"Surrogate", "\xed\xa0\x80", R"("\\xed\\xa0\\x80")", R"(\xed\xa0\x80)"},
        EscapeCase{"BeyondLargestCodePoint", "\xf4\x90\x80\x80", R"("\\xf4\\x90\\x80\\x80")",
                   R"(\xf4\x90\x80\x80)"}),
    RowName());

struct Utf16Case
{
    const char *name;
    std::u16string units;
    std::string utf8;
};

using WideNames = testing::TestWithParam<Utf16Case>;

TEST_P(WideNames, BecomeUtf8)
{
    EXPECT_EQ(utf8FromUtf16(std::u16string_view(GetParam().units)), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WideNames,
    testing::Values(Utf16Case{"AccentsAndHan", u"Données-数据.qdf", "Données-数据.qdf"},
                    Utf16Case{"SurrogatePair", u"\U0001F600", "\xf0\x9f\x98\x80"},
                    Utf16Case{"LoneHighSurrogate",
                              {u'a', char16_t(0xD800), u'b'},
                              "a\xed\xa0\x80"
                              "b"},
                    Utf16Case{"LoneLowSurrogate", {char16_t(0xDC00)}, "\xed\xb0\x80"},
                    Utf16Case{"HighSurrogateAtTheEnd", {char16_t(0xD83D)}, "\xed\xa0\xbd"}),
    RowName());

#ifndef _WIN32

namespace fs = std::filesystem;
using namespace testsupport;
using OddNames = CommandTest;

enum class Output
{
    File,
    DiskFull,
    Closed,
    ReaderGone
};

// Runs the built quelm-inspect with `arguments`, its standard output going where `output` says.
Result inspect(std::vector<std::string> arguments, Output output = Output::File,
               bool ignoreSigpipe = false)
{
    arguments.insert(arguments.begin(), QUELM_INSPECT);
    if (output == Output::File) {
        return run(arguments);
    }
    TempFolder scratch;
    Child::Streams streams;
    streams.ignoreSigpipe = ignoreSigpipe;
    int ends[2] = {-1, Child::closed};
    if (output == Output::DiskFull) {
        ends[1] = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    } else if (output == Output::ReaderGone && ::pipe2(ends, O_CLOEXEC) == 0) {
        ::close(ends[0]);
    }
    streams.outputFd = ends[1];
    Child child(arguments, streams, scratch.path());
    if (ends[1] >= 0) {
        ::close(ends[1]);
    }
    const int status = child.wait();
    return {status, child.out(), child.err()};
}

struct NotRegularCase
{
    const char *name;
    std::function<fs::path(const fs::path &dir)> make;
    const char *kind;
};

using NotRegularFiles = CommandTable<NotRegularCase>;

TEST_P(NotRegularFiles, AreRefusedAtOnceBetweenReportsOnTheFilesAround)
{
    const fs::path good = dataFile(10);
    const fs::path thing = GetParam().make(scratch.path());

    const Result child = inspect({"--json", good, thing, good});
    EXPECT_EQ(child.status, 1) << "-1: still running at the deadline; wrote: " << child.out;
    const std::vector<std::string> reports = lines(child.out);
    ASSERT_EQ(reports.size(), 3u) << child.out;
    EXPECT_NE(reports[0].find(R"("valid":true)"), std::string::npos);
    EXPECT_EQ(reports[1],
              R"({"file":")" + thing.string() +
                  R"(","valid":false,"number":null,"capacity":null,"bars":null,"state":null,)"
                  R"("created":null,"tail_bars":null,"tail_proven":null,)"
                  R"("error":"Cannot open data file )" +
                  thing.string() + ": not a regular file: " + GetParam().kind + R"(."})");
    EXPECT_NE(reports[2].find(R"("valid":true)"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, NotRegularFiles,
    testing::Values(NotRegularCase{"NamedPipeWithoutWriter",
                                   [](const fs::path &dir) {
                                       const fs::path pipe = dir / "pipe.qdf";
                                       EXPECT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
                                       return pipe;
                                   },
                                   "a named pipe"},
                    NotRegularCase{"Folder",
                                   [](const fs::path &dir) {
                                       fs::create_directory(dir / "folder.qdf");
                                       return dir / "folder.qdf";
                                   },
                                   "a folder"},
                    NotRegularCase{"Device", [](const fs::path &) { return fs::path("/dev/null"); },
                                   "a device"},
                    NotRegularCase{"Socket",
                                   [](const fs::path &dir) {
                                       const fs::path path = dir / "socket.qdf";
                                       sockaddr_un address = {};
                                       address.sun_family = AF_UNIX;
                                       path.string().copy(address.sun_path,
                                                          sizeof address.sun_path - 1);
                                       const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                                       EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address),
                                                        sizeof address),
                                                 0);
                                       ::close(fd);
                                       return path;
                                   },
                                   "a socket"}),
    RowName());

struct OutputCase
{
    const char *name;
    Output output;
    bool ignoreSigpipe;
    bool help;
    int exitCode;
    int signal;
    const char *message;
};

using UnwritableOutput = CommandTable<OutputCase>;

TEST_P(UnwritableOutput, FailsAloudUnlessTheReaderLeft)
{
    const OutputCase &row = GetParam();
    const std::vector<std::string> arguments =
        row.help ? std::vector<std::string>{"--help"}
                 : std::vector<std::string>{"--json", dataFile(10)};

    const Result child = inspect(arguments, row.output, row.ignoreSigpipe);
    EXPECT_EQ(child.status, row.signal != 0 ? 128 + row.signal : row.exitCode);
    EXPECT_EQ(child.err, row.message);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, UnwritableOutput,
    testing::Values(OutputCase{"DiskFull", Output::DiskFull, false, false, 3, 0,
                               "quelm-inspect: cannot write the output: the disk is full\n"},
                    OutputCase{"DiskFullForHelp", Output::DiskFull, false, true, 3, 0,
                               "quelm-inspect: cannot write the output: the disk is full\n"},
                    OutputCase{"StandardOutputClosed", Output::Closed, false, false, 3, 0,
                               "quelm-inspect: cannot write the output: bad file descriptor\n"},
                    OutputCase{"ReaderGone", Output::ReaderGone, false, false, -1, SIGPIPE, ""},
                    OutputCase{"ReaderGoneWithSigpipeIgnored", Output::ReaderGone, true, false, 3,
                               0, ""}),
    RowName());

struct OddName
{
    std::string bytes;
    bool valid;
};

// Every line must be JSON on its own; each name is recovered as the bytes it was given.
const char *const readNames = R"(
import json, sys
text = sys.stdin.buffer.read().decode('utf-8')
assert text.endswith('\n'), 'the last line is not ended'
for line in text[:-1].split('\n'):
    report = json.loads(line)
    name = report['file']
    name = bytes.fromhex(report['file_bytes']) if 'file_bytes' in report else name.encode()
    print(name.hex(), report['valid'])
)";

TEST_F(OddNames, GiveOneJsonLineEachFromWhichTheNameCanBeRecovered)
{
    const fs::path good = dataFile(10);
    const std::vector<OddName> names = {
        {"quote\".qdf", true},          {"back\\slash.qdf", true},
        {"new\nline.qdf", true},        {"tab\tand\x1b[2J.qdf", true},
        {"not\xffutf8\xfe.qdf", true},  {"cut\xe6\x95.qdf", true},
        {"Données-数据.qdf", true},     {"c1\xc2\x9b.qdf", true},
        {"damaged \xff\"\n.qdf", false}};
    std::vector<std::string> arguments = {"--json"};
    std::string expected;
    for (const OddName &name : names) {
        const fs::path path = scratch.path() / name.bytes;
        if (name.valid) {
            fs::copy_file(good, path);
        } else {
            std::ofstream(path).put('x');
        }
        arguments.push_back(path);
        expected += hexText(path.native()) + (name.valid ? " True\n" : " False\n");
    }

    const Result inspected = inspect(arguments);
    EXPECT_EQ(inspected.status, 1);
    const Result parsed = run({PYTHON3, "-c", readNames}, inspected.out);
    EXPECT_EQ(parsed.status, 0) << parsed.err;
    EXPECT_EQ(parsed.out, expected) << inspected.out;
}

struct TextNameCase
{
    const char *name;
    std::string bytes;
    std::string shown;
};

using OddNamesAsText = CommandTable<TextNameCase>;

TEST_P(OddNamesAsText, CannotFakeAReport)
{
    const std::string path = (scratch.path() / GetParam().bytes).string();
    const std::string shown = (scratch.path() / GetParam().shown).string();

    const Result child = inspect({path});
    EXPECT_EQ(child.status, 1);
    EXPECT_EQ(child.out, shown + ": damaged\n  Cannot open data file " + shown +
                             ": it or a folder on its path does not exist.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Names, OddNamesAsText,
    testing::Values(TextNameCase{"Newline", "x\nfake.qdf: valid, closed cleanly",
                                 R"(x\x0afake.qdf: valid, closed cleanly)"},
                    TextNameCase{"CarriageReturn", "x\rfake.qdf: valid", R"(x\x0dfake.qdf: valid)"},
                    TextNameCase{"TerminalEscape", "x\x1b[1Afake.qdf", R"(x\x1b[1Afake.qdf)"},
                    TextNameCase{"NotUtf8", "x\xff.qdf", R"(x\xff.qdf)"}),
    RowName());

#endif

} // namespace
