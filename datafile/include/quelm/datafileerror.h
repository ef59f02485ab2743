#pragma once

#include <quelm/datafile_export.h>

#include <stdexcept>
#include <string>

namespace quelm {

// The one failure the data file component throws: a sentence a user can read, saying what
// failed, on which file and why, plus the errno behind it (0 when the system gave none; a
// Windows error without an errno counterpart as its code negated, see fromWindowsError).
class QUELM_DATAFILE_EXPORT DataFileError : public std::runtime_error
{
public:
    explicit DataFileError(const std::string &message, int errorNumber = 0)
        : std::runtime_error(message), m_errorNumber(errorNumber)
    {
    }

    // The errno behind the failure, 0 when none.
    int errorNumber() const noexcept { return m_errorNumber; }

private:
    int m_errorNumber;
};

} // namespace quelm
