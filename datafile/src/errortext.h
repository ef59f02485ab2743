#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quelm {

// The reason behind an errno value in plain words, lower case, without a full stop. A Windows
// error kept as such (fromWindowsError) gives the system's own message and its code.
std::string reasonText(int errorNumber);
// A byte count for people: "512 bytes", "80.0 MiB".
std::string sizeText(std::uint64_t bytes);
// A path as UTF-8 text, for messages.
std::string pathText(const std::filesystem::path &path);

} // namespace quelm
