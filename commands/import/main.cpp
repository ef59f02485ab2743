// quelm-import: appends bars from CSV to a data file. Every line is checked before anything is
// written; then the bars go in in batches, each stored before it is counted, and are flushed.

#include "arguments.h"
#include "csvbars.h"
#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include "errortext.h"
#include "progress.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char *const usage =
    "Usage: quelm-import FILE [INPUT]\n"
    "\n"
    "Appends bars to the Quelm data file FILE (.qdf) from CSV: the file INPUT, or standard\n"
    "input when INPUT is - or not given. Each line holds time,open,high,low,close,volume; a\n"
    "first line naming those columns is skipped. A time is ISO-8601 (2026-12-07T06:01:02.345Z;\n"
    "UTC when it names no zone) or milliseconds since 1970-01-01 UTC.\n"
    "\n"
    "Every line is checked before anything is written: each number finite, high not below low,\n"
    "open and close between them, volume not negative, each time after the one before (and\n"
    "after the file's last bar), and no more bars than the file has room for. A bad line is\n"
    "named with its column, and nothing is written.\n"
    "\n"
    "While it writes, the import holds the file's writers' lock; it waits while another import\n"
    "or the window closing the file holds it.\n"
    "\n"
    "  --help   shows this text\n"
    "\n"
    "Exit status: 0 when the bars were added, 1 when the input or the file is bad or cannot be\n"
    "read or written, 2 when the command line is wrong.\n";

constexpr std::size_t readSize = 1 << 20;
constexpr std::size_t batchBars = 1 << 16;
constexpr auto lockRetry = std::chrono::milliseconds(50);

int fail(const std::string &message)
{
    std::cerr << "quelm-import: " << message << "\n";
    return 1;
}

struct Input
{
    std::FILE *file = nullptr;
    bool owned = false;
    std::string name;
    std::uint64_t size = 0; // 0 when not known

    ~Input()
    {
        if (owned) {
            std::fclose(file);
        }
    }
};

// Opens the input, or says why it cannot.
std::string openInput(const quelm::tools::Argument &argument, Input &input)
{
    if (argument.text == "-") {
        input.file = stdin;
        input.name = "standard input";
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        return "";
    }
    const std::filesystem::path &path = argument.path;
    input.name = argument.text;
#ifdef _WIN32
    input.file = _wfopen(path.c_str(), L"rb");
#else
    input.file = std::fopen(path.c_str(), "rb");
#endif
    if (!input.file) {
        return "cannot read " + argument.text + ": " + quelm::reasonText(errno);
    }
    input.owned = true;
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
        input.size = std::filesystem::file_size(path, error);
    }
    return "";
}

std::optional<std::int64_t> lastTime(const quelm::DataFile &file)
{
    const std::uint64_t stored = file.header().barsWritten;
    if (stored == 0) {
        return std::nullopt;
    }
    return file.readBar(stored - 1).timeMs;
}

int reportProblems(const quelm::CsvBarReader &reader, const Input &input, const std::string &file)
{
    for (const auto &problem : reader.problems()) {
        std::cerr << "quelm-import: " << input.name << ", "
                  << quelm::CsvBarReader::describe(problem) << "\n";
    }
    const std::uint64_t bad = reader.badLines();
    if (bad > reader.problems().size()) {
        std::cerr << "quelm-import: and " << bad - reader.problems().size() << " more bad lines\n";
    }
    return fail("nothing was written to " + file + " (" + std::to_string(bad) +
                (bad == 1 ? " bad line)" : " bad lines)"));
}

// Opens the file holding its writers' lock, waiting while another writer holds it.
quelm::DataFile openLocked(const std::filesystem::path &path, const std::string &file)
{
    bool told = false;
    for (;;) {
        try {
            return quelm::DataFile::open(path, quelm::DataFile::Mode::Exclusive);
        } catch (const quelm::DataFileError &error) {
            if (error.errorNumber() != EWOULDBLOCK) {
                throw;
            }
        }
        if (!told) {
            // Flushed: the C library may buffer the error stream when it goes to a file.
            std::cerr << "quelm-import: waiting for another program to finish writing to " << file
                      << "\n"
                      << std::flush;
            told = true;
        }
        std::this_thread::sleep_for(lockRetry);
    }
}

