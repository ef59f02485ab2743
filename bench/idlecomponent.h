#pragma once

#include <quelm/datafilecomponent.h>

namespace quelm::bench {

// A data file component that makes nothing, for timing the window on its own.
class IdleComponent final : public DataFileComponent
{
public:
    std::int32_t CreateDataFile(std::int32_t &, std::int32_t &) override { return 0; }
    std::int32_t CloseDataFile(std::int32_t &) override { return 0; }
};

} // namespace quelm::bench
