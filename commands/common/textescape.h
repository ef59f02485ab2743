#pragma once

// How quelm-inspect shows a file name or a message that may hold any bytes: as a JSON string
// that every JSON parser accepts, or as text that always stays on one line.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace quelm::inspect {

// The length of the well-formed UTF-8 character that starts at text[at], or 0 when the byte
// there does not start one (a stray byte, an overlong form, a surrogate, beyond U+10FFFF).
inline std::size_t utf8CharacterLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (text.size() - at < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// Calls show(piece, valid) for each piece of `text` in order: a whole UTF-8 character, or a
// single byte that is not part of one.
template <typename Show> void forEachCharacter(std::string_view text, Show show)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8CharacterLength(text, at);
        show(text.substr(at, length ? length : 1), length != 0);
        at += length ? length : 1;
    }
}

inline bool isUtf8(std::string_view text)
{
    bool valid = true;
    forEachCharacter(text, [&](std::string_view, bool ok) { valid = valid && ok; });
    return valid;
}

// A control character of C0, C1 or DEL: moves the cursor, or worse, on a terminal.
inline bool isControl(std::string_view character)
{
    const auto lead = static_cast<unsigned char>(character[0]);
    return lead < 0x20 || lead == 0x7F ||
           (lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0);
}

inline std::string hexText(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

// Each byte as \xHH.
inline std::string byteEscapes(std::string_view bytes)
{
    std::string escaped;
    for (const char c : bytes) {
        escaped += "\\x" + hexText(std::string_view(&c, 1));
    }
    return escaped;
}

// `text` on one line: control characters and bytes that are not UTF-8 as \xHH per byte.
inline std::string lineText(std::string_view text)
{
    std::string line;
    forEachCharacter(text, [&](std::string_view piece, bool valid) {
        line += valid && !isControl(piece) ? std::string(piece) : byteEscapes(piece);
    });
    return line;
}

// `text` in double quotes for a message, as lineText shows it: a field of any input, even one
// that is not text, prints no raw bytes.
inline std::string quotedText(std::string_view text)
{
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "\"" + std::string.
    std::string quoted = "\"";
    quoted.append(lineText(text)).push_back('"');
    return quoted;
}

// `text` as a quoted JSON string. Control characters and U+2028/U+2029 are \u escapes; a byte
// that is not part of UTF-8 becomes the four characters \xHH of the string's value.
inline std::string jsonString(std::string_view text)
{
    std::string quoted = "\"";
    forEachCharacter(text, [&](std::string_view piece, bool valid) {
        if (!valid) {
            quoted += "\\" + byteEscapes(piece);
        } else if (piece == "\"" || piece == "\\") {
            quoted += "\\" + std::string(piece);
        } else if (piece == "\n") {
            quoted += "\\n";
        } else if (piece == "\t") {
            quoted += "\\t";
        } else if (piece == "\r") {
            quoted += "\\r";
        } else if (isControl(piece)) {
            // U+0000 to U+009F: the code point is the character's last byte.
            quoted += "\\u00" + hexText(piece.substr(piece.size() - 1));
        } else if (piece == "\u2028" || piece == "\u2029") {
            quoted += piece == "\u2028" ? "\\u2028" : "\\u2029";
        } else {
            quoted += piece;
        }
    });
    return quoted + "\"";
}

// Appends code point `c` to `text` as UTF-8 (a surrogate as its own three bytes).
inline void appendUtf8(std::string &text, char32_t c)
{
    const auto put = [&](char32_t bits) { text += static_cast<char>(bits); };
    if (c < 0x80) {
        put(c);
    } else if (c < 0x800) {
        put(0xC0 | c >> 6);
        put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        put(0xE0 | c >> 12);
        put(0x80 | (c >> 6 & 0x3F));
        put(0x80 | (c & 0x3F));
    } else {
        put(0xF0 | c >> 18);
        put(0x80 | (c >> 12 & 0x3F));
        put(0x80 | (c >> 6 & 0x3F));
        put(0x80 | (c & 0x3F));
    }
}

// UTF-16 as UTF-8. A lone surrogate, which a Windows file name may hold, becomes its own three
// bytes (as WTF-8 does): not valid UTF-8, so it is shown escaped, yet the name can be recovered.
template <typename Char> std::string utf8FromUtf16(std::basic_string_view<Char> units)
{
    std::string text;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = static_cast<char16_t>(units[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size()) {
            const char32_t low = static_cast<char16_t>(units[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        appendUtf8(text, c);
    }
    return text;
}

// A name as bytes for showing: the system's own bytes on POSIX, UTF-8 on Windows.
inline std::string nameText(const std::filesystem::path &path)
{
#ifdef _WIN32
    return utf8FromUtf16(std::wstring_view(path.native()));
#else
    return path.native();
#endif
}

} // namespace quelm::inspect
