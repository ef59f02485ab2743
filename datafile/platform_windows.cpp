#include "filesystemcalls.h"

#include <algorithm>
#include <cerrno>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace quelm {

namespace {

HANDLE toHandle(FileSystemCalls::Handle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// The errno that says the same as a Windows error, so that messages read alike everywhere.
int errnoFrom(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return EOPNOTSUPP;
    default:
        return EIO;
    }
}

int lastError()
{
    return errnoFrom(GetLastError());
}

OVERLAPPED at(std::uint64_t offset)
{
    OVERLAPPED overlapped = {};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

class WindowsFileSystemCalls final : public FileSystemCalls
{
public:
    int makeDirectory(const std::filesystem::path &path) override
    {
        return CreateDirectoryW(path.c_str(), nullptr) ? 0 : lastError();
    }

    int removeDirectory(const std::filesystem::path &path) override
    {
        return RemoveDirectoryW(path.c_str()) ? 0 : lastError();
    }

    int openDirectory(const std::filesystem::path &, Handle &directory) override
    {
        // NTFS journals its folder entries; there is no folder handle to flush.
        directory = invalidHandle;
        return 0;
    }

    int createUnnamed(const std::filesystem::path &, Handle &) override { return EOPNOTSUPP; }

    int createNew(const std::filesystem::path &path, Handle &file) override
    {
        return openPath(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, file);
    }

    int openExisting(const std::filesystem::path &path, bool writable, Handle &file) override
    {
        const DWORD access = writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
        return openPath(path, access, OPEN_EXISTING, file);
    }

    int reserve(Handle file, std::uint64_t size) override
    {
        if (size > static_cast<std::uint64_t>(INT64_MAX)) {
            return EFBIG;
        }
        FILE_ALLOCATION_INFO allocation = {};
        allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFileInformationByHandle(toHandle(file), FileAllocationInfo, &allocation,
                                        sizeof allocation)) {
            return lastError();
        }
        FILE_END_OF_FILE_INFO end = {};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFileInformationByHandle(toHandle(file), FileEndOfFileInfo, &end, sizeof end)) {
            return lastError();
        }
        return 0;
    }

    int writeAt(Handle file, std::uint64_t offset, const void *data, std::size_t size) override
    {
        const auto *bytes = static_cast<const char *>(data);
        while (size > 0) {
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            OVERLAPPED overlapped = at(offset);
            DWORD written = 0;
            if (!WriteFile(toHandle(file), bytes, chunk, &written, &overlapped)) {
                return lastError();
            }
            bytes += written;
            size -= written;
            offset += written;
        }
        return 0;
    }

    int readAt(Handle file, std::uint64_t offset, void *data, std::size_t size) override
    {
        auto *bytes = static_cast<char *>(data);
        while (size > 0) {
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            OVERLAPPED overlapped = at(offset);
            DWORD got = 0;
            if (!ReadFile(toHandle(file), bytes, chunk, &got, &overlapped)) {
                return lastError();
            }
            if (got == 0) {
                return EIO;
            }
            bytes += got;
            size -= got;
            offset += got;
        }
        return 0;
    }

    int fileSize(Handle file, std::uint64_t &size) override
    {
        LARGE_INTEGER value = {};
        if (!GetFileSizeEx(toHandle(file), &value)) {
            return lastError();
        }
        size = static_cast<std::uint64_t>(value.QuadPart);
        return 0;
    }

    int syncData(Handle file) override
    {
        return FlushFileBuffers(toHandle(file)) ? 0 : lastError();
    }

    int linkUnnamed(Handle, const std::filesystem::path &) override { return EOPNOTSUPP; }

    int renameNoReplace(const std::filesystem::path &from, const std::filesystem::path &to) override
    {
        // Without MOVEFILE_REPLACE_EXISTING an existing `to` makes the call fail.
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? 0 : lastError();
    }

    int removeFile(const std::filesystem::path &path) override
    {
        return DeleteFileW(path.c_str()) ? 0 : lastError();
    }

    int syncDirectory(Handle directory) override
    {
        return directory == invalidHandle ? 0 : syncData(directory);
    }

    int close(Handle handle) override { return CloseHandle(toHandle(handle)) ? 0 : lastError(); }

    int freeSpace(const std::filesystem::path &path, std::uint64_t &bytes) override
    {
        ULARGE_INTEGER available = {};
        if (!GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
            return lastError();
        }
        bytes = available.QuadPart;
        return 0;
    }

private:
    static int openPath(const std::filesystem::path &path, DWORD access, DWORD disposition,
                        Handle &handle)
    {
        // FILE_SHARE_DELETE lets the file be renamed to its final name while we hold it open.
        const HANDLE opened = CreateFileW(path.c_str(), access,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (opened == INVALID_HANDLE_VALUE) {
            return lastError();
        }
        handle = reinterpret_cast<Handle>(opened);
        return 0;
    }
};

} // namespace

FileSystemCalls &systemFileCalls()
{
    static WindowsFileSystemCalls calls;
    return calls;
}

} // namespace quelm
