// quelm-inspect: prints the header of each data file named on the command line and whether the
// file is valid and was closed cleanly, and with --verify where its counted bars likely stop
// being sound; exits 1 when any file is damaged or cannot be read.

#include "bartext.h"
#include "entry.h"
#include "openfile.h"
#include "textescape.h"

#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/errortext.h>
#include <quelm/filesystemcalls.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quelm::inspect;

const char *const usage =
    "Usage: quelm-inspect [--json] [--verify] FILE...\n"
    "\n"
    "Prints the header of each Quelm data file (.qdf) and whether it is valid and was\n"
    "closed cleanly. A file whose writer was killed is valid but not closed cleanly.\n"
    "Anything that is not a regular file (a folder, a named pipe, a device) is refused.\n"
    "\n"
    "Bars counts the bars a reader reads: those of the writer's last flush, and those\n"
    "appended since (the tail) when the checksum of their records proves them.\n"
    "\n"
    "  --json   one JSON object per file and line, with the keys file, valid, number,\n"
    "           capacity, bars, state (\"open\" or \"closed\"), created, tail_bars,\n"
    "           tail_proven and, for a file that is not valid, error (the others but file\n"
    "           are then null); file_bytes, the name's bytes in hex, when the name is not\n"
    "           UTF-8\n"
    "  --verify also reads every counted bar and reports the first record made only of\n"
    "           zero bytes, the likely end of the sound bars (a power cut while an older\n"
    "           Quelm wrote the file can leave such records counted); such a file counts\n"
    "           as damaged. JSON gets zero_record (its number, null when there is none)\n"
    "           and sound_bars (the bars before it)\n"
    "  --help   shows this text\n"
    "\n"
    "In names and messages, control characters and bytes that are not UTF-8 are shown\n"
    "as \\xHH.\n"
    "\n"
    "Exit status: 0 when every file is valid, 1 when any is damaged (with --verify, also\n"
    "when a counted record is all zero bytes) or cannot be read,\n"
    "2 when the command line is wrong, 3 when the output cannot be written.\n";

constexpr int outputFailedStatus = 3;

// One file's outcome: its header when it is valid, otherwise why it is not; when verified,
// the first counted record made only of zero bytes, if any.
struct Report
{
    std::string name;
    std::optional<quelm::DataFileHeader> header;
    quelm::DataFileTail tail;
    std::string error;
    bool verified = false;
    std::optional<std::uint64_t> zeroRecord;

    bool damaged() const { return !header || zeroRecord; }
};

bool allZeroBytes(const quelm::Bar &bar)
{
    return bar.timeMs == 0 &&
           std::ranges::all_of(
               std::array{bar.open, bar.high, bar.low, bar.close, bar.volume},
               [](double value) { return std::bit_cast<std::uint64_t>(value) == 0; });
}

// The first counted record made only of zero bytes, read in chunks. No market bar is at time 0
// with every price 0: such a record is reserved space that a count covers although its bar
// never reached the disk, and the sound bars likely end before it.
std::optional<std::uint64_t> firstZeroRecord(const quelm::DataFile &file)
{
    constexpr std::uint64_t chunk = 65536;
    const std::uint64_t count = file.header().barsWritten;
    std::vector<quelm::Bar> bars;
    for (std::uint64_t first = 0; first < count; first += chunk) {
        bars.resize(static_cast<std::size_t>(std::min(chunk, count - first)));
        file.readBars(first, bars);
        if (const auto zero = std::ranges::find_if(bars, allZeroBytes); zero != bars.end()) {
            return first + static_cast<std::uint64_t>(zero - bars.begin());
        }
    }
    return std::nullopt;
}

Report reportOn(const std::filesystem::path &path, bool verify)
{
    Report report{nameText(path), std::nullopt, {}, {}, verify, std::nullopt};
    const std::string cannotOpen = "Cannot open data file " + report.name + ": ";
    const OpenedFile opened = openForReading(path);
    if (!opened.notRegular.empty()) {
        report.error = cannotOpen + "not a regular file: " + opened.notRegular + ".";
        return report;
    }
    if (opened.error != 0) {
        report.error = cannotOpen + quelm::reasonText(opened.error) + ".";
        return report;
    }
    HandedOverFile calls(opened.handle);
    try {
        const quelm::DataFile file =
            quelm::DataFile::open(path, quelm::DataFile::Mode::ReadOnly, calls);
        report.zeroRecord = verify ? firstZeroRecord(file) : std::nullopt;
        report.header = file.header();
        report.tail = file.tailFound();
    } catch (const quelm::DataFileError &failure) {
        report.error = failure.what();
    } catch (const std::exception &failure) {
        // A Windows name with a lone surrogate cannot be turned into UTF-8 for the message.
        report.error = cannotOpen + failure.what() + ".";
    }
    return report;
}

