#pragma once

#include "arguments.h"
#include "csvlayout.h"

#include <cstdint>
#include <optional>
#include <vector>

// The command line of quelm-import, read into what it says.
namespace quelm::import {

struct Options
{
    bool help = false;
    bool dryRun = false;
    // FILE is made, with room for `capacity` bars or for exactly the bars read.
    bool create = false;
    std::optional<std::uint64_t> capacity;
    tools::Argument file;
    tools::Argument input{"-", "-"};
    csv::Settings csv;
};

// Throws quelm::tools::UsageError when the command line is wrong.
Options readOptions(std::vector<tools::Argument> arguments);

} // namespace quelm::import
