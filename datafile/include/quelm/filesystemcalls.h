#pragma once

#include <quelm/datafile_export.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

namespace quelm {

// A Windows error with no errno counterpart travels as its code negated, so that it is never
// taken for an errno value and keeps its own message (reasonText).
constexpr int fromWindowsError(std::uint32_t code)
{
    return -static_cast<int>(code);
}
constexpr bool isWindowsError(int error)
{
    return error < 0;
}
constexpr std::uint32_t windowsErrorCode(int error)
{
    return static_cast<std::uint32_t>(-error);
}

// The few system calls the data file code and its commands make (files, folders, locks, the
// standard streams and the clock), behind one interface so that tests can make any of them fail.
// Calls that make, name or remove a data file take the handle of its folder and a name in it, so
// that a folder swapped for another under the same path changes nothing; on Windows, where the held
// folder cannot be renamed, they go by the path it was opened by. Every call returns 0 on success
// or an errno value; on Windows, errors are mapped to the errno that says the same, and the others
// kept as fromWindowsError(code). platform_posix.cpp and platform_windows.cpp implement it.
class QUELM_DATAFILE_EXPORT FileSystemCalls
{
public:
    // An open file or folder: a file descriptor, or a Windows HANDLE.
    using Handle = std::intptr_t;
    static constexpr Handle invalidHandle = -1;

    virtual ~FileSystemCalls() = default;

    // Makes one folder; EEXIST when anything already has that name.
    virtual int makeDirectory(const std::filesystem::path &path) = 0;
    // Removes the empty folder at `path`. With `held` (from holdDirectory), only the folder
    // open as `held`: ENOENT when that name now leads elsewhere; `held` stays the caller's to
    // close. Windows removes a folder held to be cleared through `held` (it goes when `held`
    // closes); one held by its run it can remove only after letting go of `held`, which it sets
    // to invalidHandle, holding the folder again should it stay.
    virtual int removeDirectory(Handle &held, const std::filesystem::path &path) = 0;
    // Opens a folder so that its entries can be flushed; may give invalidHandle where the
    // system has no such thing.
    virtual int openDirectory(const std::filesystem::path &path, Handle &directory) = 0;
    // Opens a run folder, never through a symbolic link, and holds it until the handle closes:
    // whoever asks to hold it meanwhile gets EWOULDBLOCK. With `wait`, the run that makes its
    // files there holds it, waiting some seconds for another holder; without, a store holds it
    // to clear it. POSIX holds with a lock on the folder. On Windows the handle does not share
    // the right to delete, so that nobody can rename or remove the folder while it is held; the
    // handle to clear it has that right. ENOENT when the folder went before it was held.
    virtual int holdDirectory(const std::filesystem::path &path, bool wait, Handle &directory) = 0;
    // Creates a nameless file inside `directory` for reading and writing (O_TMPFILE);
    // EOPNOTSUPP or EISDIR where the file system cannot.
    virtual int createUnnamed(Handle directory, Handle &file) = 0;
    // Creates a new temporary file `name` in `directory` for reading and writing, to be given
    // its final name by renameNoReplace; EEXIST when the name is taken. On Windows it is hidden
    // and, where the file system can, goes when closed (the process killed included) until it
    // is renamed.
    virtual int createNew(Handle directory, const std::filesystem::path &name, Handle &file) = 0;
    // Opens an existing file.
    virtual int openExisting(const std::filesystem::path &path, bool writable, Handle &file) = 0;

    // What a file is.
    enum class FileKind
    {
        Regular,
        Folder,
        NamedPipe,
        Device,
        Socket,
        Other
    };
    // Opens the existing file at `path` to read it without ever waiting (a named pipe without a
    // writer included) and says in `kind` what it opened; a file of any kind is opened, for the
    // caller to look at and close. When what stands there is why it cannot be opened (a socket;
    // on Windows, a folder), the error comes with `kind` saying what it is; after any other
    // failure `kind` is Regular.
    virtual int openToRead(const std::filesystem::path &path, Handle &file, FileKind &kind) = 0;
    // Whether `first` and `second` name the same file, links followed; false when either names
    // nothing.
    virtual int sameFile(const std::filesystem::path &first, const std::filesystem::path &second,
                         bool &same) = 0;
    // Opens the existing file `name` in `directory` for reading and writing; ELOOP when a
    // symbolic link stands there.
    virtual int openInDirectory(Handle directory, const std::filesystem::path &name,
                                Handle &file) = 0;
    // Sets the file's size to `size` with all of its space allocated on disk.
    virtual int reserve(Handle file, std::uint64_t size) = 0;
    // Writes all `size` bytes at `offset`.
    virtual int writeAt(Handle file, std::uint64_t offset, const void *data, std::size_t size) = 0;
    // Reads all `size` bytes at `offset`; EIO when the file ends before.
    virtual int readAt(Handle file, std::uint64_t offset, void *data, std::size_t size) = 0;
    virtual int fileSize(Handle file, std::uint64_t &size) = 0;
    // Flushes the file's data and size to the disk.
    virtual int syncData(Handle file) = 0;
    // Gives a nameless file the name `name` in `directory`; EEXIST when taken, never replacing.
    virtual int linkUnnamed(Handle file, Handle directory, const std::filesystem::path &name) = 0;
    // Renames `from` in `directory`, made by createNew and open as `file`, to `to` there;
    // EEXIST when `to` is taken, never replacing. Windows renames through the handle, POSIX by
    // the names. Windows may then set `file` to a new handle on the renamed file, one that lets
    // other programs open it without sharing the right to delete it; the caller closes the old
    // one.
    virtual int renameNoReplace(Handle &file, Handle directory, const std::filesystem::path &from,
                                const std::filesystem::path &to) = 0;
    // Removes the file `name` from `directory`.
    virtual int removeFile(Handle directory, const std::filesystem::path &name) = 0;
    // Flushes a folder's entries, so that names made in it survive a power cut.
    virtual int syncDirectory(Handle directory) = 0;
    virtual int close(Handle handle) = 0;
    // The bytes this process may still use on the file system holding `path`; nothing where the
    // file system does not tell (it reports no size at all, as ramfs does).
    virtual int freeSpace(const std::filesystem::path &path,
                          std::optional<std::uint64_t> &bytes) = 0;

