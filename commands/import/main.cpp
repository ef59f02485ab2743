// quelm-import: appends bars from CSV to a data file. Every line is checked before anything is
// written; then the bars go in in batches, each stored before it is counted, and are flushed.

#include "arguments.h"
#include "bartext.h"
#include "commanderror.h"
#include "csvbars.h"
#include "entry.h"
#include "options.h"
#include "progress.h"

#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/errortext.h>
#include <quelm/filesystemcalls.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
    "Usage: quelm-import FILE [INPUT] [options]\n"
    "       quelm-import --create FILE [INPUT] [--capacity N] [options]\n"
    "\n"
    "Appends bars to the Quelm data file FILE (.qdf) from CSV: the file INPUT, or standard\n"
    "input when INPUT is - or not given; with --create, makes FILE first. The encoding (UTF-8\n"
    "or UTF-16 with its byte order mark), the delimiter (, ; tab |), a banner line, the header,\n"
    "the columns (found by name: time, date, open, high, low, close, volume and their usual\n"
    "aliases, in English, German, French, Spanish and Italian; price or last is the close when\n"
    "no column is; other columns are ignored, the volume is optional), the decimal mark, the\n"
    "marks grouping thousands (1,234.5 or 1.234,5) and the shape of the times are detected; the\n"
    "options below set them. A volume may end in K, M or B. A time is ISO-8601, a date\n"
    "(2026-12-07, 20261207, 2026.12.07, 07.12.2026, a slashed date whose column settles its\n"
    "order) with an optional time of day (9:30, 09:30:00.5, 9:30 PM), a date and a time column\n"
    "(the time also as 93000), or an epoch number whose unit its digits tell (10 s, 13 ms, 16\n"
    "us, 19 ns). Input running newest-first is stored oldest-first. A line whose every price is\n"
    "empty, null or NaN (a holiday) is skipped and counted.\n"
    "\n"
    "Every line is checked before anything is written: each number finite, high not below low,\n"
    "open and close between them, volume not negative, each time after the one before (and\n"
    "after the file's last bar), and no more bars than the file has room for. A bad line is\n"
    "named with its column, and nothing is written.\n"
    "\n"
    "While it writes, the import holds the file's writers' lock; it waits while another import\n"
    "or the window closing the file holds it.\n"
    "\n"
    "  --create            makes FILE, which must not exist, with room for the bars read\n"
    "  --capacity N        with --create: room for N bars instead\n"
    "  --columns LIST      the fields by position: time,date,open,high,low,close,volume or -\n"
    "  --map FIELD=NAME    the header's column NAME holds FIELD\n"
    "  --delimiter C       , ; | or tab\n"
    "  --decimal C         the decimal mark, . or ,\n"
    "  --time-format FMT   the times' shape, strftime-style (%Y-%m-%d %H:%M:%S)\n"
    "  --epoch-unit U      epoch numbers in s, ms, us or ns\n"
    "  --tz ZONE           the zone of times that name none: an IANA name or +hh:mm (UTC)\n"
    "  --skip N            skips the first N lines\n"
    "  --dry-run           checks everything, prints what it found, and writes nothing\n"
    "  --help              shows this text\n"
    "\n"
    "Exit status: 0 when the bars were added, 1 when the input or the file is bad, cannot be\n"
    "read or written, or (with --create) exists already, 2 when the command line is wrong.\n";

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
    quelm::FileSystemCalls::Handle handle = quelm::FileSystemCalls::invalidHandle;
    quelm::FileHandle owned; // a named input; standard input stays open
    std::string name;
    std::uint64_t size = 0; // 0 when not known
};

// Opens the input; throws quelm::tools::InputError when it cannot.
void openInput(const quelm::tools::Argument &argument, Input &input)
{
    quelm::FileSystemCalls &calls = quelm::systemFileCalls();
    if (argument.text == "-") {
        input.handle = calls.standardHandle(quelm::FileSystemCalls::StandardStream::Input);
        input.name = "standard input";
        return;
    }
    input.name = argument.text;
    if (const int error = calls.openExisting(argument.path, false, input.handle)) {
        throw quelm::tools::InputError("cannot read " + argument.text + ": " +
                                       quelm::reasonText(error));
    }
    input.owned = quelm::FileHandle(calls, input.handle);
    // A pipe or a device has no size to tell: it stays unknown.
    (void)calls.fileSize(input.handle, input.size);
}

std::optional<std::int64_t> lastTime(const quelm::DataFile &file)
{
    const std::uint64_t stored = file.header().barsWritten;
    if (stored == 0) {
        return std::nullopt;
    }
    return file.readBar(stored - 1).timeMs;
}

