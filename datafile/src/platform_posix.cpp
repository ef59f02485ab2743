#include <quelm/filesystemcalls.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quelm {

namespace {

int toFd(FileSystemCalls::Handle handle)
{
    return static_cast<int>(handle);
}

// Runs a call that fails with -1 and errno, again while a signal interrupts it.
template <typename Call> int retrying(Call call)
{
    for (;;) {
        if (call() != -1) {
            return 0;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

FileSystemCalls::FileKind kindOf(mode_t mode)
{
    using Kind = FileSystemCalls::FileKind;
    return S_ISREG(mode)                    ? Kind::Regular
           : S_ISDIR(mode)                  ? Kind::Folder
           : S_ISFIFO(mode)                 ? Kind::NamedPipe
           : S_ISCHR(mode) || S_ISBLK(mode) ? Kind::Device
           : S_ISSOCK(mode)                 ? Kind::Socket
                                            : Kind::Other;
}

class PosixFileSystemCalls final : public FileSystemCalls
{
public:
    PosixFileSystemCalls()
    {
        // Going past the process's file size limit would otherwise kill the program with
        // SIGXFSZ; ignored, it reaches us as EFBIG. A handler the program set stays.
        struct sigaction current = {};
        if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            std::signal(SIGXFSZ, SIG_IGN);
        }
    }

    int makeDirectory(const std::filesystem::path &path) override
    {
        return retrying([&] { return ::mkdir(path.c_str(), 0777); });
    }

    int removeDirectory(Handle &held, const std::filesystem::path &path) override
    {
        if (held != invalidHandle) {
            struct stat open = {};
            struct stat named = {};
            if (::fstat(toFd(held), &open) != 0 || ::lstat(path.c_str(), &named) != 0) {
                return errno;
            }
            if (open.st_dev != named.st_dev || open.st_ino != named.st_ino) {
                return ENOENT;
            }
        }
        return retrying([&] { return ::rmdir(path.c_str()); });
    }

    int openDirectory(const std::filesystem::path &path, Handle &directory) override
    {
        return openPath(path, O_RDONLY | O_DIRECTORY, 0, directory);
    }

    int holdDirectory(const std::filesystem::path &path, bool wait, Handle &directory) override
    {
        Handle held = invalidHandle;
        if (const int error = openPath(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0, held)) {
            return error;
        }
        // A store clearing leftovers holds a folder for moments only: the wait is bounded, so
        // that one that never lets go cannot hang the run.
        int error = EWOULDBLOCK;
        for (int attempt = 0; error == EWOULDBLOCK && attempt <= (wait ? 1000 : 0); ++attempt) {
            if (attempt > 0) {
                ::usleep(10000);
            }
            error = retrying([&] { return ::flock(toFd(held), LOCK_EX | LOCK_NB); });
        }
        // A folder removed between being made and being held is gone for good: the caller
        // must not make files in it.
        struct stat status = {};
        if (error == 0 && ::fstat(toFd(held), &status) != 0) {
            error = errno;
        } else if (error == 0 && status.st_nlink == 0) {
            error = ENOENT;
        }
        if (error != 0) {
            ::close(toFd(held));
            return error;
        }
        directory = held;
        return 0;
    }

    int createUnnamed(Handle directory, Handle &file) override
    {
#ifdef O_TMPFILE
        return openAt(directory, ".", O_RDWR | O_TMPFILE, 0666, file);
#else
        (void)directory;
        (void)file;
        return EOPNOTSUPP;
#endif
    }

    int createNew(Handle directory, const std::filesystem::path &name, Handle &file) override
    {
        return openAt(directory, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666, file);
    }

    int openExisting(const std::filesystem::path &path, bool writable, Handle &file) override
    {
        return openPath(path, writable ? O_RDWR : O_RDONLY, 0, file);
    }

    int openToRead(const std::filesystem::path &path, Handle &file, FileKind &kind) override
    {
        kind = FileKind::Regular;
        struct stat status = {};
        // Without O_NONBLOCK, opening a named pipe waits for a writer, for ever when none comes.
        Handle opened = invalidHandle;
        if (const int error = openPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0, opened)) {
            // A socket cannot be opened at all; saying what it is helps more than "no such
            // device".
            if (error == ENXIO && ::stat(path.c_str(), &status) == 0) {
                kind = kindOf(status.st_mode);
            }
            return error;
        }
        if (::fstat(toFd(opened), &status) != 0) {
            const int error = errno;
            ::close(toFd(opened));
            return error;
        }
        kind = kindOf(status.st_mode);
        file = opened;
        return 0;
    }

    int sameFile(const std::filesystem::path &first, const std::filesystem::path &second,
                 bool &same) override
    {
        same = false;
        struct stat one = {};
        struct stat other = {};
        if (::stat(first.c_str(), &one) != 0 || ::stat(second.c_str(), &other) != 0) {
            return errno == ENOENT || errno == ENOTDIR ? 0 : errno;
        }
        same = one.st_dev == other.st_dev && one.st_ino == other.st_ino;
        return 0;
    }

    int openInDirectory(Handle directory, const std::filesystem::path &name, Handle &file) override
    {
        return openAt(directory, name, O_RDWR | O_NOFOLLOW | O_NOCTTY, 0, file);
    }

    int reserve(Handle file, std::uint64_t size) override
    {
        if (size > static_cast<std::uint64_t>(INT64_MAX)) {
            return EFBIG;
        }
        for (;;) {
            const int error = ::posix_fallocate(toFd(file), 0, static_cast<off_t>(size));
            if (error != EINTR) {
                return error;
            }
        }
    }

    int writeAt(Handle file, std::uint64_t offset, const void *data, std::size_t size) override
    {
        const auto *bytes = static_cast<const char *>(data);
        while (size > 0) {
            const ssize_t written = ::pwrite(toFd(file), bytes, size, static_cast<off_t>(offset));
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            bytes += written;
            size -= static_cast<std::size_t>(written);
            offset += static_cast<std::uint64_t>(written);
        }
        return 0;
    }

    int readAt(Handle file, std::uint64_t offset, void *data, std::size_t size) override
    {
        auto *bytes = static_cast<char *>(data);
        while (size > 0) {
            const ssize_t got = ::pread(toFd(file), bytes, size, static_cast<off_t>(offset));
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            if (got == 0) {
                return EIO;
            }
            bytes += got;
            size -= static_cast<std::size_t>(got);
            offset += static_cast<std::uint64_t>(got);
        }
        return 0;
    }

    int fileSize(Handle file, std::uint64_t &size) override
    {
        struct stat status = {};
        if (::fstat(toFd(file), &status) != 0) {
            return errno;
        }
        size = static_cast<std::uint64_t>(status.st_size);
        return 0;
    }

    int syncData(Handle file) override
    {
        // Not retried after EIO: the kernel may already have dropped the dirty pages, so a
        // second call could report success for data that never reached the disk.
        return ::fdatasync(toFd(file)) == 0 ? 0 : errno;
    }

    int linkUnnamed(Handle file, Handle directory, const std::filesystem::path &name) override
    {
        const std::string self = "/proc/self/fd/" + std::to_string(toFd(file));
        const int folder = toFd(directory);
        int error = retrying([&] {
            return ::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
        });
#ifdef AT_EMPTY_PATH
        if (error == ENOENT) {
            // No /proc mounted: name the descriptor itself.
            error = retrying(
                [&] { return ::linkat(toFd(file), "", folder, name.c_str(), AT_EMPTY_PATH); });
        }
#endif
        return error;
    }

    int renameNoReplace(Handle &, Handle directory, const std::filesystem::path &from,
                        const std::filesystem::path &to) override
    {
        const int folder = toFd(directory);
#ifdef RENAME_NOREPLACE
        const int error = retrying([&] {
            return ::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE);
        });
        if (error != EINVAL && error != ENOSYS) {
            return error;
        }
#endif
        // A file system without the flag: a hard link never replaces either.
        if (const int linkError =
                retrying([&] { return ::linkat(folder, from.c_str(), folder, to.c_str(), 0); })) {
            return linkError;
        }
        return removeFile(directory, from);
    }

    int removeFile(Handle directory, const std::filesystem::path &name) override
    {
        return retrying([&] { return ::unlinkat(toFd(directory), name.c_str(), 0); });
    }

    int syncDirectory(Handle directory) override
    {
        return ::fsync(toFd(directory)) == 0 ? 0 : errno;
    }

    int close(Handle handle) override
    {
        // Linux releases the descriptor even when close reports an error: never close twice.
        return ::close(toFd(handle)) == 0 ? 0 : errno;
    }

    int freeSpace(const std::filesystem::path &path, std::optional<std::uint64_t> &bytes) override
    {
        struct statvfs status = {};
        if (const int error = retrying([&] { return ::statvfs(path.c_str(), &status); })) {
            return error;
        }
        // A file system of no size at all (ramfs, some FUSE ones) keeps no count of its space.
        if (status.f_blocks == 0) {
            bytes.reset();
        } else {
            bytes = static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
        }
        return 0;
    }

    int lockFile(Handle file, bool wait) override
    {
        return retrying([&] { return ::flock(toFd(file), LOCK_EX | (wait ? 0 : LOCK_NB)); });
    }

    int pathKind(const std::filesystem::path &path, bool followLinks, PathKind &kind) override
    {
        struct stat status = {};
        const int result =
            followLinks ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
        if (result != 0) {
            if (errno != ENOENT && errno != ENOTDIR) {
                return errno;
            }
            kind = PathKind::None;
        } else {
            kind = S_ISDIR(status.st_mode)   ? PathKind::Folder
                   : S_ISLNK(status.st_mode) ? PathKind::Link
                                             : PathKind::Other;
        }
        return 0;
    }

    int readLink(const std::filesystem::path &path, std::filesystem::path &target) override
    {
        std::string text(256, '\0');
        for (;;) {
            const ssize_t length = ::readlink(path.c_str(), text.data(), text.size());
            if (length < 0) {
                return errno;
            }
            if (static_cast<std::size_t>(length) < text.size()) {
                text.resize(static_cast<std::size_t>(length));
                target = text;
                return 0;
            }
            text.resize(text.size() * 2);
        }
    }

    int listDirectory(const std::filesystem::path &path,
                      std::vector<std::filesystem::path> &names) override
    {
        DIR *folder = ::opendir(path.c_str());
        if (!folder) {
            return errno;
        }
        names.clear();
        int error = 0;
        for (;;) {
            errno = 0;
            const dirent *entry = ::readdir(folder);
            if (!entry) {
                error = errno;
                break;
            }
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") {
                names.emplace_back(name);
            }
        }
        ::closedir(folder);
        return error;
    }

