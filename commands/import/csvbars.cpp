#include "csvbars.h"

#include "bartext.h"
#include "commanderror.h"
#include "csvfields.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace quelm {

using bartext::numberText;
using bartext::timeText;
using csv::Field;
using timetext::Shape;

namespace {

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
// The records the layout is read from, at most.
constexpr std::size_t sampleRecords = 50;
constexpr std::size_t sampleBytes = 1 << 18;
constexpr std::int64_t msPerDay = 86'400'000;
// 1971-01-01T00:00:00Z: epoch numbers read by their digits stand for times after it.
constexpr std::int64_t earliestEpoch = 365 * msPerDay;

bool isBlank(std::string_view text)
{
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

std::string quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
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
            takeLine(text.substr(0, length));
        } else {
            m_partial.append(text.substr(0, length));
            takeLine(m_partial);
            m_partial.clear();
        }
        text.remove_prefix(length + 1);
    }
}

void CsvBarReader::finish()
{
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
    if (m_physicalLine == 1 && line.starts_with(byteOrderMark)) {
        line.remove_prefix(byteOrderMark.size());
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
    } else if (csv::endsInQuotes(line)) {
        m_inQuotes = true;
        m_quoted.assign(line);
        m_quotedLine = m_physicalLine;
    } else {
        takeRecord(line, m_physicalLine);
    }
}

void CsvBarReader::takeRecord(std::string_view record, std::uint64_t line)
{
    if (isBlank(record)) {
        return;
    }
    if (m_layout) {
        readRecord(record, line);
        return;
    }
    m_sample.push_back({std::string(record), line});
    m_sampleBytes += record.size();
    if (m_sample.size() == sampleRecords || m_sampleBytes >= sampleBytes) {
        decide();
    }
}

void CsvBarReader::decide()
{
    m_layout = csv::decideLayout(m_sample, m_settings);
    for (const csv::Record &record : m_sample) {
        if ((!m_layout->banner || m_layout->banner->line != record.line) &&
            (!m_layout->header || m_layout->header->line != record.line)) {
            readRecord(record.text, record.line);
        }
    }
    m_sample.clear();
    m_sample.shrink_to_fit();
}

void CsvBarReader::readRecord(std::string_view record, std::uint64_t line)
{
    m_line = line;
    csv::split(record, m_layout->delimiter, m_fields, m_scratch);
    const std::size_t expected = m_layout->fields;
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

    Bar bar;
    bool zoned = false, pending = false;
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
    // Bars past the room are one problem, told at the first of them.
    if (m_goodBars++ == m_room) {
        addProblem(line, 0,
                   "the file has room for " + std::to_string(m_room) +
                       (m_room == 1 ? " more bar" : " more bars") + ", and this is one more");
    }
    if (m_badLines == 0) {
        const std::size_t index = m_bars.size();
        if (m_jumps.empty() || lineOf(index) != line) {
            m_jumps.emplace_back(index, line);
        }
        m_bars.push_back(bar);
    }
}

bool CsvBarReader::readTime(std::int64_t &ms, bool &zoned, bool &pending)
{
    const int timeColumn = column(Field::Time);
    const std::string_view text = m_fields[static_cast<std::size_t>(timeColumn - 1)];
    const int dateColumn = column(Field::Date);
    const std::uint64_t line = m_line;
    timetext::Reading reading;
    try {
        if (m_settings.timeFormat) {
            const std::string whole =
                dateColumn > 0 ? std::string(m_fields[static_cast<std::size_t>(dateColumn - 1)]) +
                                     " " + std::string(text)
                               : std::string(text);
            reading = timetext::readTime(whole, *m_settings.timeFormat);
        } else if (dateColumn > 0) {
            reading = timetext::readTime(m_fields[static_cast<std::size_t>(dateColumn - 1)]);
            const std::int64_t clock = timetext::readClock(text);
            reading.ms += clock;
            if (reading.dayFirstMs) {
                *reading.dayFirstMs += clock;
            }
        } else if (timetext::isEpochNumber(text) &&
                   (m_settings.epochUnit || (text.find('.') != std::string_view::npos ||
                                             (timetext::integerDigits(text) != 8 &&
                                              timetext::integerDigits(text) != 14)))) {
            reading.shape = Shape::Epoch;
            reading.zoned = true;
            if (m_settings.epochUnit) {
                reading.ms = timetext::epochMs(text, *m_settings.epochUnit);
            } else {
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
                               quoted(text) + " has " + digits + " digits, epoch " +
                                   unitName(*unit) + ", but " + lineText(m_unitLine) +
                                   " has epoch " + unitName(*m_unit) +
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
            }
        } else {
            reading = timetext::readTime(text);
        }
    } catch (const tools::InputError &error) {
        addProblem(line, dateColumn > 0 && !m_settings.timeFormat ? dateColumn : timeColumn,
                   error.what());
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
                        quoted(dateColumn > 0 ? m_fields[static_cast<std::size_t>(dateColumn - 1)]
                                              : text) +
                            " reads as " + dateText(reading.ms) + " (mm/dd/yyyy) or as " +
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
    // Where the clocks go back, the later reading when the earlier would not follow the bar
    // before it.
    ms = instants.count == 2 && m_previous && *m_previous >= instants.earliest ? instants.latest
                                                                               : instants.earliest;
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
    const int at = column(field);
    std::string_view text = m_fields[static_cast<std::size_t>(at - 1)];
    const char decimal = m_layout->decimal;
    char copy[64];
    if (decimal == ',' && text.size() < sizeof copy) {
        if (text.find('.') != std::string_view::npos) {
            addProblem(m_line, at,
                       quoted(text) + " has a decimal point, but the decimal mark is ','" +
                           (m_settings.decimal ? " (given)" : " (detected)") +
                           "; --decimal . sets it");
            return false;
        }
        std::memcpy(copy, text.data(), text.size());
        std::replace(copy, copy + text.size(), ',', '.');
        text = std::string_view(copy, text.size());
    }
    try {
        value = bartext::readNumber(text);
    } catch (const tools::InputError &error) {
        const bool comma = decimal == '.' && text.find(',') != std::string_view::npos;
        addProblem(m_line, at,
                   std::string(error.what()) +
                       (comma ? "; --decimal , reads a decimal comma" : ""));
        return false;
    }
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
    lines.push_back("delimiter: " + csv::delimiterName(layout.delimiter) +
                    how(m_settings.delimiter.has_value()));
    lines.push_back("decimal mark: '" + std::string(1, layout.decimal) + "'" +
                    how(m_settings.decimal.has_value()));
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
    return notes;
}

} // namespace quelm
