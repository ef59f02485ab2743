#pragma once

#include <string_view>

// Numbers as CSV files of bars write them: a decimal point or a decimal comma, thousands grouped
// by another mark (a comma, a point, a blank, an apostrophe or a no-break space), and in a
// volume a K, M or B after the number for thousands, millions and billions.
namespace quelm::numbertext {

// What one number says about the decimal mark of its file: nothing (no mark, or not a number),
// the point, the comma, or either ("1,234" is 1234 with a grouping comma and 1.234 with a
// decimal comma).
enum class Mark
{
    None,
    Point,
    Comma,
    Either
};
// `suffixed`: a K, M or B may follow the number.
Mark decimalMark(std::string_view text, bool suffixed);

// A value that is not there: empty, null or NaN, in any case.
bool isMissing(std::string_view text);

// Reads a finite number whose decimal mark is `decimal` ("+" allowed before digits). Its
// thousands may be grouped by one other mark, which `grouping` then holds ("" when there is
// none); with `suffixed`, a K, M or B after it multiplies it by 10^3, 10^6 or 10^9, exactly.
// Throws quelm::tools::InputError saying why the text is not such a number.
double readNumber(std::string_view text, char decimal, bool suffixed, std::string_view &grouping);

} // namespace quelm::numbertext
