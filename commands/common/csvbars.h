#pragma once

#include <quelm/datafileformat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelm {

// Reads bars from CSV text (time,open,high,low,close,volume), fed in pieces of any size, and
// checks every line: numbers finite, high not below low, open and close between them, volume
// not negative, each time after the one before, and no more bars than the file has room for.
// Takes a UTF-8 byte order mark, CRLF line ends, blank lines, a missing final line end and an
// optional header line.
class CsvBarReader
{
public:
    // What is wrong with one line; column counts fields from 1, and 0 means the whole line.
    struct Problem
    {
        std::uint64_t line = 0;
        int column = 0;
        std::string message;
    };
    // Problems beyond this many are counted but not kept.
    static constexpr std::size_t keptProblems = 20;

    // `after`: the time of the file's last bar, which the first bar must follow; `room`: the
    // bars the file still has room for.
    CsvBarReader(std::optional<std::int64_t> after, std::uint64_t room);

    void feed(std::string_view text);
    // Reads a last line that has no line end.
    void finish();

    // The bars of the input, in order; complete only when there are no problems.
    const std::vector<Bar> &bars() const { return m_bars; }
    const std::vector<Problem> &problems() const { return m_problems; }
    std::uint64_t badLines() const { return m_badLines; }
    // The input line that bar `index` came from.
    std::uint64_t lineOf(std::size_t index) const;

    // "line 12, column 3 (high): ..."
    static std::string describe(const Problem &problem);

private:
    void readLine(std::string_view line);
    void addProblem(int column, std::string message);

    std::optional<std::int64_t> m_after;
    std::uint64_t m_room;
    std::string m_partial;
    std::uint64_t m_line = 0;
    std::vector<Bar> m_bars;
    // The bars whose line is not the one after the previous bar's: (bar index, line).
    std::vector<std::pair<std::size_t, std::uint64_t>> m_jumps;
    std::uint64_t m_lastBarLine = 0;
    std::uint64_t m_goodBars = 0;
    std::vector<Problem> m_problems;
    std::uint64_t m_badLines = 0;
};

} // namespace quelm
