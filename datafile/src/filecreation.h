#pragma once

// The safe steps that make a data file, shared by the store's numbered files and files made at
// a path of the caller's choosing.

#include <quelm/datafileformat.h>
#include <quelm/filesystemcalls.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace quelm {

// What makeDataFile did: the open file when it succeeded, else the error. `leftError` is not 0
// when the file got its name, its folder could not be flushed and taking the name back failed
// too (with that error): the file then stays, not closed cleanly.
struct NewDataFile
{
    FileHandle file;
    int error = 0;
    int leftError = 0;
};

// Makes the file `name` in the open folder `folder` with `header`: without a name (or under a
// hidden temporary one), its whole size reserved, its header written and flushed; only then
// named, never replacing anything, and the folder flushed. A file under its final name is
// therefore always complete.
NewDataFile makeDataFile(FileSystemCalls &calls, FileSystemCalls::Handle folder,
                         const std::filesystem::path &name, const DataFileHeader &header);

// Why making a file of `size` bytes in `folder` failed with `error`, in words: the free space
// for a full disk, the size limit for a file too big, a taken name.
std::string creationReason(FileSystemCalls &calls, int error, std::uint64_t size,
                           const std::filesystem::path &folder);

} // namespace quelm
