#pragma once

#include <filesystem>
#include <memory>

namespace testsupport {

// A named pipe that nobody writes to, for rows that give one where a data file should be: a
// FIFO in `folder` on POSIX systems, a pipe under \\.\pipe\ on Windows, which exists only while
// its creator holds it. Gone with this object.
class NamedPipe
{
public:
    explicit NamedPipe(const std::filesystem::path &folder);
    ~NamedPipe();
    NamedPipe(const NamedPipe &) = delete;
    NamedPipe &operator=(const NamedPipe &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
#ifdef _WIN32
    struct Server;
    std::unique_ptr<Server> m_server;
#endif
};

} // namespace testsupport
