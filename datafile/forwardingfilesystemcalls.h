#pragma once

#include "filesystemcalls.h"

namespace quelm {

// Passes every call on to other system calls (by default the running system's), so that a
// class that changes one or two calls overrides only those.
class ForwardingFileSystemCalls : public FileSystemCalls
{
public:
    explicit ForwardingFileSystemCalls(FileSystemCalls &target = systemFileCalls())
        : m_target(target)
    {
    }

    int makeDirectory(const std::filesystem::path &path) override
    {
        return m_target.makeDirectory(path);
    }
    int removeDirectory(const std::filesystem::path &path) override
    {
        return m_target.removeDirectory(path);
    }
    int openDirectory(const std::filesystem::path &path, Handle &directory) override
    {
        return m_target.openDirectory(path, directory);
    }
    int createUnnamed(const std::filesystem::path &directory, Handle &file) override
    {
        return m_target.createUnnamed(directory, file);
    }
    int createNew(const std::filesystem::path &path, Handle &file) override
    {
        return m_target.createNew(path, file);
    }
    int openExisting(const std::filesystem::path &path, bool writable, Handle &file) override
    {
        return m_target.openExisting(path, writable, file);
    }
    int reserve(Handle file, std::uint64_t size) override { return m_target.reserve(file, size); }
    int writeAt(Handle file, std::uint64_t offset, const void *data, std::size_t size) override
    {
        return m_target.writeAt(file, offset, data, size);
    }
    int readAt(Handle file, std::uint64_t offset, void *data, std::size_t size) override
    {
        return m_target.readAt(file, offset, data, size);
    }
    int fileSize(Handle file, std::uint64_t &size) override
    {
        return m_target.fileSize(file, size);
    }
    int syncData(Handle file) override { return m_target.syncData(file); }
    int linkUnnamed(Handle file, const std::filesystem::path &target) override
    {
        return m_target.linkUnnamed(file, target);
    }
    int renameNoReplace(Handle &file, const std::filesystem::path &from,
                        const std::filesystem::path &to) override
    {
        return m_target.renameNoReplace(file, from, to);
    }
    int removeFile(const std::filesystem::path &path) override { return m_target.removeFile(path); }
    int syncDirectory(Handle directory) override { return m_target.syncDirectory(directory); }
    int close(Handle handle) override { return m_target.close(handle); }
    int freeSpace(const std::filesystem::path &path, std::uint64_t &bytes) override
    {
        return m_target.freeSpace(path, bytes);
    }

protected:
    FileSystemCalls &target() { return m_target; }

private:
    FileSystemCalls &m_target;
};

} // namespace quelm
