// quelm-export: prints the bars of a data file as CSV or JSON Lines, all of them or a range.

#include "bartext.h"
#include "entry.h"

#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/errortext.h>
#include <quelm/filesystemcalls.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <csignal>
#endif

namespace {

const char *const usage =
    "Usage: quelm-export [--format csv|jsonl] [--first N] [--count M] FILE\n"
    "\n"
    "Prints the bars of the Quelm data file FILE (.qdf) on standard output: as CSV with the\n"
    "header time,open,high,low,close,volume, or as JSON Lines, one object a bar. Times are\n"
    "ISO-8601 UTC with milliseconds; numbers are the shortest text that reads back to the\n"
    "same double.\n"
    "\n"
    "  --format csv|jsonl  the output format (csv when not given)\n"
    "  --first N           starts at bar N, counting from 0 (0 when not given)\n"
    "  --count M           prints at most M bars (all from the first when not given)\n"
    "  --help              shows this text\n"
    "\n"
    "Exit status: 0 when the bars were printed (or the reader of a pipe stopped reading),\n"
    "1 when the file is damaged or cannot be read or the output cannot be written, 2 when the\n"
    "command line is wrong.\n";

constexpr std::size_t chunkBars = 1 << 14;
constexpr std::size_t bufferSize = 1 << 20;

int usageError(const std::string &message)
{
    std::cerr << "quelm-export: " << message << "\n\n" << usage;
    return 2;
}

// Standard output, written in large blocks as raw bytes. A reader that stops reading (head)
// ends the program quietly; any other failure ends it with status 1.
class Output
{
public:
    Output()
    {
#ifndef _WIN32
        std::signal(SIGPIPE, SIG_IGN);
#endif
        m_buffer.resize(bufferSize);
    }

    // Room for one more line of at most maxLineLength characters.
    char *room()
    {
        if (m_buffer.size() - m_used < quelm::bartext::maxLineLength) {
            flush();
        }
        return m_buffer.data() + m_used;
    }
    void wrote(char *end)
    {
        m_used = static_cast<std::size_t>(end - m_buffer.data());
    }

    void flush()
    {
        if (m_used == 0) {
            return;
        }
        quelm::FileSystemCalls &calls = quelm::systemFileCalls();
        if (const int error =
                calls.writeAll(calls.standardHandle(quelm::FileSystemCalls::StandardStream::Output),
                               m_buffer.data(), m_used)) {
            if (error == EPIPE) {
                std::exit(0);
            }
            std::cerr << "quelm-export: cannot write to standard output: "
                      << quelm::reasonText(error) << "\n";
            std::exit(1);
        }
        m_used = 0;
    }

private:
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
};

} // namespace

int quelm::tools::run(std::vector<Argument> arguments)
{
    bool json = false;
    std::uint64_t first = 0;
    std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    std::vector<std::filesystem::path> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i].text;
        if (argument == "--help" || argument == "-h") {
            std::cout << usage;
            return 0;
        }
        if (!argument.starts_with("--")) {
            files.push_back(arguments[i].path);
            continue;
        }
        // "--name value" or "--name=value".
        std::string_view value;
        bool hasValue = false;
        if (const std::size_t equals = argument.find('='); equals != std::string_view::npos) {
            value = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
            hasValue = true;
        }
        if (argument != "--format" && argument != "--first" && argument != "--count") {
            return usageError("unknown option " + std::string(argument));
        }
        if (!hasValue) {
            if (i + 1 == arguments.size()) {
                return usageError(std::string(argument) + " needs a value");
            }
            value = arguments[++i].text;
        }
        if (argument == "--format") {
            if (value != "csv" && value != "jsonl") {
                return usageError("the format is csv or jsonl, not " + std::string(value));
            }
            json = value == "jsonl";
        } else if (const auto number = wholeNumber(value)) {
            (argument == "--first" ? first : most) = *number;
        } else {
            return usageError(std::string(argument) + " takes a whole number 0 or more, not " +
                              std::string(value));
        }
    }
    if (files.size() != 1) {
        return usageError(files.empty() ? "no file given" : "one file at a time");
    }

    try {
        const quelm::DataFile file = quelm::DataFile::open(files[0]);
        const std::uint64_t stored = file.header().barsWritten;
        const std::uint64_t start = std::min(first, stored);
        const std::uint64_t end = start + std::min(most, stored - start);
        Output out;
        if (!json) {
            char *line = out.room();
            line =
                std::copy(quelm::bartext::csvHeader.begin(), quelm::bartext::csvHeader.end(), line);
            *line++ = '\n';
            out.wrote(line);
        }
        std::vector<quelm::Bar> bars(chunkBars);
        for (std::uint64_t at = start; at < end;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunkBars, end - at));
            file.readBars(at, std::span<quelm::Bar>(bars.data(), n));
            for (std::size_t i = 0; i < n; ++i) {
                out.wrote(json ? quelm::bartext::writeJsonLine(out.room(), bars[i])
                               : quelm::bartext::writeCsvLine(out.room(), bars[i]));
            }
            at += n;
        }
        out.flush();
    } catch (const quelm::DataFileError &error) {
        std::cerr << "quelm-export: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
