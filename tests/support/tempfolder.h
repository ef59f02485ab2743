#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// What the tests and the benchmarks share: a temporary folder of its own, and whole files read
// and written as bytes.
namespace testsupport {

// A new empty folder under `base` (the system's temporary folder unless given), removed with
// all it holds. A settled one (for a benchmark, on Linux) flushes the file system's journal
// once it is made and once it is removed, so that neither is paid for by the next timed step.
class TempFolder
{
public:
    TempFolder();
    explicit TempFolder(const std::filesystem::path &base, bool settled = false);
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
    bool m_settled = false;
};

std::string contents(const std::filesystem::path &path);
void write(const std::filesystem::path &path, std::string_view bytes);
// The lines of `text`, without their line ends.
std::vector<std::string> lines(const std::string &text);

#ifndef _WIN32
// The kind of file system that holds `folder`, e.g. "ext4" or "tmpfs".
std::string fileSystemName(const std::filesystem::path &folder);
#endif

} // namespace testsupport
