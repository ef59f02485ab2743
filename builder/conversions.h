#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <cstdint>
#include <exception>
#include <utility>

namespace quelm {

// Thrown when a text is not a number, or not one that fits; message() is a sentence for the user.
class ConversionError : public std::exception
{
public:
    explicit ConversionError(QString message)
        : m_message(std::move(message)), m_utf8(m_message.toUtf8())
    {
    }

    const QString &message() const noexcept { return m_message; }
    // The same sentence in UTF-8, for handlers that know only std::exception.
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// The text and number conversions of the build command, by the rules of `locale`.
namespace conversions {

// The longest text read as a number. No number needs more; a longer text is refused as too long.
constexpr qsizetype longestText = 1000;

// Reads a decimal number: blanks and invisible characters around it, a sign, digits, the
// locale's group separators in their proper places, its decimal separator and an exponent.
// Digits are ASCII or the locale's own; whatever QLocale::toString writes for the locale is read
// back. Direction marks are ignored. Infinities and NaN are refused, as are texts longer than
// longestText. A number beyond the range of a double reads as an infinity of its sign, so that
// the caller can say which range it needed.
double textToDouble(const QString &text, const QLocale &locale = QLocale::system());

// As textToDouble, then rounded to the nearest integer, halves to the even neighbour.
std::int32_t textToInt32(const QString &text, const QLocale &locale = QLocale::system());

// Plain decimal digits with a leading '-' when negative; no grouping, no padding.
QString int32ToText(std::int32_t value);

} // namespace conversions
} // namespace quelm
