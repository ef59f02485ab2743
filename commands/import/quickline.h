#pragma once

#include "csvlayout.h"

#include <quelm/datafileformat.h>

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quelm {

// The quick reading of the lines most files are made of: ISO-8601 times and plain numbers, and
// the checks that need no other line (high not below low, open and close between them, volume
// not negative). Whatever it does not read quickly, it leaves to the full reader, which says
// what is wrong.
class QuickLine
{
public:
    // Reads lines of `layout`; nothing quickly while its decimal mark is only assumed, or when
    // a date column and a time column hold the time apart.
    explicit QuickLine(const csv::Layout &layout);

    // Reads the fields of a line; false when the full reader must.
    bool read(const std::vector<std::string_view> &fields, Bar &bar, bool &zoned);

private:
    // yyyy-mm-dd, a blank or T and hh:mm (then :ss and .fff) optional, and Z optional: the time
    // as timetext::readTime gives it, or false.
    bool readIsoTime(std::string_view text, std::int64_t &ms, bool &zoned);
    bool readNumber(std::string_view text, double &value) const;

    char m_decimal;
    std::size_t m_fieldCount;
    bool m_atLeast;
    std::array<int, csv::fieldKinds> m_column;
    bool m_enabled;
    char m_dayText[10] = {}; // the date of the last time read, and its first millisecond
    std::int64_t m_dayMs = 0;
};

} // namespace quelm
