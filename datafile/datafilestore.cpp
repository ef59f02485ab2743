#include "datafilestore.h"

#include "datafileerror.h"
#include "datafileformat.h"
#include "errortext.h"
#include "filelock.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace quelm {

namespace {

std::string createFailure(std::int32_t fileNumber)
{
    return "Cannot create data file " + std::to_string(fileNumber);
}

bool isDirectory(const std::filesystem::path &path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// The local date and time in a form that sorts in time order and is a valid file name
// everywhere: "2026-12-07 06-01-02".
std::string runFolderName()
{
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char name[32];
    std::strftime(name, sizeof name, "%Y-%m-%d %H-%M-%S", &local);
    return name;
}

std::int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

DataFileStore::DataFileStore(std::filesystem::path root)
    : DataFileStore(std::move(root), systemFileCalls())
{
}

DataFileStore::DataFileStore(std::filesystem::path root, FileSystemCalls &calls)
    : m_calls(calls), m_root(std::move(root))
{
    // Made absolute but not normalised by text: the ".." of "link/.." is the parent of the
    // link's target, which only the system can tell.
    std::error_code error;
    if (auto absolute = std::filesystem::absolute(m_root, error); !error) {
        m_root = std::move(absolute);
    }
    makeRoot();
}

DataFileStore::~DataFileStore() = default;

std::string DataFileStore::fileName(std::int32_t fileNumber)
{
    char name[32];
    std::snprintf(name, sizeof name, "%04d.qdf", static_cast<int>(fileNumber));
    return name;
}

std::optional<std::filesystem::path> DataFileStore::filePath(std::int32_t fileNumber) const
{
    const auto found = m_made.find(fileNumber);
    if (found == m_made.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::int32_t DataFileStore::CreateDataFile(std::int32_t &fileNumber, std::int32_t &barCount)
{
    const std::int32_t number = fileNumber;
    const std::int32_t bars = barCount;
    if (number < 1 || number > maxFileNumber) {
        throw DataFileError(createFailure(number) + ": file numbers run from 1 to " +
                            std::to_string(maxFileNumber) + ".");
    }
    if (bars < 0) {
        throw DataFileError(createFailure(number) + ": a file cannot be made ready to take " +
                            std::to_string(bars) + " bars; the number of bars must be 0 or more.");
    }
    if (const auto made = m_made.find(number); made != m_made.end()) {
        throw DataFileError(createFailure(number) + ": this run has already made it, at " +
                            pathText(made->second) + ".");
    }

    const auto capacity = static_cast<std::uint64_t>(bars);
    const std::uint64_t size = fileSizeFor(capacity);
    // Told before anything is written where the free space already says it cannot fit.
    const std::filesystem::path &folder = m_runFolder ? *m_runFolder : m_root;
    if (std::uint64_t free = 0; m_calls.freeSpace(folder, free) == 0 && free < size) {
        const std::string where =
            m_runFolder ? " at " + pathText(folder / fileName(number)) : " in " + pathText(folder);
        throw DataFileError(createFailure(number) + where + ": the disk is full (needs " +
                                sizeText(size) + ", " + sizeText(free) + " free).",
                            ENOSPC);
    }

    makeRunFolder(number);
    const std::filesystem::path target = *m_runFolder / fileName(number);
    try {
        FileHandle file = makeFile(number, capacity, target);
        m_open.emplace(number, std::move(file));
        m_made.emplace(number, target);
    } catch (...) {
        dropEmptyRunFolder();
        throw;
    }
    return 0;
}

std::int32_t DataFileStore::CloseDataFile(std::int32_t &fileNumber)
{
    const std::int32_t number = fileNumber;
    const auto found = m_open.find(number);
    if (found == m_open.end()) {
        return 0;
    }
    // Whatever happens below, the handle is given up: a failed flush is never retried.
    FileHandle file = std::move(found->second);
    m_open.erase(found);
    int error = markClosed(file);
    if (error == 0) {
        error = m_calls.syncData(file.get());
    }
    if (const int closeError = file.close(); error == 0) {
        error = closeError;
    }
    if (error != 0) {
        throw DataFileError("Cannot close data file " + std::to_string(number) + " at " +
                                pathText(m_made.at(number)) + ": " + reasonText(error) + ".",
                            error);
    }
    return 0;
}

void DataFileStore::makeRoot()
{
    // What stands at `path` where a folder should be, and the error number that says so.
    const auto occupant = [](const std::filesystem::path &path) -> std::pair<std::string, int> {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
            return {"a file", ENOTDIR};
        }
        const auto target = std::filesystem::status(path, error);
        if (target.type() == std::filesystem::file_type::not_found) {
            const auto to = std::filesystem::read_symlink(path, error);
            return {"a symbolic link to a missing target (" + pathText(to) + ")", ENOENT};
        }
        if (error == std::errc::too_many_symbolic_link_levels) {
            return {"a symbolic link that loops", ELOOP};
        }
        if (error) {
            return {"a symbolic link that cannot be followed (" + error.message() + ")", ENOTDIR};
        }
        return {"a symbolic link to a file", ENOTDIR};
    };
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path path = m_root; !path.empty() && !isDirectory(path);
         path = path.parent_path()) {
        missing.push_back(path);
        if (path == path.parent_path()) {
            break;
        }
    }
    for (auto path = missing.rbegin(); path != missing.rend(); ++path) {
        int error = m_calls.makeDirectory(*path);
        if (error == EEXIST && isDirectory(*path)) {
            continue;
        }
        std::string reason = reasonText(error);
        if (error == EEXIST) {
            const auto [what, number] = occupant(*path);
            error = number;
            reason = what + " stands where the folder " + pathText(*path) + " should be";
        }
        if (error != 0) {
            throw DataFileError(
                "Cannot make the data folder " + pathText(m_root) + ": " + reason + ".", error);
        }
    }
}

void DataFileStore::makeRunFolder(std::int32_t fileNumber)
{
    if (m_runFolder) {
        return;
    }
    const std::string base = runFolderName();
    std::filesystem::path folder;
    int error = EEXIST;
    for (int suffix = 1; suffix <= 999 && error == EEXIST; ++suffix) {
        std::string name = base;
        if (suffix > 1) {
            char tail[16];
            std::snprintf(tail, sizeof tail, " (%03d)", suffix);
            name += tail;
        }
        folder = m_root / name;
        error = m_calls.makeDirectory(folder);
    }
    FileHandle directory;
    if (error == 0) {
        FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
        error = m_calls.openDirectory(folder, handle);
        if (error == 0) {
            directory = FileHandle(m_calls, handle);
            error = flushRoot();
        }
        if (error != 0) {
            directory.close();
            m_calls.removeDirectory(folder);
        }
    }
    if (error != 0) {
        throw DataFileError(createFailure(fileNumber) + ": the folder for this run, " +
                                pathText(folder) + ", cannot be made: " + reasonText(error) + ".",
                            error);
    }
    m_runDirectory = std::move(directory);
    m_runFolder = folder;
}

// The run folder's name lives in the root folder: flushing the root makes it survive a power
// cut, and with it every file that is later published in the run folder.
int DataFileStore::flushRoot()
{
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    if (const int error = m_calls.openDirectory(m_root, handle)) {
        return error;
    }
    FileHandle root(m_calls, handle);
    const int error = m_calls.syncDirectory(root.get());
    const int closeError = root.close();
    return error != 0 ? error : closeError;
}

// A run that has made no file yet leaves no folder behind.
void DataFileStore::dropEmptyRunFolder()
{
    if (!m_made.empty() || !m_runFolder) {
        return;
    }
    m_runDirectory.close();
    m_calls.removeDirectory(*m_runFolder);
    m_runFolder.reset();
}

// Creates the file without a name (or under a temporary one), reserves its space, writes its
// header and flushes it, and only then gives it its final name, which it never replaces.
FileHandle DataFileStore::makeFile(std::int32_t fileNumber, std::uint64_t capacity,
                                   const std::filesystem::path &target)
{
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    std::filesystem::path temporary;
    int error = m_calls.createUnnamed(*m_runFolder, handle);
    if (error == EOPNOTSUPP || error == EISDIR) {
        error = createTemporary(fileNumber, temporary, handle);
    }
    if (error != 0) {
        throwCreateError(fileNumber, target, error, fileSizeFor(capacity));
    }
    FileHandle file(m_calls, handle);
    const auto fail = [&](int failure) {
        file.close();
        if (!temporary.empty()) {
            m_calls.removeFile(temporary);
        }
        throwCreateError(fileNumber, target, failure, fileSizeFor(capacity));
    };

    DataFileHeader header;
    header.fileNumber = fileNumber;
    header.capacity = capacity;
    header.createdMs = nowMs();
    const HeaderBytes bytes = encodeHeader(header);
    if ((error = m_calls.reserve(handle, fileSizeFor(capacity))) ||
        (error = m_calls.writeAt(handle, 0, bytes.data(), bytes.size())) ||
        (error = m_calls.syncData(handle))) {
        fail(error);
    }
    FileSystemCalls::Handle named = handle;
    error = temporary.empty() ? m_calls.linkUnnamed(handle, target)
                              : m_calls.renameNoReplace(named, temporary, target);
    if (named != handle) {
        file = FileHandle(m_calls, named);
    }
    if (error != 0) {
        fail(error);
    }
    if ((error = m_calls.syncDirectory(m_runDirectory.get()))) {
        // The name may not survive a power cut: take it back rather than report success.
        temporary.clear();
        m_calls.removeFile(target);
        fail(error);
    }
    return file;
}

// A uniquely named hidden file beside the final one, for file systems without nameless files.
int DataFileStore::createTemporary(std::int32_t fileNumber, std::filesystem::path &temporary,
                                   FileSystemCalls::Handle &file)
{
    std::random_device device;
    std::mt19937_64 random(device());
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".%s.%016llx.tmp", fileName(fileNumber).c_str(),
                      static_cast<unsigned long long>(random()));
        temporary = *m_runFolder / name;
        error = m_calls.createNew(temporary, file);
    }
    if (error != 0) {
        temporary.clear();
    }
    return error;
}

