#pragma once

#include "arguments.h"

#include <vector>

// The one entry point of the commands: main (wmain on Windows, which takes the arguments as
// UTF-16 so that any file name arrives whole) hands the arguments after the program's name to
// the command's own run(), and returns its exit status.
namespace quelm::tools {

int run(std::vector<Argument> arguments);

} // namespace quelm::tools
