#pragma once

#include <filesystem>
#include <string>

namespace quelm::bench {

// A new, empty folder under `base` for one measurement, removed with all it holds when it goes.
// Both steps end with the file system's journal flushed, so that neither is paid for by the
// next timed step.
class ScratchFolder
{
public:
    explicit ScratchFolder(const std::filesystem::path &base);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Flushes everything pending on the file system that holds `folder`.
void settle(const std::filesystem::path &folder);

// The kind of file system that holds `folder`, e.g. "ext4" or "tmpfs".
std::string fileSystemName(const std::filesystem::path &folder);

} // namespace quelm::bench