int run(const quelm::tools::Argument &dataFile, const quelm::tools::Argument &inputArgument)
{
    const std::string &file = dataFile.text;
    const std::filesystem::path &path = dataFile.path;
    Input input;
    std::optional<quelm::CsvBarReader> reader;
    try {
        // Checked against the file as it stands now; again below, once the file is locked.
        const quelm::DataFile before = quelm::DataFile::open(path);
        reader.emplace(lastTime(before), before.header().capacity - before.header().barsWritten);
    } catch (const quelm::DataFileError &error) {
        return fail(error.what());
    }
    if (const std::string why = openInput(inputArgument, input); !why.empty()) {
        return fail(why);
    }

    quelm::Progress progress;
    std::vector<char> chunk(readSize);
    std::uint64_t read = 0;
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), input.file);
        reader->feed(std::string_view(chunk.data(), got));
        read += got;
        progress.show("checking", read, input.size, "bytes");
        if (got < chunk.size()) {
            break;
        }
    }
    if (std::ferror(input.file)) {
        progress.clear();
        return fail("cannot read " + input.name + ": " + quelm::reasonText(errno));
    }
    reader->finish();
    progress.clear();
    if (reader->badLines() > 0) {
        return reportProblems(*reader, input, file);
    }
    const std::vector<quelm::Bar> &bars = reader->bars();
    if (bars.empty()) {
        return 0;
    }

    std::uint64_t added = 0;
    std::uint64_t countedBefore = 0;
    try {
        quelm::DataFile target = openLocked(path, file);
        countedBefore = target.header().barsWritten;
        // Another writer may have added bars since the check: the first bar must still
        // follow the file's last one, and all must still fit.
        const std::uint64_t room = target.header().capacity - target.header().barsWritten;
        if (const auto last = lastTime(target); last && bars.front().timeMs <= *last) {
            quelm::CsvBarReader::Problem problem{reader->lineOf(0), 1,
                                                 "its time is not after the file's last bar, "
                                                 "which another program added meanwhile"};
            std::cerr << "quelm-import: " << input.name << ", "
                      << quelm::CsvBarReader::describe(problem) << "\n";
            return fail("nothing was written to " + file);
        }
        if (bars.size() > room) {
            quelm::CsvBarReader::Problem problem{reader->lineOf(static_cast<std::size_t>(room)), 0,
                                                 "the file has room for " + std::to_string(room) +
                                                     (room == 1 ? " more bar" : " more bars") +
                                                     ", and this is one more"};
            std::cerr << "quelm-import: " << input.name << ", "
                      << quelm::CsvBarReader::describe(problem) << "\n";
            return fail("nothing was written to " + file);
        }
        const std::span<const quelm::Bar> all(bars);
        while (added < all.size()) {
            const std::size_t count = std::min(batchBars, all.size() - added);
            target.appendBars(all.subspan(added, count));
            added += count;
            progress.show("writing", added, all.size(), "bars");
        }
        target.flush();
    } catch (const quelm::DataFileError &error) {
        progress.clear();
        // The bars appended before the failure are counted as the file goes, unless flushing
        // them failed: the file itself says how many stayed.
        try {
            added =
                added > 0 ? quelm::DataFile::open(path).header().barsWritten - countedBefore : 0;
        } catch (const quelm::DataFileError &) {
            added = 0;
        }
        if (added > 0) {
            return fail(std::string(error.what()) + " The first " + std::to_string(added) +
                        " bars were added.");
        }
        return fail(error.what());
    }
    return 0;
}

} // namespace

// On Windows the arguments are taken as UTF-16, so that any file name arrives as it is.
#ifdef _WIN32
int wmain(int argc, wchar_t **argv)
#else
int main(int argc, char **argv)
#endif
{
    std::vector<quelm::tools::Argument> operands;
    for (quelm::tools::Argument &operand : quelm::tools::argumentsOf(argc, argv)) {
        const std::string_view argument = operand.text;
        if (argument == "--help" || argument == "-h") {
            std::cout << usage;
            return 0;
        }
        if (argument.starts_with("-") && argument != "-") {
            std::cerr << "quelm-import: unknown option " << argument << "\n\n" << usage;
            return 2;
        }
        operands.push_back(std::move(operand));
    }
    if (operands.empty() || operands.size() > 2) {
        std::cerr << "quelm-import: " << (operands.empty() ? "no file given" : "too many operands")
                  << "\n\n"
                  << usage;
        return 2;
    }
    return run(operands[0], operands.size() == 2 ? operands[1] : quelm::tools::Argument{"-", "-"});
}
