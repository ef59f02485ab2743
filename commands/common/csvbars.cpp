#include "csvbars.h"

#include "bartext.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quelm {

namespace {

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
constexpr int fieldCount = 6;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A first line that starts with a word rather than a time is taken for a header.
bool looksLikeHeader(std::string_view firstField)
{
    return !firstField.empty() && isLetter(firstField.front());
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (isLetter(x) ? (x | 0x20) : x) == (isLetter(y) ? (y | 0x20) : y);
           });
}

std::string numberText(double value)
{
    char text[bartext::maxNumberLength];
    return std::string(text, bartext::writeNumber(text, value));
}

std::string timeText(std::int64_t ms)
{
    char text[bartext::maxTimeLength];
    return std::string(text, bartext::writeTime(text, ms));
}

} // namespace

CsvBarReader::CsvBarReader(std::optional<std::int64_t> after, std::uint64_t room)
    : m_after(after), m_room(room)
{
}

void CsvBarReader::feed(std::string_view text)
{
    while (!text.empty()) {
        const void *found = std::memchr(text.data(), '\n', text.size());
        if (!found) {
            m_partial.append(text);
            return;
        }
        const auto length =
            static_cast<std::size_t>(static_cast<const char *>(found) - text.data());
        if (m_partial.empty()) {
            readLine(text.substr(0, length));
        } else {
            m_partial.append(text.substr(0, length));
            readLine(m_partial);
            m_partial.clear();
        }
        text.remove_prefix(length + 1);
    }
}

void CsvBarReader::finish()
{
    if (!m_partial.empty()) {
        readLine(m_partial);
        m_partial.clear();
    }
}

std::uint64_t CsvBarReader::lineOf(std::size_t index) const
{
    // The last jump at or before `index`; lines run on one by one from there.
    const auto after =
        std::upper_bound(m_jumps.begin(), m_jumps.end(), index,
                         [](std::size_t value, const std::pair<std::size_t, std::uint64_t> &jump) {
                             return value < jump.first;
                         });
    if (after == m_jumps.begin()) {
        return 0;
    }
    const auto &jump = *std::prev(after);
    return jump.second + (index - jump.first);
}

std::string CsvBarReader::describe(const Problem &problem)
{
    std::string text = "line " + std::to_string(problem.line);
    if (problem.column > 0) {
        text += ", column " + std::to_string(problem.column);
        if (problem.column <= fieldCount) {
            text += std::string(" (") + bartext::columnNames[problem.column - 1] + ")";
        }
    }
    return text + ": " + problem.message;
}

void CsvBarReader::addProblem(int column, std::string message)
{
    ++m_badLines;
    if (m_problems.size() < keptProblems) {
        m_problems.push_back({m_line, column, std::move(message)});
    }
}

void CsvBarReader::readLine(std::string_view line)
{
    ++m_line;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (m_line == 1 && line.starts_with(byteOrderMark)) {
        line.remove_prefix(byteOrderMark.size());
    }
    if (trimmed(line).empty()) {
        return;
    }
    // One field more than a line holds, to tell that it has too many.
    std::array<std::string_view, fieldCount + 1> fields;
    int count = 0;
    for (std::string_view rest = line; count <= fieldCount;) {
        const std::size_t comma = rest.find(',');
        fields[static_cast<std::size_t>(count++)] = trimmed(rest.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (m_line == 1 && looksLikeHeader(fields[0])) {
        bool matches = count == fieldCount;
        for (int i = 0; matches && i < fieldCount; ++i) {
            matches =
                equalsIgnoringCase(fields[static_cast<std::size_t>(i)], bartext::columnNames[i]);
        }
        if (!matches) {
            addProblem(0, "a header line must name the columns " + std::string(bartext::csvHeader));
        }
        return;
    }
    if (count > fieldCount) {
        addProblem(fieldCount + 1, "a line holds six fields, " + std::string(bartext::csvHeader) +
                                       "; this one has more");
        return;
    }
    if (count < fieldCount) {
        addProblem(count + 1,
                   "missing; a line holds six fields, " + std::string(bartext::csvHeader));
        return;
    }

    Bar bar;
    if (std::string why = bartext::readTime(fields[0], bar.timeMs); !why.empty()) {
        addProblem(1, why);
        return;
    }
    double *const values[] = {&bar.open, &bar.high, &bar.low, &bar.close, &bar.volume};
    for (std::size_t i = 0; i < std::size(values); ++i) {
        if (std::string why = bartext::readNumber(fields[i + 1], *values[i]); !why.empty()) {
            addProblem(static_cast<int>(i) + 2, why);
            return;
        }
    }
    if (m_after && bar.timeMs <= *m_after) {
        addProblem(1, timeText(bar.timeMs) + " is not after the time of the bar before it, " +
                          timeText(*m_after) +
                          (m_lastBarLine == 0 ? std::string(" (the file's last bar)")
                                              : " (line " + std::to_string(m_lastBarLine) + ")"));
        return;
    }
    // The time stands even when a later check fails: a bar the user fixes keeps its place.
    m_after = bar.timeMs;
    m_lastBarLine = m_line;
    if (bar.high < bar.low) {
        addProblem(3, numberText(bar.high) + " is below the low, " + numberText(bar.low));
        return;
    }
    if (bar.open < bar.low || bar.open > bar.high) {
        addProblem(2, numberText(bar.open) + " is outside the low and the high, " +
                          numberText(bar.low) + " to " + numberText(bar.high));
        return;
    }
    if (bar.close < bar.low || bar.close > bar.high) {
        addProblem(5, numberText(bar.close) + " is outside the low and the high, " +
                          numberText(bar.low) + " to " + numberText(bar.high));
        return;
    }
    if (bar.volume < 0) {
        addProblem(6, numberText(bar.volume) + " is negative");
        return;
    }
    // Bars past the room are one problem, told at the first of them.
    if (m_goodBars++ == m_room) {
        addProblem(0, "the file has room for " + std::to_string(m_room) +
                          (m_room == 1 ? " more bar" : " more bars") + ", and this is one more");
    }
    if (m_badLines == 0) {
        const std::size_t index = m_bars.size();
        if (m_jumps.empty() || lineOf(index) != m_line) {
            m_jumps.emplace_back(index, m_line);
        }
        m_bars.push_back(bar);
    }
}

} // namespace quelm
