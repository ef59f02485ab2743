#include "filecreation.h"

#include "encoding.h"

#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/errortext.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <random>

namespace quelm {

namespace {

// A uniquely named hidden file beside the final one, for file systems without nameless files:
// ".NAME.<16 hex digits>.tmp".
int createTemporary(FileSystemCalls &calls, FileSystemCalls::Handle folder,
                    const std::filesystem::path &name, std::filesystem::path &temporary,
                    FileSystemCalls::Handle &file)
{
    std::random_device device;
    std::mt19937_64 random(device());
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%016llx.tmp",
                      static_cast<unsigned long long>(random()));
        temporary = ".";
        temporary += name.native();
        temporary += suffix;
        error = calls.createNew(folder, temporary, file);
    }
    if (error != 0) {
        temporary.clear();
    }
    return error;
}

} // namespace

NewDataFile makeDataFile(FileSystemCalls &calls, FileSystemCalls::Handle folder,
                         const std::filesystem::path &name, const DataFileHeader &header)
{
    NewDataFile made;
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    std::filesystem::path temporary;
    int error = calls.createUnnamed(folder, handle);
    if (error == EOPNOTSUPP || error == EISDIR) {
        error = createTemporary(calls, folder, name, temporary, handle);
    }
    if (error != 0) {
        made.error = error;
        return made;
    }
    made.file = FileHandle(calls, handle);
    const auto failed = [&](int failure) {
        made.file.close();
        if (!temporary.empty()) {
            calls.removeFile(folder, temporary);
        }
        made.error = failure;
        return std::move(made);
    };

    const HeaderBytes bytes = encodeHeader(header);
    if ((error = calls.reserve(handle, fileSizeFor(header.capacity))) ||
        (error = calls.writeAt(handle, 0, bytes.data(), bytes.size())) ||
        (error = calls.syncData(handle))) {
        return failed(error);
    }
    FileSystemCalls::Handle named = handle;
    error = temporary.empty() ? calls.linkUnnamed(handle, folder, name)
                              : calls.renameNoReplace(named, folder, temporary, name);
    if (named != handle) {
        made.file = FileHandle(calls, named);
    }
    if (error != 0) {
        return failed(error);
    }
    if ((error = calls.syncDirectory(folder))) {
        // The name may not survive a power cut: take it back rather than report success.
        made.file.close();
        made.error = error;
        made.leftError = calls.removeFile(folder, name);
    }
    return made;
}

std::string creationReason(FileSystemCalls &calls, int error, std::uint64_t size,
                           const std::filesystem::path &folder)
{
    if (error == ENOSPC) {
        std::string reason = reasonText(error) + " (needs " + sizeText(size);
        if (std::optional<std::uint64_t> free; calls.freeSpace(folder, free) == 0 && free) {
            reason += ", " + sizeText(*free) + " free";
        }
        return reason + ")";
    }
    if (error == EFBIG) {
        return "the file needs " + sizeText(size) +
               ", more than this process may write (its file size limit)";
    }
    if (error == EEXIST) {
        return "a file of that name already exists";
    }
    return reasonText(error);
}

DataFile DataFile::create(const std::filesystem::path &path, std::uint64_t capacity, Mode mode)
{
    return create(path, capacity, mode, systemFileCalls());
}

DataFile DataFile::create(const std::filesystem::path &path, std::uint64_t capacity, Mode mode,
                          FileSystemCalls &calls)
{
    const std::string failure = "Cannot create data file " + pathText(path) + ": ";
    const std::filesystem::path name = path.filename();
    if (name.empty() || name == "." || name == "..") {
        throw DataFileError(failure + "the path names a folder, not a file.", EISDIR);
    }
    if (capacity > format::maxCapacity) {
        throw DataFileError(failure + "room for " + std::to_string(capacity) +
                                " bars would make it larger than any file can be.",
                            EFBIG);
    }
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    const std::uint64_t size = fileSizeFor(capacity);
    // Told before anything is written where the free space already says it cannot fit.
    if (std::optional<std::uint64_t> free;
        calls.freeSpace(folder, free) == 0 && free && *free < size) {
        throw DataFileError(failure + "the disk is full (needs " + sizeText(size) + ", " +
                                sizeText(*free) + " free).",
                            ENOSPC);
    }
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    if (const int error = calls.openDirectory(folder, handle)) {
        throw DataFileError(failure + "its folder " + pathText(folder) + " cannot be opened: " +
                                reasonText(error) + ".",
                            error);
    }
    const FileHandle directory(calls, handle);
    DataFileHeader header;
    header.capacity = capacity;
    header.createdMs = calls.currentTime();
    NewDataFile made = makeDataFile(calls, directory.get(), name, header);
    if (made.leftError != 0) {
        throw DataFileError(failure + "its folder could not be flushed (" + reasonText(made.error) +
                                "), and the file could not be removed either (" +
                                reasonText(made.leftError) + "); it is left there, empty.",
                            made.error);
    }
    if (made.error != 0) {
        throw DataFileError(failure + creationReason(calls, made.error, size, folder) + ".",
                            made.error);
    }
    // Nobody else can hold the lock of a file named a moment ago but one who opened it since.
    if (mode == Mode::Exclusive) {
        if (const int error = calls.lockFile(made.file.get(), false)) {
            throw DataFileError(failure + "it was made, but another program opened it for "
                                          "writing at once: " +
                                    reasonText(error) + ".",
                                error);
        }
    }
    return DataFile(calls, path, std::move(made.file), mode, header);
}

} // namespace quelm
