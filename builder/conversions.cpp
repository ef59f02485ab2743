#include "conversions.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace quelm::conversions {
namespace {

// The text as the user typed it, shortened so that a pasted page still fits in a message box.
QString quoted(const QString &text)
{
    constexpr qsizetype longest = 40;
    const QString shown = text.size() > longest ? text.left(longest - 1) + QChar(0x2026) : text;
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

[[noreturn]] void notANumber(const QString &text)
{
    throw ConversionError(QStringLiteral("%1 is not a number.").arg(quoted(text)).toStdString());
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Reads the text character by character; a fixed grammar instead of QLocale::toDouble, which
// also takes "inf" and "nan" and quietly skips misplaced group separators.
class Scanner
{
public:
    Scanner(QStringView text, const QLocale &locale)
        : m_text(text), m_group(locale.groupSeparator()), m_decimal(locale.decimalPoint()),
          m_minus(locale.negativeSign()), m_plus(locale.positiveSign())
    {
    }

    // Fills `ascii` with the number in the C locale's notation ("-12.5e3"); false when the
    // text is not a number. `magnitude` receives the decimal exponent of the leading digit.
    bool scan(std::string &ascii, long long &magnitude)
    {
        if (accept(m_minus) || accept(QStringLiteral("-")))
            ascii += '-';
        else if (!accept(m_plus))
            accept(QStringLiteral("+"));

        std::string intDigits;
        if (!integerPart(intDigits))
            return false;
        std::string fracDigits;
        if (accept(m_decimal))
            digits(fracDigits);
        if (intDigits.empty() && fracDigits.empty())
            return false;

        long long exponent = 0;
        std::string expText;
        if (acceptExponentMark()) {
            bool negative = false;
            if (accept(m_minus) || accept(QStringLiteral("-")))
                negative = true;
            else if (!accept(m_plus))
                accept(QStringLiteral("+"));
            if (!digits(expText))
                return false;
            for (char c : expText)
                exponent = std::min(exponent * 10 + (c - '0'), 1'000'000'000LL);
            if (negative)
                exponent = -exponent;
            expText.insert(0, negative ? "e-" : "e");
        }
        if (m_pos != m_text.size())
            return false;

        const std::string all = intDigits + fracDigits;
        const auto first = all.find_first_not_of('0');
        magnitude = first == std::string::npos ? 0
                                               : static_cast<long long>(intDigits.size()) -
                                                     static_cast<long long>(first) - 1 + exponent;
        ascii += intDigits.empty() ? std::string("0") : intDigits;
        if (!fracDigits.empty())
            ascii += '.' + fracDigits;
        ascii += expText;
        return true;
    }

private:
    bool accept(const QString &token)
    {
        if (token.isEmpty() || !m_text.sliced(m_pos).startsWith(token))
            return false;
        m_pos += token.size();
        return true;
    }

    bool acceptExponentMark()
    {
        if (m_pos < m_text.size() &&
            (m_text[m_pos] == QLatin1Char('e') || m_text[m_pos] == QLatin1Char('E'))) {
            ++m_pos;
            return true;
        }
        return false;
    }

    // Appends the ASCII digits at the current place; false when there are none.
    bool digits(std::string &out)
    {
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && isDigit(m_text[m_pos]))
            out += static_cast<char>(m_text[m_pos++].unicode());
        return m_pos > start;
    }

    // Digits, optionally grouped: a lead of one to three digits, then separator and exactly
    // three digits, as often as needed. A separator anywhere else ends the number badly.
    bool integerPart(std::string &out)
    {
        if (!digits(out))
            return true;
        const qsizetype leadLength = static_cast<qsizetype>(out.size());
        bool grouped = false;
        while (!m_group.isEmpty() && m_text.sliced(m_pos).startsWith(m_group)) {
            if (!grouped && leadLength > 3)
                return false;
            m_pos += m_group.size();
            std::string group;
            digits(group);
            if (group.size() != 3)
                return false;
            out += group;
            grouped = true;
        }
        return true;
    }

    QStringView m_text;
    QString m_group;
    QString m_decimal;
    QString m_minus;
    QString m_plus;
    qsizetype m_pos = 0;
};

} // namespace

double textToDouble(const QString &text, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    std::string ascii;
    long long magnitude = 0;
    if (trimmed.isEmpty() || !Scanner(trimmed, locale).scan(ascii, magnitude))
        notANumber(text);

    double value = 0.0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error == std::errc::result_out_of_range) {
        if (magnitude < 0) // Closer to zero than any double: it is zero.
            return ascii.front() == '-' ? -0.0 : 0.0;
        throw ConversionError(
            QStringLiteral("%1 is too large: a number must lie between %2 and %3.")
                .arg(quoted(text), QString::number(-std::numeric_limits<double>::max()),
                     QString::number(std::numeric_limits<double>::max()))
                .toStdString());
    }
    if (error != std::errc() || end != ascii.data() + ascii.size())
        notANumber(text);
    return value;
}

std::int32_t textToInt32(const QString &text, const QLocale &locale)
{
    const double value = textToDouble(text, locale);
    double rounded = std::floor(value);
    const double fraction = value - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0))
        rounded += 1.0;

    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    if (rounded < lowest || rounded > highest) {
        throw ConversionError(
            QStringLiteral("%1 is out of range: it must be a whole number from %2 to %3.")
                .arg(quoted(text), int32ToText(std::numeric_limits<std::int32_t>::min()),
                     int32ToText(std::numeric_limits<std::int32_t>::max()))
                .toStdString());
    }
    return static_cast<std::int32_t>(rounded);
}

QString int32ToText(std::int32_t value)
{
    return QString::number(value);
}

} // namespace quelm::conversions
