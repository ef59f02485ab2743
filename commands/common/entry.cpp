#include "entry.h"

#ifdef _WIN32
#include <cwchar>
#include <windows.h>
#endif

namespace {

// The arguments after the program's name. On Windows they come as UTF-16: the path keeps them
// exactly, and the text is UTF-8, a lone surrogate (no character, yet allowed in a file name)
// becoming U+FFFD there instead of ending the program.
template <typename Char> std::vector<quelm::tools::Argument> argumentsOf(int argc, Char **argv)
{
    std::vector<quelm::tools::Argument> arguments;
    for (int i = 1; i < argc; ++i) {
#ifdef _WIN32
        const int units = static_cast<int>(std::wcslen(argv[i]));
        std::string text(static_cast<std::size_t>(WideCharToMultiByte(
                             CP_UTF8, 0, argv[i], units, nullptr, 0, nullptr, nullptr)),
                         '\0');
        WideCharToMultiByte(CP_UTF8, 0, argv[i], units, text.data(), static_cast<int>(text.size()),
                            nullptr, nullptr);
        arguments.push_back({std::move(text), argv[i]});
#else
        arguments.push_back({argv[i], argv[i]});
#endif
    }
    return arguments;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t **argv)
#else
int main(int argc, char **argv)
#endif
{
    return quelm::tools::run(argumentsOf(argc, argv));
}