    // Takes the writers' lock on a whole open file, an advisory lock that every writer of a data
    // file takes so that header updates never cross. Waits while another handle holds it, or
    // without `wait` gives EWOULDBLOCK. It goes with the handle: closing it lets go.
    virtual int lockFile(Handle file, bool wait) = 0;

    // What stands at a path: nothing, a folder, a symbolic link (never one when following
    // links) or anything else.
    enum class PathKind
    {
        None,
        Folder,
        Link,
        Other
    };
    // What stands at `path`, with `followLinks` what a symbolic link there leads to; None (and
    // 0) when nothing does, ELOOP when the links loop.
    virtual int pathKind(const std::filesystem::path &path, bool followLinks, PathKind &kind) = 0;
    // The target that the symbolic link at `path` names, as it is written in the link.
    virtual int readLink(const std::filesystem::path &path, std::filesystem::path &target) = 0;
    // The names in the folder at `path`, all of them or an error.
    virtual int listDirectory(const std::filesystem::path &path,
                              std::vector<std::filesystem::path> &names) = 0;

    enum class StandardStream
    {
        Input,
        Output
    };
    // The process's standard input or output, as raw bytes; the process owns it: never close it.
    virtual Handle standardHandle(StandardStream stream) = 0;
    // Reads at most `size` bytes where the file (or pipe, or terminal) stands, into `data`;
    // `got` is 0 only at its end.
    virtual int readSome(Handle file, void *data, std::size_t size, std::size_t &got) = 0;
    // Writes all `size` bytes where the file (or pipe, or terminal) stands; EPIPE when the reader
    // of a pipe has gone.
    virtual int writeAll(Handle file, const void *data, std::size_t size) = 0;
    // Opens `path` for a command's output, to be written from its start with writeAll: a new
    // file (`created` true), or what is there cut to nothing (a device or pipe as it is).
    virtual int openForWriting(const std::filesystem::path &path, bool &created, Handle &file) = 0;

    // The time now, in milliseconds since 1970-01-01 00:00:00 UTC.
    virtual std::int64_t currentTime() = 0;
    // The date and time on the system's local clock at `time` (seconds since the epoch).
    virtual int localTime(std::time_t time, std::tm &local) = 0;
};

// The running system's implementation.
QUELM_DATAFILE_EXPORT FileSystemCalls &systemFileCalls();

// Owns one open handle and closes it when it goes; move-only.
class FileHandle
{
public:
    FileHandle() = default;
    FileHandle(FileSystemCalls &calls, FileSystemCalls::Handle handle)
        : m_calls(&calls), m_handle(handle)
    {
    }
    FileHandle(FileHandle &&other) noexcept
        : m_calls(other.m_calls),
          m_handle(std::exchange(other.m_handle, FileSystemCalls::invalidHandle))
    {
    }
    FileHandle &operator=(FileHandle &&other) noexcept
    {
        if (this != &other) {
            close();
            m_calls = other.m_calls;
            m_handle = std::exchange(other.m_handle, FileSystemCalls::invalidHandle);
        }
        return *this;
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    ~FileHandle() { close(); }

    FileSystemCalls::Handle get() const noexcept { return m_handle; }
    // Gives the handle up without closing it.
    FileSystemCalls::Handle release() noexcept
    {
        return std::exchange(m_handle, FileSystemCalls::invalidHandle);
    }
    bool isOpen() const noexcept { return m_handle != FileSystemCalls::invalidHandle; }
    // Closes now and returns what the system said; 0 when nothing was open.
    int close() noexcept
    {
        if (!isOpen()) {
            return 0;
        }
        return m_calls->close(std::exchange(m_handle, FileSystemCalls::invalidHandle));
    }

private:
    FileSystemCalls *m_calls = nullptr;
    FileSystemCalls::Handle m_handle = FileSystemCalls::invalidHandle;
};

} // namespace quelm
