#include "filelock.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/file.h>
#endif

namespace quelm {

namespace {

#ifdef _WIN32
// Windows locks byte ranges and enforces them on reads and writes. One byte at the very end of
// the offset range, which no data file reaches, makes the lock advisory like flock.
int lockRange(FileSystemCalls::Handle file, LockKind kind, bool wait)
{
    DWORD flags = kind == LockKind::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (!wait) {
        flags |= LOCKFILE_FAIL_IMMEDIATELY;
    }
    OVERLAPPED overlapped = {};
    overlapped.Offset = 0xFFFFFFFE;
    overlapped.OffsetHigh = 0x7FFFFFFF;
    if (LockFileEx(reinterpret_cast<HANDLE>(file), flags, 0, 1, 0, &overlapped)) {
        return 0;
    }
    switch (GetLastError()) {
    case ERROR_LOCK_VIOLATION:
    case ERROR_IO_PENDING:
        return EWOULDBLOCK;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return EOPNOTSUPP;
    default:
        return EIO;
    }
}
#else
int lockRange(FileSystemCalls::Handle file, LockKind kind, bool wait)
{
    const int operation = (kind == LockKind::Exclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
    for (;;) {
        if (::flock(static_cast<int>(file), operation) == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}
#endif

} // namespace

int lockFile(FileSystemCalls::Handle file, LockKind kind)
{
    return lockRange(file, kind, true);
}

int tryLockFile(FileSystemCalls::Handle file, LockKind kind)
{
    return lockRange(file, kind, false);
}

} // namespace quelm
