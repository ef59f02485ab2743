#pragma once

#include <filesystem>

namespace quelm {

// The writable folder where Quelm's runs go: $XDG_DATA_HOME/Quelm on Linux (by default
// ~/.local/share/Quelm), %LOCALAPPDATA%\Quelm on Windows.
std::filesystem::path defaultDataRoot();

} // namespace quelm
