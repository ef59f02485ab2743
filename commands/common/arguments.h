#pragma once

#include <filesystem>
#include <string>

namespace quelm::tools {

// One command-line argument: as text for options and messages (UTF-8 on Windows, the system's
// own bytes elsewhere), and as the file name it stands for, exactly as the system gave it.
struct Argument
{
    std::string text;
    std::filesystem::path path;
};

} // namespace quelm::tools
