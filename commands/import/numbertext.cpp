#include "numbertext.h"

#include "commanderror.h"
#include "textescape.h"

#include <array>
#include <cmath>
#include <fast_float/fast_float.h>
#include <string>

namespace quelm::numbertext {

using inspect::quotedText;
using tools::InputError;

namespace {

// The marks that may group thousands, a no-break space in UTF-8 before the same in Latin-1.
constexpr std::array<std::string_view, 8> groupMarks = {
    ",", ".", " ", "'", "\xC2\xA0", "\xE2\x80\xAF", "\xE2\x80\x99", "\xA0"};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int suffixExponent(char c)
{
    return c == 'K' ? 3 : c == 'M' ? 6 : c == 'B' ? 9 : 0;
}

// The number after its sign and before a suffix.
std::string_view body(std::string_view text, bool suffixed, int &exponent)
{
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        text.remove_prefix(1);
    }
    exponent = suffixed && !text.empty() ? suffixExponent(text.back()) : 0;
    if (exponent != 0) {
        text.remove_suffix(1);
    }
    return text;
}

// A text of digits, marks and an exponent only, with a digit: what may be a number.
bool looksNumeric(std::string_view text)
{
    bool digit = false;
    for (const char c : text) {
        digit = digit || isDigit(c);
        if (!isDigit(c) && c != '.' && c != ',' && c != ' ' && c != '\'' && c != 'e' && c != 'E' &&
            c != '+' && c != '-' && static_cast<unsigned char>(c) < 0x80) {
            return false;
        }
    }
    return digit;
}

bool hasNonzeroDigit(std::string_view mantissa)
{
    for (const char c : mantissa) {
        if (c == 'e' || c == 'E') {
            return false;
        }
        if (c >= '1' && c <= '9') {
            return true;
        }
    }
    return false;
}

std::string_view groupMarkAt(std::string_view text, std::size_t at, char decimal)
{
    for (const std::string_view mark : groupMarks) {
        if (text.substr(at).starts_with(mark) && mark[0] != decimal) {
            return mark;
        }
    }
    return {};
}

// A number that fast_float read whole but that is not finite, or that underflowed to zero.
[[noreturn]] void notFinite(std::string_view text, std::string_view read)
{
    const bool word = read.find_first_of("iInN") != std::string_view::npos;
    throw InputError(quotedText(text) +
                     (word ? " is not a finite number" : " is out of the range of a double"));
}

double parsed(std::string_view text, std::string_view clean, char decimal)
{
    double value = 0;
    const auto [end, error] = fast_float::from_chars_advanced(
        clean.data(), clean.data() + clean.size(), value,
        fast_float::parse_options(fast_float::chars_format::general, decimal));
    if (error != std::errc() || end != clean.data() + clean.size()) {
        throw InputError(quotedText(text) + " is not a number");
    }
    if (!std::isfinite(value) || (value == 0 && hasNonzeroDigit(clean))) {
        notFinite(text, clean);
    }
    return value;
}

// Reads what the quick path leaves: a plus, grouped thousands, a suffix, or no number at all.
double readSlowly(std::string_view text, char decimal, bool suffixed, std::string_view &grouping)
{
    if (text.empty()) {
        throw InputError("empty; a number is needed");
    }
    std::string clean;
    if (text[0] == '-') {
        clean += '-';
    }
    int exponent = 0;
    const std::string_view number = body(text, suffixed, exponent);
    const auto notNumber = [&] { throw InputError(quotedText(text) + " is not a number"); };
    if (number.starts_with('+') || number.starts_with('-')) {
        notNumber();
    }
    std::size_t at = 0;
    while (at < number.size() && isDigit(number[at])) {
        clean += number[at++];
    }
    const std::size_t lead = at;
    // Groups of three digits after a lead of one to three, which is not a lone 0.
    while (at < number.size()) {
        const std::string_view mark = groupMarkAt(number, at, decimal);
        const std::size_t next = at + mark.size();
        if (mark.empty() || lead == 0 || lead > 3 || number[0] == '0' || next + 3 > number.size() ||
            !isDigit(number[next]) || !isDigit(number[next + 1]) || !isDigit(number[next + 2]) ||
            (next + 3 < number.size() && isDigit(number[next + 3])) ||
            (!grouping.empty() && mark != grouping)) {
            break;
        }
        grouping = mark;
        clean.append(number.substr(next, 3));
        at = next + 3;
    }
    if (at < number.size() && number[at] == decimal) {
        clean += '.';
        for (++at; at < number.size() && isDigit(number[at]); ++at) {
            clean += number[at];
        }
    }
    if (at < number.size() && (number[at] == 'e' || number[at] == 'E') && exponent == 0) {
        clean.append(number.substr(at));
        at = number.size();
    }
    if (at != number.size()) {
        grouping = {};
        notNumber();
    }
    if (exponent != 0) {
        clean += 'e';
        clean += static_cast<char>('0' + exponent);
    }
    return parsed(text, clean, '.');
}

} // namespace

Mark decimalMark(std::string_view text, bool suffixed)
{
    int exponent = 0;
    const std::string_view number = body(text, suffixed, exponent);
    if (!looksNumeric(number)) {
        return Mark::None;
    }
    const std::size_t point = number.rfind('.'), comma = number.rfind(',');
    if (point != std::string_view::npos && comma != std::string_view::npos) {
        return point > comma ? Mark::Point : Mark::Comma;
    }
    if (point == comma) {
        return Mark::None;
    }
    const char mark = point != std::string_view::npos ? '.' : ',';
    const std::size_t at = number.find(mark);
    if (at != number.rfind(mark)) {
        // A mark twice groups thousands: the other one is the decimal mark.
        return mark == '.' ? Mark::Comma : Mark::Point;
    }
    const auto digits = [&](std::size_t from, std::size_t count) {
        return number.substr(from, count).find_first_not_of("0123456789") == std::string_view::npos;
    };
    const bool groupsThousands = at >= 1 && at <= 3 && number[0] != '0' && digits(0, at) &&
                                 number.size() == at + 4 && digits(at + 1, 3);
    return groupsThousands ? Mark::Either : (mark == '.' ? Mark::Point : Mark::Comma);
}

bool isMissing(std::string_view text)
{
    const auto is = [&](std::string_view word) {
        if (text.size() != word.size()) {
            return false;
        }
        for (std::size_t i = 0; i < word.size(); ++i) {
            if ((text[i] | 0x20) != word[i]) {
                return false;
            }
        }
        return true;
    };
    return text.empty() || is("null") || is("nan");
}

double readNumber(std::string_view text, char decimal, bool suffixed, std::string_view &grouping)
{
    grouping = {};
    double value = 0;
    const char *const end = text.data() + text.size();
    const auto [stop, error] = fast_float::from_chars_advanced(
        text.data(), end, value,
        fast_float::parse_options(fast_float::chars_format::general, decimal));
    if (error == std::errc() && stop == end) {
        if (std::isfinite(value) && (value != 0 || !hasNonzeroDigit(text))) {
            return value;
        }
        notFinite(text, text);
    }
    return readSlowly(text, decimal, suffixed, grouping);
}

} // namespace quelm::numbertext