void printSettings(const quelm::CsvBarReader &reader)
{
    std::string text;
    for (const std::string &setting : reader.settings()) {
        text += (text.empty() ? "" : "; ") + setting;
    }
    if (!text.empty()) {
        std::cerr << "quelm-import: settings: " << text << "\n";
    }
}

int reportProblems(const quelm::CsvBarReader &reader, const Input &input, const std::string &file)
{
    for (const auto &problem : reader.problems()) {
        std::cerr << "quelm-import: " << input.name << ", " << reader.describe(problem) << "\n";
    }
    const std::uint64_t bad = reader.badLines();
    if (bad > reader.problems().size()) {
        std::cerr << "quelm-import: and " << bad - reader.problems().size() << " more bad lines\n";
    }
    printSettings(reader);
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

// Prints what a dry run found: the settings, the bars and the first and last of them.
void printDryRun(const quelm::CsvBarReader &reader)
{
#ifdef _WIN32
    // Lines end in '\n' alone, as quelm-export writes its CSV lines.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    for (const std::string &setting : reader.settings()) {
        std::cout << setting << "\n";
    }
    const std::span<const quelm::Bar> bars = reader.bars();
    std::cout << "bars: " << bars.size() << "\n";
    char line[quelm::bartext::maxLineLength];
    if (!bars.empty()) {
        std::cout << "first (line " << reader.lineOf(0) << "): "
                  << std::string_view(line, quelm::bartext::writeCsvLine(line, bars.front()))
                  << "last (line " << reader.lineOf(bars.size() - 1) << "): "
                  << std::string_view(line, quelm::bartext::writeCsvLine(line, bars.back()));
    }
}

// Reads and checks the whole input. Returns the exit status when it cannot go on, otherwise
// nothing.
std::optional<int> readInput(const quelm::import::Options &options, Input &input,
                             quelm::CsvBarReader &reader, quelm::Progress &progress)
{
    const std::string &file = options.file.text;
    try {
        openInput(options.input, input);
        reader.expectBytes(input.size);
        std::vector<char> chunk(readSize);
        std::uint64_t read = 0;
        std::size_t got = 0;
        int readError = 0;
        while ((readError = quelm::systemFileCalls().readSome(input.handle, chunk.data(),
                                                              chunk.size(), got)) == 0 &&
               got > 0) {
            reader.feed(std::string_view(chunk.data(), got));
            read += got;
            progress.show("checking", read, input.size, "bytes");
        }
        if (readError != 0) {
            throw quelm::tools::InputError("cannot read " + input.name + ": " +
                                           quelm::reasonText(readError));
        }
        reader.finish();
    } catch (const quelm::tools::UsageError &error) {
        progress.clear();
        std::cerr << "quelm-import: " << error.what() << "\n";
        return 2;
    } catch (const quelm::tools::InputError &error) {
        progress.clear();
        return fail((input.name.empty() ? "" : input.name + ", ") + error.what() +
                    "\nquelm-import: nothing was written to " + file);
    }
    progress.clear();
    if (reader.badLines() > 0) {
        return reportProblems(reader, input, file);
    }
    for (const std::string &note : reader.notes()) {
        std::cerr << "quelm-import: " << note << "\n";
    }
    return std::nullopt;
}

// Appends the bars in batches, showing the progress, and flushes them.
void appendAll(quelm::DataFile &target, std::span<const quelm::Bar> all, quelm::Progress &progress,
               std::uint64_t &added)
{
    while (added < all.size()) {
        const std::size_t count = std::min(batchBars, all.size() - added);
        target.appendBars(all.subspan(added, count));
        added += count;
        progress.show("writing", added, all.size(), "bars");
    }
    target.flush();
}

// The failure of a write, with the bars that the file itself says were added before it.
int writeFailed(const quelm::DataFileError &error, const std::filesystem::path &path,
                std::uint64_t added, std::uint64_t countedBefore)
{
    // The bars appended before the failure are counted as the file goes, unless flushing
    // them failed: the file itself says how many stayed.
    try {
        added = added > 0 ? quelm::DataFile::open(path).header().barsWritten - countedBefore : 0;
    } catch (const quelm::DataFileError &) {
        added = 0;
    }
    if (added > 0) {
        return fail(std::string(error.what()) + " The first " + std::to_string(added) +
                    " bars were added.");
    }
    return fail(error.what());
}

