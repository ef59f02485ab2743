#pragma once

#include <filesystem>

namespace quelm {

// The writable folder where Quelm's runs go: $XDG_DATA_HOME/Quelm on Linux (~/.local/share/Quelm
// when it is unset, empty or relative), %LOCALAPPDATA%\Quelm on Windows. Made of the system's
// own bytes or UTF-16 units, so that it names the folder the user set even where that name is
// not valid UTF-8.
std::filesystem::path defaultDataRoot();

} // namespace quelm
