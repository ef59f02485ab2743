#include "namedpipe.h"

#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <array>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace testsupport {

#ifdef _WIN32

// The pipe's server end: two instances waiting for readers without holding up the test, since
// a program may open the path twice (first only to learn which file it is).
struct NamedPipe::Server
{
    struct Instance
    {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        OVERLAPPED waiting = {};
    };
    std::array<Instance, 2> instances;
};

NamedPipe::NamedPipe(const std::filesystem::path &) : m_server(std::make_unique<Server>())
{
    static int made = 0;
    m_path = L"\\\\.\\pipe\\quelm-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++made);
    for (Server::Instance &instance : m_server->instances) {
        // The server writes, so that a reader opening the path as a file connects to it.
        instance.pipe = CreateNamedPipeW(m_path.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 2, 0, 0, 0, nullptr);
        instance.waiting.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (instance.pipe == INVALID_HANDLE_VALUE || instance.waiting.hEvent == nullptr ||
            (!ConnectNamedPipe(instance.pipe, &instance.waiting) &&
             GetLastError() != ERROR_IO_PENDING)) {
            throw std::runtime_error("cannot make a named pipe: error " +
                                     std::to_string(GetLastError()));
        }
    }
}

NamedPipe::~NamedPipe()
{
    for (Server::Instance &instance : m_server->instances) {
        // The wait is over, one way or the other, before its OVERLAPPED goes.
        if (instance.pipe != INVALID_HANDLE_VALUE) {
            CancelIoEx(instance.pipe, &instance.waiting);
            DWORD transferred = 0;
            GetOverlappedResult(instance.pipe, &instance.waiting, &transferred, TRUE);
            CloseHandle(instance.pipe);
        }
        if (instance.waiting.hEvent != nullptr) {
            CloseHandle(instance.waiting.hEvent);
        }
    }
}

#else

NamedPipe::NamedPipe(const std::filesystem::path &folder) : m_path(folder / "pipe.qdf")
{
    if (::mkfifo(m_path.c_str(), 0600) != 0) {
        throw std::runtime_error("cannot make a named pipe at " + m_path.string());
    }
}

NamedPipe::~NamedPipe()
{
    ::unlink(m_path.c_str());
}

#endif

} // namespace testsupport