// Makes FILE, which must not exist, and fills it with the input's bars.
int createAndFill(const quelm::import::Options &options)
{
    const std::string &file = options.file.text;
    const std::filesystem::path &path = options.file.path;
    // Told before the input is read; the file is made only once it is, and never replaces one.
    quelm::FileSystemCalls::PathKind kind = quelm::FileSystemCalls::PathKind::None;
    if (quelm::systemFileCalls().pathKind(path, false, kind) == 0 &&
        kind != quelm::FileSystemCalls::PathKind::None) {
        return fail("cannot create " + file +
                    ": something of that name exists already, and --create never replaces it; "
                    "nothing was read or written");
    }
    Input input;
    quelm::Progress progress;
    quelm::CsvBarReader reader(options.csv, std::nullopt,
                               options.capacity.value_or(quelm::format::maxCapacity));
    if (const auto status = readInput(options, input, reader, progress)) {
        return *status;
    }
    const std::span<const quelm::Bar> bars = reader.bars();
    if (options.dryRun) {
        printDryRun(reader);
        return 0;
    }
    if (bars.empty() && !options.capacity) {
        return fail("the input holds no bars, so " + file +
                    " was not made; --capacity N makes it empty, with room for N bars");
    }
    const std::uint64_t capacity = options.capacity.value_or(bars.size());
    std::uint64_t added = 0;
    try {
        quelm::DataFile target = quelm::DataFile::create(path, capacity);
        // All the bars or none: counted at the flush only.
        target.setCounting(quelm::DataFile::Counting::AtFlush);
        appendAll(target, bars, progress, added);
    } catch (const quelm::DataFileError &error) {
        progress.clear();
        return added == 0 ? fail(error.what()) : writeFailed(error, path, added, 0);
    }
    progress.clear();
    std::cerr << "quelm-import: made " << file << " with room for " << capacity
              << (capacity == 1 ? " bar" : " bars") << ", and added " << bars.size()
              << (bars.size() == 1 ? " bar\n" : " bars\n");
    return 0;
}

int importBars(const quelm::import::Options &options)
{
    const std::string &file = options.file.text;
    const std::filesystem::path &path = options.file.path;
    Input input;
    std::optional<quelm::CsvBarReader> reader;
    quelm::Progress progress;
    try {
        // Checked against the file as it stands now; again below, once the file is locked.
        const quelm::DataFile before = quelm::DataFile::open(path);
        reader.emplace(options.csv, lastTime(before),
                       before.header().capacity - before.header().barsWritten);
    } catch (const quelm::DataFileError &error) {
        return fail(error.what());
    }
    if (const auto status = readInput(options, input, *reader, progress)) {
        return *status;
    }
    if (options.dryRun) {
        printDryRun(*reader);
        return 0;
    }
    const std::span<const quelm::Bar> bars = reader->bars();
    if (bars.empty()) {
        return 0;
    }

    std::uint64_t added = 0;
    std::uint64_t countedBefore = 0;
    try {
        quelm::DataFile target = openLocked(path, file);
        // All of the bars or none: counted on disk only by the flush at the end.
        target.setCounting(quelm::DataFile::Counting::AtFlush);
        countedBefore = target.header().barsWritten;
        // Another writer may have added bars since the check: the first bar must still
        // follow the file's last one, and all must still fit.
        const std::uint64_t room = target.header().capacity - target.header().barsWritten;
        if (const auto last = lastTime(target); last && bars.front().timeMs <= *last) {
            quelm::CsvBarReader::Problem problem{reader->lineOf(0), 1,
                                                 "its time is not after the file's last bar, "
                                                 "which another program added meanwhile"};
            std::cerr << "quelm-import: " << input.name << ", " << reader->describe(problem)
                      << "\n";
            return fail("nothing was written to " + file);
        }
        if (bars.size() > room) {
            quelm::CsvBarReader::Problem problem{reader->lineOf(static_cast<std::size_t>(room)), 0,
                                                 "the file has room for " + std::to_string(room) +
                                                     (room == 1 ? " more bar" : " more bars") +
                                                     ", and this is one more"};
            std::cerr << "quelm-import: " << input.name << ", " << reader->describe(problem)
                      << "\n";
            return fail("nothing was written to " + file);
        }
        appendAll(target, bars, progress, added);
    } catch (const quelm::DataFileError &error) {
        progress.clear();
        return writeFailed(error, path, added, countedBefore);
    }
    return 0;
}

} // namespace

int quelm::tools::run(std::vector<Argument> arguments)
{
    quelm::import::Options options;
    try {
        options = quelm::import::readOptions(std::move(arguments));
    } catch (const quelm::tools::UsageError &error) {
        std::cerr << "quelm-import: " << error.what() << "\n\n" << usage;
        return 2;
    }
    if (options.help) {
        std::cout << usage;
        return 0;
    }
    return options.create ? createAndFill(options) : importBars(options);
}