std::string jsonReport(const Report &report)
{
    std::string line = "{\"file\":" + jsonString(report.name);
    if (!isUtf8(report.name)) {
        line += ",\"file_bytes\":\"" + hexText(report.name) + "\"";
    }
    if (const auto &header = report.header) {
        line += ",\"valid\":true,\"number\":" + std::to_string(header->fileNumber) +
                ",\"capacity\":" + std::to_string(header->capacity) +
                ",\"bars\":" + std::to_string(header->barsWritten) + ",\"state\":\"" +
                (header->closedCleanly ? "closed" : "open") + "\",\"created\":\"" +
                quelm::bartext::timeText(header->createdMs) +
                "\",\"tail_bars\":" + std::to_string(report.tail.bars) +
                ",\"tail_proven\":" + (report.tail.proven ? "true" : "false");
        if (report.verified) {
            line += ",\"zero_record\":" +
                    (report.zeroRecord ? std::to_string(*report.zeroRecord) : "null") +
                    ",\"sound_bars\":" +
                    std::to_string(report.zeroRecord.value_or(header->barsWritten));
        }
    } else {
        line += ",\"valid\":false,\"number\":null,\"capacity\":null,\"bars\":null,"
                "\"state\":null,\"created\":null,\"tail_bars\":null,\"tail_proven\":null,";
        if (report.verified) {
            line += "\"zero_record\":null,\"sound_bars\":null,";
        }
        line += "\"error\":" + jsonString(report.error);
    }
    return line + "}\n";
}

std::string textReport(const Report &report)
{
    const std::string name = lineText(report.name);
    const auto &header = report.header;
    if (!header) {
        return name + ": damaged\n  " + lineText(report.error) + "\n";
    }
    std::string tail;
    if (const std::uint32_t bars = report.tail.bars; bars > 0) {
        tail = "  tail          " + std::to_string(bars) + (bars == 1 ? " bar" : " bars") +
               " appended since the last flush, " +
               (report.tail.proven ? "proven by their checksum (counted above)"
                                   : "not counted: their records do not match its checksum") +
               "\n";
    }
    std::string verified;
    if (report.zeroRecord) {
        verified = "  verified      record " + std::to_string(*report.zeroRecord) +
                   " is all zero bytes: the sound bars likely end there, " +
                   std::to_string(*report.zeroRecord) + " before it\n";
    } else if (report.verified) {
        verified = "  verified      no counted record is all zero bytes\n";
    }
    return name + ": valid, " + (header->closedCleanly ? "closed cleanly" : "not closed cleanly") +
           "\n" + "  file number   " + std::to_string(header->fileNumber) + "\n" +
           "  capacity      " + std::to_string(header->capacity) + " bars\n" + "  bars written  " +
           std::to_string(header->barsWritten) + "\n" + tail + "  created       " +
           quelm::bartext::timeText(header->createdMs) + "\n" + "  size          " +
           quelm::sizeText(quelm::fileSizeFor(header->capacity)) + "\n" + verified;
}

// Writes `text` to standard output at once, so that what is reported reaches the reader
// whatever happens later; returns the system's error, 0 when all was written. The reports are
// text: on Windows their lines end as text lines do there.
int writeOut(std::string_view text)
{
#ifdef _WIN32
    std::string lines;
    for (const char c : text) {
        lines += c == '\n' ? "\r\n" : std::string(1, c);
    }
    text = lines;
#endif
    quelm::FileSystemCalls &calls = quelm::systemFileCalls();
    return calls.writeAll(calls.standardHandle(quelm::FileSystemCalls::StandardStream::Output),
                          text.data(), text.size());
}

// A reader that stops early (`| head`) closes the pipe: that ends the program quietly.
int outputFailed(int error)
{
    if (error != EPIPE) {
        std::fprintf(stderr, "quelm-inspect: cannot write the output: %s\n",
                     quelm::reasonText(error).c_str());
    }
    return outputFailedStatus;
}

} // namespace

int quelm::tools::run(std::vector<Argument> arguments)
{
    bool json = false;
    bool verify = false;
    std::vector<std::filesystem::path> files;
    for (const Argument &argument : arguments) {
        const std::string text = nameText(argument.path);
        if (text == "--help" || text == "-h") {
            const int error = writeOut(usage);
            return error != 0 ? outputFailed(error) : 0;
        }
        if (text == "--json") {
            json = true;
        } else if (text == "--verify") {
            verify = true;
        } else if (text.starts_with("-") && text != "-") {
            std::fprintf(stderr, "quelm-inspect: unknown option %s\n\n%s", lineText(text).c_str(),
                         usage);
            return 2;
        } else {
            files.push_back(argument.path);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "quelm-inspect: no file given\n\n%s", usage);
        return 2;
    }

    bool anyDamaged = false;
    for (const std::filesystem::path &file : files) {
        const Report report = reportOn(file, verify);
        anyDamaged = anyDamaged || report.damaged();
        if (const int error = writeOut(json ? jsonReport(report) : textReport(report))) {
            return outputFailed(error);
        }
    }
    return anyDamaged ? 1 : 0;
}
