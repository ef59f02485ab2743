#pragma once

// Opens a file for quelm-inspect without ever waiting, refuses anything that is not a regular
// file, and hands the open file to DataFile::open, so that the file checked is the file read.

#include <quelm/forwardingfilesystemcalls.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quelm::inspect {

// A file open for reading, or why not: a system error, or what it is instead of a regular file.
struct OpenedFile
{
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    int error = 0;
    std::string notRegular;
};

#ifdef _WIN32

inline OpenedFile openForReading(const std::filesystem::path &path)
{
    OpenedFile opened;
    FileSystemCalls &system = systemFileCalls();
    // The system refuses a folder with "access denied", which would mislead.
    if (auto kind = FileSystemCalls::PathKind::None;
        system.pathKind(path, true, kind) == 0 && kind == FileSystemCalls::PathKind::Folder) {
        opened.notRegular = "a folder";
        return opened;
    }
    if ((opened.error = system.openExisting(path, false, opened.handle)) != 0) {
        return opened;
    }
    switch (GetFileType(reinterpret_cast<HANDLE>(opened.handle))) {
    case FILE_TYPE_DISK:
        return opened;
    case FILE_TYPE_PIPE:
        opened.notRegular = "a named pipe";
        break;
    case FILE_TYPE_CHAR:
        opened.notRegular = "a device";
        break;
    default:
        opened.notRegular = "an unknown kind of file";
        break;
    }
    system.close(std::exchange(opened.handle, FileSystemCalls::invalidHandle));
    return opened;
}

#else

inline const char *kindOf(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a named pipe";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "an unknown kind of file";
}

inline OpenedFile openForReading(const std::filesystem::path &path)
{
    OpenedFile opened;
    // Without O_NONBLOCK, opening a named pipe waits for a writer, for ever when none comes.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd == -1 && errno == EINTR);
    struct stat status = {};
    if (fd == -1) {
        opened.error = errno;
        // A socket cannot be opened at all; saying what it is helps more than "no such device".
        if (opened.error == ENXIO && ::stat(path.c_str(), &status) == 0 &&
            !S_ISREG(status.st_mode)) {
            opened.notRegular = kindOf(status.st_mode);
        }
        return opened;
    }
    if (::fstat(fd, &status) != 0) {
        opened.error = errno;
    } else if (!S_ISREG(status.st_mode)) {
        opened.notRegular = kindOf(status.st_mode);
    } else {
        opened.handle = fd;
        return opened;
    }
    ::close(fd);
    return opened;
}

#endif

// Gives DataFile::open a file that is already open: openExisting hands it over, once, and every
// other call goes to the system's own. Must outlive the DataFile opened through it.
class HandedOverFile final : public ForwardingFileSystemCalls
{
public:
    explicit HandedOverFile(Handle file) : m_file(file) {}
    ~HandedOverFile() override
    {
        if (m_file != invalidHandle) {
            target().close(m_file);
        }
    }
    HandedOverFile(const HandedOverFile &) = delete;
    HandedOverFile &operator=(const HandedOverFile &) = delete;

    int openExisting(const std::filesystem::path &, bool writable, Handle &file) override
    {
        if (writable || m_file == invalidHandle) {
            return EBADF;
        }
        file = std::exchange(m_file, invalidHandle);
        return 0;
    }

private:
    Handle m_file;
};

} // namespace quelm::inspect
