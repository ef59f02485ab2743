#pragma once

// Opens a file for quelm-inspect without ever waiting, refuses anything that is not a regular
// file, and hands the open file to DataFile::open, so that the file checked is the file read.

#include <quelm/forwardingfilesystemcalls.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>

namespace quelm::inspect {

// A file open for reading, or why not: a system error, or what it is instead of a regular file.
struct OpenedFile
{
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    int error = 0;
    std::string notRegular;
};

inline const char *kindText(FileSystemCalls::FileKind kind)
{
    switch (kind) {
    case FileSystemCalls::FileKind::Folder:
        return "a folder";
    case FileSystemCalls::FileKind::NamedPipe:
        return "a named pipe";
    case FileSystemCalls::FileKind::Device:
        return "a device";
    case FileSystemCalls::FileKind::Socket:
        return "a socket";
    default:
        return "an unknown kind of file";
    }
}

inline OpenedFile openForReading(const std::filesystem::path &path)
{
    FileSystemCalls &calls = systemFileCalls();
    OpenedFile opened;
    FileSystemCalls::FileKind kind = FileSystemCalls::FileKind::Regular;
    opened.error = calls.openToRead(path, opened.handle, kind);
    if (kind != FileSystemCalls::FileKind::Regular) {
        if (opened.error == 0) {
            calls.close(std::exchange(opened.handle, FileSystemCalls::invalidHandle));
        }
        return {FileSystemCalls::invalidHandle, 0, kindText(kind)};
    }
    return opened;
}

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
