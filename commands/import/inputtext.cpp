#include "inputtext.h"

#include "commanderror.h"
#include "textescape.h"

namespace quelm {

using tools::InputError;

namespace {

// The input bytes that are checked for text; a control character anywhere after them only
// spoils its own field.
constexpr std::uint64_t checkedBytes = 1 << 16;
constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";
constexpr char32_t replacement = 0xFFFD;

bool isControl(char32_t unit)
{
    return unit < 0x20 && unit != '\t' && unit != '\n' && unit != '\r';
}

// What the first bytes of input that is not text look like, for the message that refuses it.
std::string whatItIs(std::string_view first)
{
    const auto startsWith = [&](std::string_view magic) { return first.starts_with(magic); };
    if (startsWith("PK\x03\x04")) {
        return "it is a ZIP archive, as .xlsx and .ods workbooks are; save the sheet as CSV";
    }
    if (startsWith("\xD0\xCF\x11\xE0")) {
        return "it is an .xls workbook; save the sheet as CSV";
    }
    if (startsWith("\x1F\x8B")) {
        return "it is compressed with gzip; unpack it first";
    }
    // Text in UTF-16 has a zero byte beside nearly every character of the Latin alphabet.
    std::size_t zeros[2] = {0, 0};
    const std::size_t pairs = std::min<std::size_t>(first.size() / 2, 64);
    for (std::size_t i = 0; i < pairs * 2; ++i) {
        zeros[i % 2] += first[i] == '\0';
    }
    if (pairs >= 2 && (zeros[0] == pairs) != (zeros[1] == pairs)) {
        return "it looks like UTF-16 text without a byte order mark; save it with one, or as UTF-8";
    }
    return "CSV text holds none, so this is not a CSV file";
}

} // namespace

std::string_view InputText::decode(std::string_view bytes)
{
    switch (m_encoding) {
    case Encoding::Unknown:
        return start(bytes, false);
    case Encoding::Bytes:
        check(bytes, 1);
        m_offset += bytes.size();
        return bytes;
    default:
        return decodeUtf16(bytes);
    }
}

std::string_view InputText::finish()
{
    std::string_view text = m_encoding == Encoding::Unknown ? start({}, true) : std::string_view();
    if (!m_carry.empty()) {
        throw InputError("it ends inside a UTF-16 character: its byte count after the byte order "
                         "mark is odd");
    }
    if (m_highSurrogate != 0) {
        if (text.data() != m_text.data()) {
            m_text.clear();
        }
        append(replacement);
        m_highSurrogate = 0;
        text = m_text;
    }
    return text;
}

std::string InputText::encodingName() const
{
    return m_encoding == Encoding::Utf16Little ? "UTF-16, little-endian"
           : m_encoding == Encoding::Utf16Big  ? "UTF-16, big-endian"
                                               : "";
}

std::string_view InputText::start(std::string_view bytes, bool last)
{
    m_first.append(bytes);
    if (m_first.size() < 4 && !last) {
        return {};
    }
    const std::string_view first = m_first;
    if (first.starts_with(std::string_view("\xFF\xFE\0\0", 4)) ||
        first.starts_with(std::string_view("\0\0\xFE\xFF", 4))) {
        throw InputError("it is UTF-32 text, which is not read; save it as UTF-8 or UTF-16");
    }
    std::size_t mark = 0;
    if (first.starts_with(utf8Mark)) {
        m_encoding = Encoding::Bytes;
        mark = utf8Mark.size();
    } else if (first.starts_with("\xFF\xFE") || first.starts_with("\xFE\xFF")) {
        m_encoding = first[0] == '\xFF' ? Encoding::Utf16Little : Encoding::Utf16Big;
        mark = 2;
    } else {
        m_encoding = Encoding::Bytes;
    }
    m_offset = mark;
    m_checkedUntil = mark;
    return decode(first.substr(mark));
}

void InputText::check(std::string_view units, std::size_t unitSize)
{
    if (m_checkedUntil >= checkedBytes) {
        return;
    }
    for (std::size_t at = m_checkedUntil - m_offset; at + unitSize <= units.size();
         at += unitSize) {
        const auto byte = [&](std::size_t i) {
            return static_cast<char32_t>(static_cast<unsigned char>(units[at + i]));
        };
        const char32_t unit = unitSize == 1                         ? byte(0)
                              : m_encoding == Encoding::Utf16Little ? byte(0) | byte(1) << 8
                                                                    : byte(0) << 8 | byte(1);
        if (isControl(unit)) {
            const std::string hex = inspect::hexText(std::string(1, static_cast<char>(unit)));
            throw InputError("not text: its byte " + std::to_string(m_offset + at + 1) + " is 0x" +
                             hex + ", a control character; " + whatItIs(m_first));
        }
        if (m_offset + at + unitSize >= checkedBytes) {
            break;
        }
    }
    m_checkedUntil = m_offset + units.size();
}

std::string_view InputText::decodeUtf16(std::string_view bytes)
{
    std::string joined;
    if (!m_carry.empty()) {
        joined = m_carry;
        joined.append(bytes);
        bytes = joined;
        m_carry.clear();
        // The held-back byte was counted once already.
        --m_offset;
    }
    if (bytes.size() % 2 != 0) {
        m_carry.assign(1, bytes.back());
        bytes.remove_suffix(1);
    }
    check(bytes, 2);
    m_text.clear();
    m_text.reserve(bytes.size());
    const bool little = m_encoding == Encoding::Utf16Little;
    for (std::size_t at = 0; at < bytes.size(); at += 2) {
        const auto low = static_cast<unsigned char>(bytes[at + (little ? 0 : 1)]);
        const auto high = static_cast<unsigned char>(bytes[at + (little ? 1 : 0)]);
        const char32_t unit = static_cast<char32_t>(high) << 8 | low;
        if (m_highSurrogate != 0) {
            const char32_t first = m_highSurrogate;
            m_highSurrogate = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                append(0x10000 + ((first - 0xD800) << 10) + (unit - 0xDC00));
                continue;
            }
            append(replacement);
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            m_highSurrogate = unit;
        } else {
            append(unit >= 0xDC00 && unit <= 0xDFFF ? replacement : unit);
        }
    }
    m_offset += bytes.size() + m_carry.size();
    return m_text;
}

void InputText::append(char32_t c)
{
    inspect::appendUtf8(m_text, c);
}

} // namespace quelm
