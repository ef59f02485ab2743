#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>
#include <stdexcept>

namespace quelm {

// Thrown when a text is not a number, or not one that fits; what() is a sentence for the user.
class ConversionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The text and number conversions of the build command, by the rules of `locale`.
namespace conversions {

// Reads a decimal number: blanks around it, a sign, digits, the locale's group separators in
// their proper places, its decimal separator and an exponent. Infinities and NaN are refused.
double textToDouble(const QString &text, const QLocale &locale = QLocale::system());

// As textToDouble, then rounded to the nearest integer, halves to the even neighbour.
std::int32_t textToInt32(const QString &text, const QLocale &locale = QLocale::system());

// Plain decimal digits with a leading '-' when negative; no grouping, no padding.
QString int32ToText(std::int32_t value);

} // namespace conversions
} // namespace quelm
