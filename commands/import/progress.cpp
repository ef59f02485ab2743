#include "progress.h"

#include <algorithm>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace quelm {

namespace {

constexpr auto firstDrawAfter = std::chrono::milliseconds(500);
constexpr auto redrawEvery = std::chrono::milliseconds(100);
constexpr int barWidth = 30;
// Lines are padded to this width, so that a shorter one covers a longer one before it, on
// terminals with and without escape sequences alike.
constexpr std::size_t lineWidth = 60;

bool standardErrorIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

} // namespace

Progress::Progress()
    : m_terminal(standardErrorIsTerminal()), m_start(Clock::now()), m_lastDraw(m_start)
{
}

Progress::~Progress()
{
    clear();
}

void Progress::show(std::string_view stage, std::uint64_t done, std::uint64_t total,
                    std::string_view units)
{
    if (!m_terminal) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now - m_start < firstDrawAfter || (m_drawn && now - m_lastDraw < redrawEvery)) {
        return;
    }
    m_lastDraw = now;
    m_drawn = true;
    std::string line(1, '\r');
    line.append(stage);
    line += ' ';
    if (total > 0) {
        const double share =
            static_cast<double>(std::min(done, total)) / static_cast<double>(total);
        const auto filled = static_cast<int>(share * barWidth);
        line += '[';
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(barWidth - filled), '.');
        line += "] ";
        line += std::to_string(static_cast<int>(share * 100));
        line += '%';
    } else {
        line += std::to_string(done);
        line += ' ';
        line.append(units);
    }
    line.resize(std::max(line.size(), lineWidth + 1), ' ');
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void Progress::clear()
{
    if (m_drawn) {
        std::fputs(("\r" + std::string(lineWidth, ' ') + "\r").c_str(), stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
}

} // namespace quelm
