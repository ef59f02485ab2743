#pragma once

#include <quelm/datafile_export.h>

#include <cstdint>

namespace quelm {

// The two operations through which a program has numbered data files made and closed.
// Arguments are the caller's own variables, passed by reference: a value written back
// is what the caller then uses. Failures are thrown as DataFileError.
class QUELM_DATAFILE_EXPORT DataFileComponent
{
public:
    virtual ~DataFileComponent() = default;

    // Makes file `fileNumber`, ready to take `barCount` bars, before returning.
    virtual std::int32_t CreateDataFile(std::int32_t &fileNumber, std::int32_t &barCount) = 0;
    // Releases file `fileNumber`; numbers never created are accepted and ignored.
    virtual std::int32_t CloseDataFile(std::int32_t &fileNumber) = 0;
};

} // namespace quelm
