#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quelm {

// The input's bytes as text for the CSV reader: a UTF-8 byte order mark dropped, UTF-16 (either
// byte order, after its byte order mark) turned into UTF-8, other bytes passed on as they are;
// input that is not text at all is refused by its first bytes, in a message that shows none of
// them raw.
class InputText
{
public:
    // The text of the next bytes of the input; the view lasts until the next call. Throws
    // quelm::tools::InputError when the input is not text.
    std::string_view decode(std::string_view bytes);
    // The text that the input's last bytes still held back; throws when they end inside a
    // character.
    std::string_view finish();
    // "UTF-16, little-endian", or "" for UTF-8 and the single-byte codes.
    std::string encodingName() const;

private:
    enum class Encoding
    {
        Unknown,
        Bytes,
        Utf16Little,
        Utf16Big
    };

    std::string_view start(std::string_view bytes, bool last);
    std::string_view decodeUtf16(std::string_view bytes);
    void check(std::string_view units, std::size_t unitSize);
    void append(char32_t character);

    Encoding m_encoding = Encoding::Unknown;
    std::string m_first;              // the first bytes, until they tell the encoding
    std::string m_text;               // UTF-16 as UTF-8
    std::string m_carry;              // a byte of UTF-16 held back for the next bytes
    char32_t m_highSurrogate = 0;     // a surrogate held back for its partner
    std::uint64_t m_offset = 0;       // of the next byte, in the input
    std::uint64_t m_checkedUntil = 0; // the first bytes are checked for text
};

} // namespace quelm
