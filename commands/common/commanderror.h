#pragma once

#include <stdexcept>
#include <string>

// How the commands signal a failure they report to the user: by throwing one of these, with a
// sentence the user can read. A library failure arrives as quelm::DataFileError instead.
namespace quelm::tools {

// The input cannot be taken as it is (exit status 1).
class InputError : public std::runtime_error
{
public:
    explicit InputError(const std::string &message) : std::runtime_error(message) {}
};

// The command line is wrong (exit status 2).
class UsageError : public std::runtime_error
{
public:
    explicit UsageError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace quelm::tools
