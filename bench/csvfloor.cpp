// quelm-csv-floor INPUT OUTPUT: the least work an import of a daily-download CSV (Date with a
// time, Open, High, Low, Close, Adj Close, Volume) must do, for make bench-csv to set the
// import beside. One thread reads the bytes, splits the lines, parses the time and the numbers
// with fast_float into bar records, writes them after a header's room and flushes them. It
// checks only what it must to parse: digits where digits stand, and whole numbers.

#include "timetext.h"

#include <quelm/datafileformat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fast_float/fast_float.h>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using quelm::Bar;

constexpr std::size_t chunkSize = 4 << 20;
constexpr std::size_t barsPerWrite = 1 << 16;

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what);
}

void check(bool ok, const char *call)
{
    if (!ok) {
        fail(std::string(call) + ": " + std::strerror(errno));
    }
}

// `count` digits at `at`.
int digits(const char *at, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const unsigned digit = static_cast<unsigned char>(at[i]) - '0';
        if (digit > 9) {
            fail("not a digit in a time");
        }
        value = value * 10 + static_cast<int>(digit);
    }
    return value;
}

// "2024-01-01 09:30:00" as milliseconds since 1970, read as UTC.
std::int64_t timeMs(std::string_view text)
{
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':') {
        fail("not a time: " + std::string(text));
    }
    const std::int64_t days = quelm::timetext::daysFromCivil(
        digits(text.data(), 4), static_cast<unsigned>(digits(text.data() + 5, 2)),
        static_cast<unsigned>(digits(text.data() + 8, 2)));
    const int seconds = (digits(text.data() + 11, 2) * 60 + digits(text.data() + 14, 2)) * 60 +
                        digits(text.data() + 17, 2);
    return (days * 86'400 + seconds) * 1000;
}

// The next field of `line` from `at`, up to a comma or the end; `at` passes the comma.
std::string_view field(std::string_view line, std::size_t &at)
{
    const std::size_t end = std::min(line.find(',', at), line.size());
    const std::string_view text = line.substr(at, end - at);
    at = end + 1;
    return text;
}

double number(std::string_view text)
{
    double value = 0;
    const auto [end, error] = fast_float::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        fail("not a number: " + std::string(text));
    }
    return value;
}

Bar barOf(std::string_view line)
{
    std::size_t at = 0;
    Bar bar;
    bar.timeMs = timeMs(field(line, at));
    bar.open = number(field(line, at));
    bar.high = number(field(line, at));
    bar.low = number(field(line, at));
    bar.close = number(field(line, at));
    field(line, at); // Adj Close
    bar.volume = number(field(line, at));
    return bar;
}

class RecordWriter
{
public:
    explicit RecordWriter(int file) : m_file(file) { m_bars.reserve(barsPerWrite); }

    void add(const Bar &bar)
    {
        m_bars.push_back(bar);
        if (m_bars.size() == barsPerWrite) {
            flushBuffer();
        }
    }
    void finish()
    {
        flushBuffer();
        check(::fdatasync(m_file) == 0, "fdatasync");
    }

private:
    void flushBuffer()
    {
        static_assert(sizeof(Bar) == quelm::format::recordSize);
        const std::size_t size = m_bars.size() * sizeof(Bar);
        check(::pwrite(m_file, m_bars.data(), size, m_offset) == static_cast<ssize_t>(size),
              "pwrite");
        m_offset += static_cast<off_t>(size);
        m_bars.clear();
    }

    int m_file;
    off_t m_offset = quelm::format::headerSize;
    std::vector<Bar> m_bars;
};

std::size_t importFile(int input, int output)
{
    RecordWriter writer(output);
    std::vector<char> buffer(chunkSize);
    std::size_t kept = 0; // the start of a line that the last chunk cut
    std::size_t bars = 0;
    bool header = true;
    for (;;) {
        const ssize_t got = ::read(input, buffer.data() + kept, buffer.size() - kept);
        check(got >= 0, "read");
        const std::size_t filled = kept + static_cast<std::size_t>(got);
        const std::string_view text(buffer.data(), filled);
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos;
             start = end + 1) {
            if (!std::exchange(header, false)) {
                writer.add(barOf(text.substr(start, end - start)));
                ++bars;
            }
        }
        if (got == 0) {
            if (start < filled && !header) {
                writer.add(barOf(text.substr(start)));
                ++bars;
            }
            break;
        }
        kept = filled - start;
        if (kept == buffer.size()) {
            fail("a line longer than the buffer");
        }
        std::memmove(buffer.data(), buffer.data() + start, kept);
    }
    writer.finish();
    return bars;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("Usage: quelm-csv-floor INPUT OUTPUT\n", stderr);
        return 2;
    }
    try {
        const int input = ::open(argv[1], O_RDONLY | O_CLOEXEC);
        check(input >= 0, "open the input");
        const int output = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        check(output >= 0, "open the output");
        const std::size_t bars = importFile(input, output);
        check(::close(output) == 0, "close");
        std::printf("%zu bars\n", bars);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "quelm-csv-floor: %s\n", error.what());
        return 1;
    }
    return 0;
}