// Rewrites the header as it now stands on disk, so that bars another program appended stay
// counted, with the state set to closed cleanly. It waits for the writers' lock, which an import
// holds only while it writes, so that neither undoes the other's header; the lock goes with the
// handle. A file system without locks still gets its file closed.
int DataFileStore::markClosed(FileHandle &file)
{
    (void)lockFile(file.get(), LockKind::Exclusive);
    HeaderBytes bytes{};
    if (const int error = m_calls.readAt(file.get(), 0, bytes.data(), bytes.size())) {
        return error;
    }
    DataFileHeader header;
    if (!decodeHeader(bytes, header).empty()) {
        return EIO;
    }
    header.closedCleanly = true;
    bytes = encodeHeader(header);
    return m_calls.writeAt(file.get(), 0, bytes.data(), bytes.size());
}

void DataFileStore::throwCreateError(std::int32_t fileNumber, const std::filesystem::path &where,
                                     int error, std::uint64_t size)
{
    std::string reason = reasonText(error);
    if (error == ENOSPC) {
        std::uint64_t free = 0;
        reason += " (needs " + sizeText(size);
        if (m_calls.freeSpace(where.parent_path(), free) == 0) {
            reason += ", " + sizeText(free) + " free";
        }
        reason += ")";
    } else if (error == EFBIG) {
        reason = "the file needs " + sizeText(size) +
                 ", more than this process may write (its file size limit)";
    } else if (error == EEXIST) {
        reason = "a file of that name already exists";
    }
    throw DataFileError(createFailure(fileNumber) + " at " + pathText(where) + ": " + reason + ".",
                        error);
}

} // namespace quelm
