#pragma once

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quelm::tools {

// One command-line argument: as text for options and messages (UTF-8 on Windows, the system's
// own bytes elsewhere), and as the file name it stands for, exactly as the system gave it.
struct Argument
{
    std::string text;
    std::filesystem::path path;
};

// A count given on the command line, digits alone; nothing when the text is anything else.
inline std::optional<std::uint64_t> wholeNumber(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace quelm::tools
