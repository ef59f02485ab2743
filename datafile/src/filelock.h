#pragma once

#include <quelm/filesystemcalls.h>

namespace quelm {

// Advisory locks on a whole open file, which writers of a data file take so that their header
// updates never cross (flock on Linux, LockFileEx on Windows). A lock goes with the handle:
// closing it, or the end of the process, lets go.
enum class LockKind
{
    Shared,
    Exclusive
};

// Takes the lock, waiting while another handle holds a conflicting one. Returns 0 or an errno.
int lockFile(FileSystemCalls::Handle file, LockKind kind);
// Takes the lock only if nobody holds a conflicting one; EWOULDBLOCK when somebody does.
int tryLockFile(FileSystemCalls::Handle file, LockKind kind);

} // namespace quelm
