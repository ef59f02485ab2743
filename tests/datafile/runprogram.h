#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Runs a program with arguments and returns its exit code (-1 when it did not end normally
// within half a minute) and all it wrote to standard output and error.
struct ProgramResult
{
    int exitCode = -1;
    std::string output;
};

ProgramResult runProgram(const std::filesystem::path &program,
                         const std::vector<std::string> &arguments);
