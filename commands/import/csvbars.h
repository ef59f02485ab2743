#pragma once

#include "csvlayout.h"
#include "hugepages.h"
#include "inputtext.h"
#include "quickline.h"

#include <quelm/datafileformat.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelm {

// Reads bars from CSV, fed in pieces of any size: finds the encoding, the delimiter, a banner,
// the header, the columns, the decimal mark and the shape of the times in the first records (as
// far as the settings leave them open), and checks every line: numbers finite, high not below
// low, open and close between them, volume not negative, times running one way, each after the
// file's last bar, and no more bars than the file has room for. A line whose every price is
// missing is skipped and counted. Input running newest-first is turned oldest-first. Holds 48
// bytes a bar and a few bytes a jump in line numbers.
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

    // `after`: the time of the file's last bar, which every bar must follow; `room`: the bars
    // the file still has room for.
    CsvBarReader(csv::Settings settings, std::optional<std::int64_t> after, std::uint64_t room);

    // The input's size in bytes, when it is known before it is read: room for its bars is then
    // made once.
    void expectBytes(std::uint64_t bytes) { m_expectedBytes = bytes; }
    // Both throw quelm::tools::InputError when the input is not text or the first records leave
    // the layout open.
    void feed(std::string_view bytes);
    // Reads a last line that has no line end, and settles what only the end can settle.
    void finish();

    // The bars of the input, oldest first; complete only when there are no problems.
    std::span<const Bar> bars() const { return m_bars; }
    const std::vector<Problem> &problems() const { return m_problems; }
    std::uint64_t badLines() const { return m_badLines; }
    // The input line that bar `index` came from.
    std::uint64_t lineOf(std::size_t index) const;

    // "line 12, column 3 (high): ..."
    std::string describe(const Problem &problem) const;
    // What the user should know about a good input: what was skipped, ignored or assumed.
    std::vector<std::string> notes() const;
    // Each setting as used, and whether it was detected or given: "delimiter: ';' (detected)".
    std::vector<std::string> settings() const;

private:
    enum class Order
    {
        Unknown,
        MonthFirst,
        DayFirst
    };

    void takeText(std::string_view text);
    // Lines that each end in a line end.
    void takeLines(std::string_view lines);
    void takeLine(std::string_view line);
    // `plain`: the record holds no quote.
    void takeRecord(std::string_view record, std::uint64_t line, bool plain = false);
    void decide();
    void readRecord(std::string_view record, std::uint64_t line, bool plain = false);
    // The wall-clock or UTC time of the current record; false after a problem.
    bool readTime(std::int64_t &ms, bool &zoned, bool &pending);
    bool readDateAndClock(timetext::Reading &reading);
    bool readEpoch(std::string_view text, timetext::Reading &reading);
    bool readNumber(csv::Field field, double &value);
    bool checkMarks(csv::Field field, std::string_view text, std::string_view grouping);
    bool isHoliday() const;
    // A bar read whole: its time zoned and placed, then kept.
    void store(const Bar &bar, bool zoned, std::uint64_t line);
    // A bar that passed every check but the room.
    void keep(const Bar &bar, std::uint64_t line);
    bool toUtc(std::int64_t &ms, std::uint64_t line);
    bool place(std::int64_t ms, std::uint64_t line);
    void settle(Order order, std::uint64_t line);
    std::string timeShapeText() const;
    void addProblem(std::uint64_t line, int column, std::string message);
    int column(csv::Field field) const { return m_layout->at(field) + 1; }
    std::string_view textOf(csv::Field field) const
    {
        return m_fields[static_cast<std::size_t>(m_layout->at(field))];
    }
    void reserveBars();

    csv::Settings m_settings;
    std::optional<std::int64_t> m_fileLast;
    std::uint64_t m_room;
    std::uint64_t m_expectedBytes = 0;
    InputText m_input;
    std::optional<csv::Layout> m_layout;
    std::optional<QuickLine> m_quick; // once the layout is known
    std::vector<csv::Record> m_sample;
    std::size_t m_sampleBytes = 0;
    std::size_t m_shortestRecord = SIZE_MAX;

    std::string m_partial;
    std::string m_quoted; // a record whose quoted field runs on past its line
    bool m_inQuotes = false;
    bool m_quoteFree = false; // the text being taken holds no quote
    std::uint64_t m_quotedLine = 0;
    std::uint64_t m_physicalLine = 0;
    std::uint64_t m_line = 0;
    std::vector<std::string_view> m_fields;
    std::string m_scratch;

    std::optional<timetext::Shape> m_shape;
    std::uint64_t m_shapeLine = 0;
    std::optional<timetext::EpochUnit> m_unit;
    std::uint64_t m_unitLine = 0;
    Order m_order = Order::Unknown;
    std::uint64_t m_orderLine = 0;
    std::optional<Problem> m_ambiguous; // the first slashed date that reads both ways
    // The mark that groups the thousands of each field's column, and the line it was first seen on.
    std::array<std::pair<std::string_view, std::uint64_t>, csv::fieldKinds> m_grouping{};

    bool m_pending = false;   // the bars so far hold month-first wall-clock times
    bool m_wallClock = false; // some time named no zone
    std::int64_t m_latest;    // the latest time an epoch number may stand for

    std::optional<std::int64_t> m_previous;
    std::uint64_t m_previousLine = 0;
    int m_direction = 0; // 1 rising, -1 falling, 0 not known yet
    bool m_reversed = false;

    std::vector<Bar, HugePageAllocator<Bar>> m_bars;
    // The bars whose line is not the one after the previous bar's: (bar index, line).
    std::vector<std::pair<std::size_t, std::uint64_t>> m_jumps;
    std::uint64_t m_nextLine = 0; // after the last bar's
    std::uint64_t m_holidays = 0; // lines skipped for want of any price
    std::uint64_t m_firstHoliday = 0;
    std::uint64_t m_goodBars = 0;
    std::vector<Problem> m_problems;
    std::uint64_t m_badLines = 0;
};

} // namespace quelm
