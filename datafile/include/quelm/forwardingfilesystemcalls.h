#pragma once

#include <quelm/filesystemcalls.h>

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
    int removeDirectory(Handle &held, const std::filesystem::path &path) override
    {
        return m_target.removeDirectory(held, path);
    }
    int openDirectory(const std::filesystem::path &path, Handle &directory) override
    {
        return m_target.openDirectory(path, directory);
    }
    int holdDirectory(const std::filesystem::path &path, bool wait, Handle &directory) override
    {
        return m_target.holdDirectory(path, wait, directory);
    }
    int createUnnamed(Handle directory, Handle &file) override
    {
        return m_target.createUnnamed(directory, file);
    }
    int createNew(Handle directory, const std::filesystem::path &name, Handle &file) override
    {
        return m_target.createNew(directory, name, file);
    }
    int openExisting(const std::filesystem::path &path, bool writable, Handle &file) override
    {
        return m_target.openExisting(path, writable, file);
    }
    int openToRead(const std::filesystem::path &path, Handle &file, FileKind &kind) override
    {
        return m_target.openToRead(path, file, kind);
    }
    int sameFile(const std::filesystem::path &first, const std::filesystem::path &second,
                 bool &same) override
    {
        return m_target.sameFile(first, second, same);
    }
    int openInDirectory(Handle directory, const std::filesystem::path &name, Handle &file) override
    {
        return m_target.openInDirectory(directory, name, file);
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
    int linkUnnamed(Handle file, Handle directory, const std::filesystem::path &name) override
    {
        return m_target.linkUnnamed(file, directory, name);
    }
    int renameNoReplace(Handle &file, Handle directory, const std::filesystem::path &from,
                        const std::filesystem::path &to) override
    {
        return m_target.renameNoReplace(file, directory, from, to);
    }
    int removeFile(Handle directory, const std::filesystem::path &name) override
    {
        return m_target.removeFile(directory, name);
    }
    int syncDirectory(Handle directory) override { return m_target.syncDirectory(directory); }
    int close(Handle handle) override { return m_target.close(handle); }
    int freeSpace(const std::filesystem::path &path, std::optional<std::uint64_t> &bytes) override
    {
        return m_target.freeSpace(path, bytes);
    }
    int lockFile(Handle file, bool wait) override { return m_target.lockFile(file, wait); }
    int pathKind(const std::filesystem::path &path, bool followLinks, PathKind &kind) override
    {
        return m_target.pathKind(path, followLinks, kind);
    }
    int readLink(const std::filesystem::path &path, std::filesystem::path &target) override
    {
        return m_target.readLink(path, target);
    }
    int listDirectory(const std::filesystem::path &path,
                      std::vector<std::filesystem::path> &names) override
    {
        return m_target.listDirectory(path, names);
    }
    Handle standardHandle(StandardStream stream) override
    {
        return m_target.standardHandle(stream);
    }
    int readSome(Handle file, void *data, std::size_t size, std::size_t &got) override
    {
        return m_target.readSome(file, data, size, got);
    }
    int writeAll(Handle file, const void *data, std::size_t size) override
    {
        return m_target.writeAll(file, data, size);
    }
    int openForWriting(const std::filesystem::path &path, bool &created, Handle &file) override
    {
        return m_target.openForWriting(path, created, file);
    }
    std::int64_t currentTime() override { return m_target.currentTime(); }
    int localTime(std::time_t time, std::tm &local) override
    {
        return m_target.localTime(time, local);
    }

protected:
    FileSystemCalls &target() { return m_target; }

private:
    FileSystemCalls &m_target;
};

} // namespace quelm
