#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quelm::tools {

// One command-line argument: as text for options and messages (UTF-8 on Windows, the system's
// own bytes elsewhere), and as the file name it stands for, exactly as the system gave it.
struct Argument
{
    std::string text;
    std::filesystem::path path;
};

// The arguments after the program's name. On Windows the program takes them as UTF-16
// (wmain), so that a file name outside the system's code page arrives whole.
template <typename Char> std::vector<Argument> argumentsOf(int argc, Char **argv)
{
    std::vector<Argument> arguments;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
#ifdef _WIN32
        const std::u8string utf8 = path.u8string();
        arguments.push_back({std::string(utf8.begin(), utf8.end()), std::move(path)});
#else
        arguments.push_back({path.native(), std::move(path)});
#endif
    }
    return arguments;
}

} // namespace quelm::tools