    Handle standardHandle(StandardStream stream) override
    {
        return stream == StandardStream::Input ? STDIN_FILENO : STDOUT_FILENO;
    }

    int readSome(Handle file, void *data, std::size_t size, std::size_t &got) override
    {
        ssize_t length = 0;
        const int error = retrying([&] { return length = ::read(toFd(file), data, size); });
        got = error == 0 ? static_cast<std::size_t>(length) : 0;
        return error;
    }

    int writeAll(Handle file, const void *data, std::size_t size) override
    {
        const auto *bytes = static_cast<const char *>(data);
        while (size > 0) {
            ssize_t written = 0;
            if (const int error =
                    retrying([&] { return written = ::write(toFd(file), bytes, size); })) {
                return error;
            }
            bytes += written;
            size -= static_cast<std::size_t>(written);
        }
        return 0;
    }

    int openForWriting(const std::filesystem::path &path, bool &created, Handle &file) override
    {
        created = false;
        const int error = openPath(path, O_WRONLY | O_CREAT | O_EXCL, 0666, file);
        if (error != EEXIST) {
            created = error == 0;
            return error;
        }
        return openPath(path, O_WRONLY | O_TRUNC | O_NOCTTY, 0, file);
    }

    std::int64_t currentTime() override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }

    int localTime(std::time_t time, std::tm &local) override
    {
        errno = 0;
        if (!::localtime_r(&time, &local)) {
            return errno != 0 ? errno : EOVERFLOW;
        }
        return 0;
    }

private:
    static int openPath(const std::filesystem::path &path, int flags, mode_t mode, Handle &handle)
    {
        int fd = -1;
        const int error =
            retrying([&] { return fd = ::open(path.c_str(), flags | O_CLOEXEC, mode); });
        if (error == 0) {
            handle = fd;
        }
        return error;
    }

    static int openAt(Handle directory, const std::filesystem::path &name, int flags, mode_t mode,
                      Handle &handle)
    {
        int fd = -1;
        const int error = retrying(
            [&] { return fd = ::openat(toFd(directory), name.c_str(), flags | O_CLOEXEC, mode); });
        if (error == 0) {
            handle = fd;
        }
        return error;
    }
};

} // namespace

FileSystemCalls &systemFileCalls()
{
    static PosixFileSystemCalls calls;
    return calls;
}

} // namespace quelm
