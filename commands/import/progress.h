#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace quelm {

// A progress bar on standard error for work that takes a while: drawn only when standard error
// is a terminal, and only once the work has run for half a second.
class Progress
{
public:
    Progress();
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    // `done` of `total` (0 when the total is not known) `units`, in the stage `stage`.
    void show(std::string_view stage, std::uint64_t done, std::uint64_t total,
              std::string_view units);
    // Takes the bar off the screen, before anything else is written there.
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    bool m_terminal;
    bool m_drawn = false;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
};

} // namespace quelm
