#pragma once

#include <quelm/datafile_export.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace quelm {

// How the library words reasons, sizes and paths in its messages; programs that report their
// own failures beside the library's (the commands) word them the same way.

// The reason behind an errno value in plain words, lower case, without a full stop. A Windows
// error kept as such (fromWindowsError) gives the system's own message and its code.
QUELM_DATAFILE_EXPORT std::string reasonText(int errorNumber);
// A byte count for people: "512 bytes", "80.0 MiB".
QUELM_DATAFILE_EXPORT std::string sizeText(std::uint64_t bytes);
// A path as UTF-8 text, for messages.
QUELM_DATAFILE_EXPORT std::string pathText(const std::filesystem::path &path);

} // namespace quelm
