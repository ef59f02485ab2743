#include "conversions.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace quelm::conversions {
namespace {

// The code point at `pos` and how many UTF-16 units it takes.
char32_t codePointAt(QStringView text, qsizetype pos, qsizetype &units)
{
    const QChar c = text[pos];
    if (c.isHighSurrogate() && pos + 1 < text.size() && text[pos + 1].isLowSurrogate()) {
        units = 2;
        return QChar::surrogateToUcs4(c, text[pos + 1]);
    }
    units = 1;
    return c.unicode();
}

// Marks that only steer the direction of the text around them; locales put them into their
// signs, and text copied from a page often carries them. They say nothing about the number.
bool isDirectionMark(char32_t c)
{
    return c == 0x200E || c == 0x200F || c == 0x061C;
}

QString withoutDirectionMarks(QString text)
{
    text.removeIf([](QChar c) { return isDirectionMark(c.unicode()); });
    return text;
}

// Characters a message box would show as nothing, or not at all.
bool isInvisible(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// Blanks and invisible characters at either end are not part of the number.
QStringView trimmed(QStringView text)
{
    const auto blank = [](char32_t c) {
        return QChar::isSpace(c) || QChar::category(c) == QChar::Other_Format;
    };
    qsizetype units = 0;
    while (!text.isEmpty() && blank(codePointAt(text, 0, units)))
        text = text.sliced(units);
    while (!text.isEmpty()) {
        qsizetype start = text.size() - 1;
        if (start > 0 && text[start].isLowSurrogate() && text[start - 1].isHighSurrogate())
            --start;
        if (!blank(codePointAt(text, start, units)))
            break;
        text.truncate(start);
    }
    return text;
}

// The text as the user typed it, invisible characters written out as <U+200B>, shortened so
// that a pasted page still fits in a message box.
QString quoted(QStringView text)
{
    constexpr qsizetype longest = 40;
    QStringView shown = text;
    if (text.size() > longest) {
        shown = text.first(longest - 1);
        if (shown.back().isHighSurrogate())
            shown.chop(1);
    }
    QString out = QStringLiteral("\"");
    qsizetype units = 0;
    for (qsizetype pos = 0; pos < shown.size(); pos += units) {
        const char32_t c = codePointAt(shown, pos, units);
        if (isInvisible(c))
            out += QStringLiteral("<U+%1>").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += shown.sliced(pos, units);
    }
    if (shown.size() < text.size())
        out += QChar(0x2026);
    return out + QLatin1Char('"');
}

[[noreturn]] void notANumber(const QString &text)
{
    throw ConversionError(
        QCoreApplication::translate("quelm::conversions", "%1 is not a number.").arg(quoted(text)));
}

// Lengths of the digit groups, left to right, of a number as a locale wrote it.
QList<qsizetype> groupLengths(const QString &written, const QString &separator)
{
    QList<qsizetype> lengths;
    for (const QString &group : withoutDirectionMarks(written).split(separator))
        lengths << group.toUcs4().size();
    return lengths;
}

// Groups of three from the right, as most locales group their digits.
QList<qsizetype> groupsOfThree(qsizetype count)
{
    const qsizetype lead = (count - 1) % 3 + 1;
    QList<qsizetype> groups{lead};
    groups.insert(groups.end(), (count - lead) / 3, 3);
    return groups;
}

// How the locale groups the digits of a number: as QLocale::toString writes them, which may be
// otherwise than in threes ("12,34,567"), and may leave a short lead unseparated ("1234 567").
class Grouping
{
public:
    explicit Grouping(const QLocale &locale) : m_locale(locale)
    {
        m_locale.setNumberOptions(QLocale::DefaultNumberOptions);
        m_separator = withoutDirectionMarks(m_locale.groupSeparator());
        const QList<qsizetype> longest = written(longestWritten);
        if (longest.size() >= 3)
            m_higher = longest[longest.size() - 2];
    }

    // True when groups of these lengths, left to right, are where the locale puts them, or in
    // threes as everywhere else.
    bool inPlace(const QList<qsizetype> &groups) const
    {
        qsizetype count = 0;
        for (qsizetype length : groups)
            count += length;
        return groups == groupsOfThree(count) || (m_higher > 0 && groups == written(count));
    }

private:
    // The most digits a qlonglong written by the locale is sure to have.
    static constexpr qsizetype longestWritten = 18;

    QList<qsizetype> written(qsizetype count) const
    {
        if (count <= longestWritten) {
            qlonglong power = 1;
            for (qsizetype i = 1; i < count; ++i)
                power *= 10;
            return groupLengths(m_locale.toString(power), m_separator);
        }
        // A longer number has only more groups of the inner size behind its lead.
        const qsizetype extra = (count - longestWritten + m_higher - 1) / m_higher;
        QList<qsizetype> groups = written(count - extra * m_higher);
        groups.insert(1, extra, m_higher);
        return groups;
    }

    QLocale m_locale;
    QString m_separator;
    qsizetype m_higher = 0; // the size of the groups between the lead and the last
};

// The tokens a locale writes for one thing, without direction marks, and the ASCII ones that
// everybody types.
QStringList tokens(const QString &localeToken, QStringList common)
{
    const QString own = withoutDirectionMarks(localeToken);
    if (!own.isEmpty() && !common.contains(own))
        common.prepend(own);
    return common;
}

// The locale's group separator and what people type for it.
QStringList groupSeparators(const QLocale &locale)
{
    const QString own = withoutDirectionMarks(locale.groupSeparator());
    if (own.size() == 1 && own[0].isSpace())
        return tokens(own,
                      {QStringLiteral(" "), QStringLiteral("\u00a0"), QStringLiteral("\u202f")});
    if (own == QStringLiteral("\u2019"))
        return {own, QStringLiteral("'")};
    return tokens(own, {});
}

// Reads the text character by character; a fixed grammar instead of QLocale::toDouble, which
// also takes "inf" and "nan" and quietly skips misplaced group separators.
class Scanner
{
public:
    Scanner(QStringView text, const QLocale &locale)
        : m_text(text), m_locale(locale), m_groups(groupSeparators(locale)),
          m_decimal(withoutDirectionMarks(locale.decimalPoint())),
          m_minus(tokens(locale.negativeSign(), {QStringLiteral("-")})),
          m_plus(tokens(locale.positiveSign(), {QStringLiteral("+")}))
    {
        const QString exponent = withoutDirectionMarks(locale.exponential());
        m_exponent = tokens(exponent.toLower(),
                            tokens(exponent.toUpper(), {QStringLiteral("e"), QStringLiteral("E")}));
        const QString zero = locale.zeroDigit();
        qsizetype units = 0;
        m_localZero = zero.isEmpty() ? U'0' : codePointAt(zero, 0, units);
    }

    // Fills `ascii` with the number in the C locale's notation ("-12.5e3"); false when the
    // text is not a number. `magnitude` receives the decimal exponent of the leading digit.
    bool scan(std::string &ascii, long long &magnitude)
    {
        if (accept(m_minus))
            ascii += '-';
        else
            accept(m_plus);

        std::string intDigits;
        if (!integerPart(intDigits))
            return false;
        std::string fracDigits;
        if (accept({m_decimal}))
            digits(fracDigits);
        if (intDigits.empty() && fracDigits.empty())
            return false;

        long long exponent = 0;
        std::string expText;
        if (accept(m_exponent)) {
            const bool negative = accept(m_minus);
            if (!negative)
                accept(m_plus);
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
    bool accept(const QStringList &choices)
    {
        for (const QString &token : choices) {
            if (!token.isEmpty() && m_text.sliced(m_pos).startsWith(token)) {
                m_pos += token.size();
                return true;
            }
        }
        return false;
    }

    // Appends the digits at the current place as ASCII; false when there are none. Digits are
    // ASCII or the locale's own, one kind to a number.
    bool digits(std::string &out)
    {
        const qsizetype start = m_pos;
        while (m_pos < m_text.size()) {
            qsizetype units = 0;
            const char32_t c = codePointAt(m_text, m_pos, units);
            char32_t zero = 0;
            if (c >= U'0' && c <= U'9')
                zero = U'0';
            else if (c >= m_localZero && c <= m_localZero + 9)
                zero = m_localZero;
            if (zero == 0 || (m_zero != 0 && zero != m_zero))
                break;
            m_zero = zero;
            out += static_cast<char>('0' + (c - zero));
            m_pos += units;
        }
        return m_pos > start;
    }

    // Digits, ungrouped or with the locale's group separators in their places.
    bool integerPart(std::string &out)
    {
        if (!digits(out))
            return true;
        QList<qsizetype> groups{static_cast<qsizetype>(out.size())};
        while (accept(m_groups)) {
            const auto before = out.size();
            if (!digits(out))
                return false;
            groups << static_cast<qsizetype>(out.size() - before);
        }
        return groups.size() == 1 || Grouping(m_locale).inPlace(groups);
    }

    QStringView m_text;
    const QLocale &m_locale;
    QStringList m_groups;
    QString m_decimal;
    QStringList m_minus;
    QStringList m_plus;
    QStringList m_exponent;
    char32_t m_localZero = U'0';
    char32_t m_zero = 0;
    qsizetype m_pos = 0;
};

} // namespace

double textToDouble(const QString &text, const QLocale &locale)
{
    if (text.size() > longestText) {
        throw ConversionError(
            QCoreApplication::translate(
                "quelm::conversions",
                "%1 is too long to be read as a number: it has more than %2 characters.")
                .arg(quoted(text))
                .arg(longestText));
    }
    const QString number = withoutDirectionMarks(trimmed(text).toString());
    std::string ascii;
    long long magnitude = 0;
    if (number.isEmpty() || !Scanner(number, locale).scan(ascii, magnitude))
        notANumber(text);

    double value = 0.0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Closer to zero than any double: it is zero; farther from it: an infinity.
        const double sign = ascii.front() == '-' ? -1.0 : 1.0;
        return magnitude < 0 ? sign * 0.0 : sign * std::numeric_limits<double>::infinity();
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
    if (!(rounded >= lowest && rounded <= highest)) {
        throw ConversionError(QCoreApplication::translate(
                                  "quelm::conversions",
                                  "%1 is out of range: it must be a whole number from %2 to %3.")
                                  .arg(quoted(text),
                                       int32ToText(std::numeric_limits<std::int32_t>::min()),
                                       int32ToText(std::numeric_limits<std::int32_t>::max())));
    }
    return static_cast<std::int32_t>(rounded);
}

QString int32ToText(std::int32_t value)
{
    return QString::number(value);
}

} // namespace quelm::conversions
