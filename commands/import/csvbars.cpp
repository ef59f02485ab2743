#include "csvbars.h"

#include "bartext.h"
#include "commanderror.h"
#include "csvfields.h"
#include "numbertext.h"
#include "textescape.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fast_float/fast_float.h>
#include <new>

namespace quelm {

using bartext::numberText;
using bartext::timeText;
using csv::Field;
using timetext::Shape;

namespace {

// The records the layout is read from, at most.
constexpr std::size_t sampleRecords = 50;
constexpr std::size_t sampleBytes = 1 << 18;
constexpr std::int64_t msPerDay = 86'400'000;
// 1971-01-01T00:00:00Z: epoch numbers read by their digits stand for times after it.
constexpr std::int64_t earliestEpoch = 365 * msPerDay;
// Room made at once for at most this many bars; a larger input grows its room as it goes.
constexpr std::uint64_t reservedBarsAtMost = std::uint64_t{1} << 25;

bool isBlank(std::string_view text)
{
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

std::string quoted(std::string_view text)
{
    return inspect::quotedText(text);
}

std::string dateText(std::int64_t ms)
{
    return timeText(ms).substr(0, 10);
}

const char *unitName(timetext::EpochUnit unit)
{
    static constexpr const char *names[] = {"seconds", "milliseconds", "microseconds",
                                            "nanoseconds"};
    return names[static_cast<int>(unit)];
}

std::string lineText(std::uint64_t line)
{
    return "line " + std::to_string(line);
}

} // namespace

CsvBarReader::CsvBarReader(csv::Settings settings, std::optional<std::int64_t> after,
                           std::uint64_t room)
    : m_settings(std::move(settings)), m_fileLast(after), m_room(room),
      m_latest(std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count() +
               366 * msPerDay)
{
}

void CsvBarReader::feed(std::string_view bytes)
{
    takeText(m_input.decode(bytes));
}

void CsvBarReader::takeText(std::string_view text)
{
    if (text.empty()) {
        return;
    }
    // The lines of text that holds no quote at all need no look for quotes of their own.
    const bool quoteFree = !std::memchr(text.data(), '"', text.size());
    if (!m_partial.empty()) {
        // The line that the text before left unfinished.
        const std::size_t length = std::min(text.find('\n'), text.size());
        m_partial.append(text.substr(0, length));
        if (length == text.size()) {
            return;
        }
        m_quoteFree = false;
        takeLine(m_partial);
        m_partial.clear();
        text.remove_prefix(length + 1);
    }
    m_quoteFree = quoteFree;
    const std::size_t end = text.rfind('\n') + 1;
    takeLines(text.substr(0, end));
    m_partial.append(text.substr(end));
}

void CsvBarReader::takeLines(std::string_view lines)
{
    while (!lines.empty()) {
        const auto length = static_cast<std::size_t>(
            static_cast<const char *>(std::memchr(lines.data(), '\n', lines.size())) -
            lines.data());
        takeLine(lines.substr(0, length));
        lines.remove_prefix(length + 1);
    }
}

void CsvBarReader::finish()
{
    takeText(m_input.finish());
    m_quoteFree = false;
    if (!m_partial.empty()) {
        takeLine(m_partial);
        m_partial.clear();
    }
    if (m_inQuotes) {
        m_inQuotes = false;
        takeRecord(m_quoted, m_quotedLine);
    }
    if (!m_layout) {
        decide();
    }
    if (m_ambiguous) {
        m_problems.insert(m_problems.begin(), *m_ambiguous);
        m_problems.resize(std::min(m_problems.size(), keptProblems));
        ++m_badLines;
    }
    if (m_direction < 0 && m_badLines == 0) {
        std::reverse(m_bars.begin(), m_bars.end());
        m_reversed = true;
    }
}

std::uint64_t CsvBarReader::lineOf(std::size_t index) const
{
    if (m_reversed) {
        index = m_bars.size() - 1 - index;
    }
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

std::string CsvBarReader::describe(const Problem &problem) const
{
    std::string text = lineText(problem.line);
    if (problem.column > 0) {
        text += ", column " + std::to_string(problem.column);
        if (const auto field = m_layout ? m_layout->fieldAt(problem.column - 1) : std::nullopt) {
            text += std::string(" (") + csv::fieldName(*field) + ")";
        }
    }
    return text + ": " + problem.message;
}

void CsvBarReader::addProblem(std::uint64_t line, int column, std::string message)
{
    ++m_badLines;
    if (m_problems.size() < keptProblems) {
        m_problems.push_back({line, column, std::move(message)});
    }
}

void CsvBarReader::takeLine(std::string_view line)
{
    ++m_physicalLine;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (m_physicalLine <= m_settings.skip) {
        return;
    }
    if (m_inQuotes) {
        m_quoted += '\n';
        m_quoted.append(line);
        if (!csv::endsInQuotes(m_quoted)) {
            m_inQuotes = false;
            takeRecord(m_quoted, m_quotedLine);
        }
    } else if (!m_quoteFree && csv::endsInQuotes(line)) {
        m_inQuotes = true;
        m_quoted.assign(line);
        m_quotedLine = m_physicalLine;
    } else {
        takeRecord(line, m_physicalLine, m_quoteFree);
    }
}

void CsvBarReader::takeRecord(std::string_view record, std::uint64_t line, bool plain)
{
    if (isBlank(record)) {
        return;
    }
    if (m_layout) {
        readRecord(record, line, plain);
        return;
    }
    m_sample.push_back({std::string(record), line});
    m_sampleBytes += record.size();
    m_shortestRecord = std::min(m_shortestRecord, record.size() + 1);
    if (m_sample.size() == sampleRecords || m_sampleBytes >= sampleBytes) {
        decide();
    }
}

void CsvBarReader::decide()
{
    m_layout = csv::decideLayout(m_sample, m_settings);
    m_quick.emplace(*m_layout);
    reserveBars();
    for (const csv::Record &record : m_sample) {
        if ((!m_layout->banner || m_layout->banner->line != record.line) &&
            (!m_layout->header || m_layout->header->line != record.line)) {
            readRecord(record.text, record.line);
        }
    }
    m_sample.clear();
    m_sample.shrink_to_fit();
}

void CsvBarReader::reserveBars()
{
    if (m_expectedBytes == 0 || m_shortestRecord == SIZE_MAX) {
        return;
    }
    // No more bars than lines as short as the shortest of the first records. Room that is
    // never filled costs address space alone.
    const std::uint64_t most =
        std::min({m_expectedBytes / m_shortestRecord + 1, m_room, reservedBarsAtMost});
    try {
        m_bars.reserve(static_cast<std::size_t>(most));
    } catch (const std::bad_alloc &) {
        // It grows as it goes instead.
    }
}

bool CsvBarReader::isHoliday() const
{
    // Most lines have an open that is a number.
    const std::string_view open = textOf(Field::Open);
    if (!open.empty() && (open[0] | 0x20) != 'n') {
        return false;
    }
    for (const Field price : {Field::Open, Field::High, Field::Low, Field::Close}) {
        if (!numbertext::isMissing(textOf(price))) {
            return false;
        }
    }
    if (m_layout->at(Field::Volume) < 0) {
        return true;
    }
    const std::string_view volume = textOf(Field::Volume);
    return numbertext::isMissing(volume) ||
           volume.find_first_not_of("0.,") == std::string_view::npos;
}

void CsvBarReader::readRecord(std::string_view record, std::uint64_t line, bool plain)
{
    m_line = line;
    int broken = -1;
    if (plain) {
        csv::splitPlain(record, m_layout->delimiter, m_fields);
    } else {
        broken = csv::split(record, m_layout->delimiter, m_fields, m_scratch);
    }
    Bar bar;
    bool zoned = false;
    if (broken < 0 && m_shape == Shape::Iso && m_quick->read(m_fields, bar, zoned)) {
        store(bar, zoned, line);
        return;
    }
    const std::size_t expected = m_layout->fields;
    if (broken >= 0) {
        const bool open = std::count(record.begin(), record.end(), '"') % 2 != 0;
        addProblem(line, broken + 1,
                   open ? "its quote never closes: the input ends inside it"
                        : "text follows the closing quote of " +
                              quoted(m_fields[static_cast<std::size_t>(broken)]) +
                              " before the next delimiter; a quoted field ends at its closing "
                              "quote");
        return;
    }
    if (m_fields.size() < expected) {
        addProblem(line, static_cast<int>(m_fields.size()) + 1,
                   "missing; a line holds " + std::to_string(expected) + " fields" +
                       (m_layout->header ? ", as the header names" : ""));
        return;
    }
    if (m_fields.size() > expected && !m_layout->atLeast) {
        addProblem(line, static_cast<int>(expected) + 1,
                   "a line holds " + std::to_string(expected) + " fields" +
                       (m_layout->header ? ", as the header names" : "") + "; this one has more");
        return;
    }
    bool pending = false;
    if (isHoliday()) {
        // Skipped, once its time reads: a line of no time at all is no holiday.
        if (readTime(bar.timeMs, zoned, pending) && m_holidays++ == 0) {
            m_firstHoliday = line;
        }
        return;
    }
    if (!readTime(bar.timeMs, zoned, pending)) {
        return;
    }
    if (!readNumber(Field::Open, bar.open) || !readNumber(Field::High, bar.high) ||
        !readNumber(Field::Low, bar.low) || !readNumber(Field::Close, bar.close) ||
        (m_layout->at(Field::Volume) >= 0 && !readNumber(Field::Volume, bar.volume))) {
        return;
    }
    // The time stands even when a later check fails: a bar the user fixes keeps its place.
    if (!pending && ((!zoned && !toUtc(bar.timeMs, line)) || !place(bar.timeMs, line))) {
        return;
    }
    if (bar.high < bar.low) {
        addProblem(line, column(Field::High),
                   numberText(bar.high) + " is below the low, " + numberText(bar.low));
        return;
    }
    for (const Field field : {Field::Open, Field::Close}) {
        const double value = field == Field::Open ? bar.open : bar.close;
        if (value < bar.low || value > bar.high) {
            addProblem(line, column(field),
                       numberText(value) + " is outside the low and the high, " +
                           numberText(bar.low) + " to " + numberText(bar.high));
            return;
        }
    }
    if (bar.volume < 0) {
        addProblem(line, column(Field::Volume), numberText(bar.volume) + " is negative");
        return;
    }
    keep(bar, line);
}

void CsvBarReader::store(const Bar &bar, bool zoned, std::uint64_t line)
{
    std::int64_t ms = bar.timeMs;
    if ((zoned || toUtc(ms, line)) && place(ms, line)) {
        Bar stored = bar;
        stored.timeMs = ms;
        keep(stored, line);
    }
}

void CsvBarReader::keep(const Bar &bar, std::uint64_t line)
{
    // Bars past the room are one problem, told at the first of them.
    if (m_goodBars++ == m_room) {
        addProblem(line, 0,
                   "the file has room for " + std::to_string(m_room) +
                       (m_room == 1 ? " more bar" : " more bars") + ", and this is one more");
    }
    if (m_badLines == 0) {
        if (line != m_nextLine) {
            m_jumps.emplace_back(m_bars.size(), line);
        }
        m_nextLine = line + 1;
        m_bars.push_back(bar);
    }
}

bool CsvBarReader::readDateAndClock(timetext::Reading &reading)
{
    try {
        reading = timetext::readTime(textOf(Field::Date));
    } catch (const tools::InputError &error) {
        addProblem(m_line, column(Field::Date), error.what());
        return false;
    }
    try {
        const std::int64_t clock = timetext::readClock(textOf(Field::Time));
        reading.ms += clock;
        if (reading.dayFirstMs) {
            *reading.dayFirstMs += clock;
        }
    } catch (const tools::InputError &error) {
        addProblem(m_line, column(Field::Time), error.what());
        return false;
    }
    return true;
}

bool CsvBarReader::readEpoch(std::string_view text, timetext::Reading &reading)
{
    const int timeColumn = column(Field::Time);
    const std::uint64_t line = m_line;
    reading.shape = Shape::Epoch;
    reading.zoned = true;
    if (m_settings.epochUnit) {
        reading.ms = timetext::epochMs(text, *m_settings.epochUnit);
        return true;
    }
    const auto unit = timetext::unitOfDigits(text);
    const std::string digits = std::to_string(timetext::integerDigits(text));
    if (!unit) {
        addProblem(line, timeColumn,
                   quoted(text) + " is an epoch number of " + digits +
                       " digits; its unit is read from 10 digits (s), 13 (ms), 16 "
                       "(us) or 19 (ns); --epoch-unit s|ms|us|ns gives it");
        return false;
    }
    if (m_unit && *unit != *m_unit) {
        addProblem(line, timeColumn,
                   quoted(text) + " has " + digits + " digits, epoch " + unitName(*unit) +
                       ", but " + lineText(m_unitLine) + " has epoch " + unitName(*m_unit) +
                       "; a column holds one unit; --epoch-unit s|ms|us|ns gives it");
        return false;
    }
    reading.ms = timetext::epochMs(text, *unit);
    if (reading.ms < earliestEpoch || reading.ms > m_latest) {
        addProblem(line, timeColumn,
                   quoted(text) + " read as epoch " + unitName(*unit) + " (" + digits +
                       " digits) is " + timeText(reading.ms) +
                       ", not between 1971 and a year from now; --epoch-unit "
                       "s|ms|us|ns gives the unit");
        return false;
    }
    if (!m_unit) {
        m_unit = unit;
        m_unitLine = line;
    }
    return true;
}

bool CsvBarReader::readTime(std::int64_t &ms, bool &zoned, bool &pending)
{
    const int timeColumn = column(Field::Time);
    const std::string_view text = textOf(Field::Time);
    const int dateColumn = column(Field::Date);
    const std::uint64_t line = m_line;
    timetext::Reading reading;
    try {
        if (m_settings.timeFormat) {
            const std::string whole =
                dateColumn > 0 ? std::string(textOf(Field::Date)) + " " + std::string(text)
                               : std::string(text);
            reading = timetext::readTime(whole, *m_settings.timeFormat);
        } else if (dateColumn > 0) {
            if (!readDateAndClock(reading)) {
                return false;
            }
        } else if (timetext::isEpochNumber(text) &&
                   (m_settings.epochUnit || (text.find('.') != std::string_view::npos ||
                                             (timetext::integerDigits(text) != 8 &&
                                              timetext::integerDigits(text) != 14)))) {
            if (!readEpoch(text, reading)) {
                return false;
            }
        } else {
            reading = timetext::readTime(text);
        }
    } catch (const tools::InputError &error) {
        addProblem(line, timeColumn, error.what());
        return false;
    }
    if (!m_shape) {
        m_shape = reading.shape;
        m_shapeLine = line;
    } else if (*m_shape != reading.shape) {
        addProblem(line, timeColumn,
                   quoted(text) + " is a time of the shape " + timetext::shapeName(reading.shape) +
                       ", but " + lineText(m_shapeLine) + " has one of the shape " +
                       timetext::shapeName(*m_shape) + "; a column holds one shape");
        return false;
    }
    if (reading.shape == Shape::Slashed) {
        if (reading.dayFirstMs) {
            if (m_order == Order::Unknown) {
                if (!m_ambiguous) {
                    m_ambiguous = Problem{
                        line, dateColumn > 0 ? dateColumn : timeColumn,
                        quoted(dateColumn > 0 ? textOf(Field::Date) : text) + " reads as " +
                            dateText(reading.ms) + " (mm/dd/yyyy) or as " +
                            dateText(*reading.dayFirstMs) +
                            " (dd/mm/yyyy), and no date of the column settles which; "
                            "--time-format \"%m/%d/%Y\" or \"%d/%m/%Y\" (with \" %H:%M\" for a "
                            "time of day) settles it"};
                }
                m_pending = true;
                pending = true;
            } else if (m_order == Order::DayFirst) {
                reading.ms = *reading.dayFirstMs;
            }
        } else {
            const Order order = reading.dayFirst ? Order::DayFirst : Order::MonthFirst;
            if (m_order == Order::Unknown) {
                settle(order, line);
            } else if (order != m_order) {
                addProblem(
                    line, dateColumn > 0 ? dateColumn : timeColumn,
                    quoted(text) + " reads only " +
                        (reading.dayFirst ? "day first (dd/mm/yyyy)" : "month first (mm/dd/yyyy)") +
                        ", but " + lineText(m_orderLine) +
                        " reads only the other way; --time-format settles it");
                return false;
            }
        }
    }
    ms = reading.ms;
    zoned = reading.zoned;
    return true;
}

void CsvBarReader::settle(Order order, std::uint64_t line)
{
    m_order = order;
    m_orderLine = line;
    m_ambiguous.reset();
    if (!m_pending) {
        return;
    }
    m_pending = false;
    // The bars so far hold month-first wall-clock times: turned, zoned and checked now.
    for (std::size_t i = 0; i < m_bars.size(); ++i) {
        std::int64_t &ms = m_bars[i].timeMs;
        if (order == Order::DayFirst) {
            const std::int64_t days = ms / msPerDay - (ms % msPerDay < 0);
            std::int64_t year = 0;
            unsigned month = 0, day = 0;
            timetext::civilFromDays(days, year, month, day);
            ms += (timetext::daysFromCivil(year, day, month) - days) * msPerDay;
        }
        if (toUtc(ms, lineOf(i))) {
            place(ms, lineOf(i));
        }
    }
}

bool CsvBarReader::toUtc(std::int64_t &ms, std::uint64_t line)
{
    m_wallClock = true;
    if (!m_settings.zone) {
        return true;
    }
    const Zone &zone = *m_settings.zone;
    if (ms < -Zone::reach || ms > Zone::reach) {
        addProblem(line, column(Field::Time), timeText(ms) + " is too far from 1970 for a zone");
        return false;
    }
    const Zone::Instants instants = zone.toUtc(ms);
    if (instants.count == 0) {
        addProblem(line, column(Field::Time),
                   timeText(ms).substr(0, 23) + " does not exist in " + zone.name() +
                       ": its clocks skip it");
        return false;
    }
    // Where the clocks go back, the reading that follows the bar before it in the input's
    // direction: the earlier one when it does, in either direction; before the direction is
    // known, the one nearer to that bar.
    ms = instants.earliest;
    if (instants.count == 2 && m_previous) {
        const std::int64_t previous = *m_previous;
        const bool later = m_direction > 0 ? instants.earliest <= previous
                           : m_direction < 0
                               ? instants.latest < previous
                               : instants.latest - previous < previous - instants.earliest;
        ms = later ? instants.latest : instants.earliest;
    }
    return true;
}

bool CsvBarReader::place(std::int64_t ms, std::uint64_t line)
{
    const int timeColumn = column(Field::Time);
    if (m_fileLast && ms <= *m_fileLast) {
        addProblem(line, timeColumn,
                   timeText(ms) + " is not after the time of the bar before it, " +
                       timeText(*m_fileLast) + " (the file's last bar)");
        return false;
    }
    if (m_previous) {
        const int direction = ms > *m_previous ? 1 : (ms < *m_previous ? -1 : 0);
        if (direction == 0 || (m_direction != 0 && direction != m_direction)) {
            addProblem(line, timeColumn,
                       timeText(ms) + " is not " + (m_direction < 0 ? "before" : "after") +
                           " the time of the bar before it, " + timeText(*m_previous) + " (" +
                           lineText(m_previousLine) + ")" +
                           (m_direction < 0 ? "; the input runs newest-first" : ""));
            return false;
        }
        m_direction = direction;
    }
    m_previous = ms;
    m_previousLine = line;
    return true;
}

bool CsvBarReader::readNumber(Field field, double &value)
{
    // Plain numbers are read here at once; the rest (a plus, grouped thousands, a suffix, a
    // zero that may have underflowed, a decimal mark still open, no number) below.
    const std::string_view text = textOf(field);
    const char *const end = text.data() + text.size();
    const auto [stop, error] = fast_float::from_chars_advanced(
        text.data(), end, value,
        fast_float::parse_options(fast_float::chars_format::general, m_layout->decimal));
    if (error == std::errc() && stop == end && value != 0 && std::isfinite(value) &&
        m_layout->decimalHow != csv::Layout::Settled::Assumed) {
        return true;
    }
    const int at = column(field);
    const char decimal = m_layout->decimal;
    std::string_view grouping;
    try {
        value = numbertext::readNumber(text, decimal, field == Field::Volume, grouping);
    } catch (const tools::InputError &problem) {
        const bool point = decimal == ',' && text.find('.') != std::string_view::npos;
        const bool comma = decimal == '.' && text.find(',') != std::string_view::npos;
        addProblem(m_line, at,
                   point ? quoted(text) + " has a decimal point, but the decimal mark is ','" +
                               (m_settings.decimal ? " (given)" : " (detected)") +
                               "; --decimal . sets it"
                         : std::string(problem.what()) +
                               (comma ? "; --decimal , reads a decimal comma" : ""));
        return false;
    }
    return (grouping.empty() && m_layout->decimalHow != csv::Layout::Settled::Assumed) ||
           checkMarks(field, text, grouping);
}

// What the quick path leaves to check: one mark grouping the thousands of a column, and a
// decimal mark that the first records did not settle.
bool CsvBarReader::checkMarks(Field field, std::string_view text, std::string_view grouping)
{
    const int at = column(field);
    if (m_layout->decimalHow == csv::Layout::Settled::Assumed) {
        const numbertext::Mark mark = numbertext::decimalMark(text, field == Field::Volume);
        if (mark == numbertext::Mark::Either) {
            addProblem(m_line, at,
                       quoted(text) + " reads two ways, with the mark grouping thousands or as the "
                                      "decimal mark, and no number before it settles which; "
                                      "--decimal . or --decimal , settles it");
            return false;
        }
        if (mark == numbertext::Mark::Point) {
            m_layout->decimalHow = csv::Layout::Settled::Detected;
            m_quick.emplace(*m_layout);
        }
    }
    auto &[used, line] = m_grouping[static_cast<std::size_t>(field)];
    if (grouping.empty() || grouping == used) {
        return true;
    }
    if (!used.empty()) {
        addProblem(m_line, at,
                   quoted(text) + " groups thousands with " + quoted(grouping) + ", but " +
                       lineText(line) + " groups them with " + quoted(used) +
                       "; a column groups them one way");
        return false;
    }
    used = grouping;
    line = m_line;
    return true;
}

std::string CsvBarReader::timeShapeText() const
{
    std::string text = m_shape ? timetext::shapeName(*m_shape) : "none read";
    if (m_settings.timeFormat) {
        text += " " + *m_settings.timeFormat + " (given)";
    } else if (m_shape == Shape::Slashed) {
        text += m_order == Order::DayFirst
                    ? ", dd/mm/yyyy (settled by " + lineText(m_orderLine) + ")"
                : m_order == Order::MonthFirst
                    ? ", mm/dd/yyyy (settled by " + lineText(m_orderLine) + ")"
                    : ", order not settled";
    } else if (m_shape == Shape::Epoch) {
        text += m_settings.epochUnit
                    ? std::string(" in ") + unitName(*m_settings.epochUnit) + " (given)"
                : m_unit ? std::string(" in ") + unitName(*m_unit) + " (detected from " +
                               lineText(m_unitLine) + "'s digits)"
                         : "";
    }
    if (m_layout && m_layout->at(Field::Date) >= 0) {
        text += ", date in column " + m_layout->columnText(m_layout->at(Field::Date)) +
                " and time of day in column " + m_layout->columnText(m_layout->at(Field::Time));
    }
    return text;
}

std::vector<std::string> CsvBarReader::settings() const
{
    std::vector<std::string> lines;
    if (!m_layout) {
        return lines;
    }
    const csv::Layout &layout = *m_layout;
    const auto how = [](bool given) { return given ? " (given)" : " (detected)"; };
    if (const std::string encoding = m_input.encodingName(); !encoding.empty()) {
        lines.push_back("encoding: " + encoding + " (detected by its byte order mark)");
    }
    lines.push_back("delimiter: " + csv::delimiterName(layout.delimiter) +
                    how(m_settings.delimiter.has_value()));
    lines.push_back("decimal mark: '" + std::string(1, layout.decimal) + "'" +
                    (layout.decimalHow == csv::Layout::Settled::Given      ? " (given)"
                     : layout.decimalHow == csv::Layout::Settled::Detected ? " (detected)"
                                                                           : " (assumed)"));
    if (m_settings.skip > 0) {
        lines.push_back("skipped: lines 1 to " + std::to_string(m_settings.skip) + " (given)");
    }
    if (layout.banner) {
        lines.push_back("banner: " + lineText(layout.banner->line) + ", " + layout.banner->text +
                        " (detected, skipped)");
    }
    lines.push_back("header: " + (layout.header ? lineText(layout.header->line) + ", " +
                                                      layout.header->text + " (detected)"
                                                : std::string("none (detected)")));
    std::string columns;
    for (const Field field : {Field::Time, Field::Date, Field::Open, Field::High, Field::Low,
                              Field::Close, Field::Volume}) {
        const int at = layout.at(field);
        if (at >= 0 || field == Field::Volume) {
            columns += std::string(columns.empty() ? "" : ", ") + csv::fieldName(field) + " " +
                       (at >= 0 ? layout.columnText(at) : "none, 0");
        }
    }
    lines.push_back("columns: " + columns +
                    (m_settings.columns        ? " (given by --columns)"
                     : m_settings.maps.empty() ? (layout.header ? " (by name)" : " (by position)")
                                               : " (by name and --map)"));
    std::string ignored;
    for (const int at : layout.ignored) {
        ignored += (ignored.empty() ? "" : ", ") + layout.columnText(at);
    }
    lines.push_back("ignored: " + (ignored.empty() ? std::string("none") : ignored));
    lines.push_back("time: " + timeShapeText());
    lines.push_back(
        "zone: " +
        (m_settings.zone ? m_settings.zone->name() + " (given)" : std::string("UTC (assumed)")) +
        " for times that name none");
    lines.push_back(m_direction < 0 ? "order: newest-first (detected), stored oldest-first"
                                    : "order: oldest-first");
    return lines;
}

std::vector<std::string> CsvBarReader::notes() const
{
    std::vector<std::string> notes;
    if (!m_layout) {
        return notes;
    }
    if (m_layout->banner) {
        notes.push_back(lineText(m_layout->banner->line) +
                        " is taken for a banner and skipped: " + m_layout->banner->text);
    }
    if (!m_layout->ignored.empty()) {
        std::string ignored;
        for (const int at : m_layout->ignored) {
            ignored += (ignored.empty() ? "" : ", ") + m_layout->columnText(at);
        }
        notes.push_back("columns ignored: " + ignored);
    }
    if (m_layout->at(Field::Volume) < 0) {
        notes.push_back("no column holds the volume: the bars get volume 0");
    }
    if (m_unit && !m_settings.epochUnit) {
        notes.push_back(std::string("epoch times read in ") + unitName(*m_unit) +
                        " from their digits (--epoch-unit sets the unit)");
    }
    if (m_wallClock && !m_settings.zone) {
        notes.push_back("times that name no zone are taken as UTC (assumed; --tz sets the zone)");
    }
    if (m_reversed) {
        notes.push_back("the input runs newest-first; its bars are stored oldest-first");
    }
    if (m_holidays > 0) {
        notes.push_back(std::to_string(m_holidays) +
                        (m_holidays == 1 ? " line was" : " lines were") +
                        " skipped for holding no price (every price empty, null or NaN), the "
                        "first of them " +
                        lineText(m_firstHoliday));
    }
    return notes;
}

} // namespace quelm
