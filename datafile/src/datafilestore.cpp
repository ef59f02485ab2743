#include "encoding.h"
#include "filecreation.h"

#include <quelm/datafileerror.h>
#include <quelm/datafileformat.h>
#include <quelm/datafilestore.h>
#include <quelm/errortext.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <vector>

namespace quelm {

namespace {

std::string createFailure(std::int32_t fileNumber)
{
    return "Cannot create data file " + std::to_string(fileNumber);
}

bool isFolder(FileSystemCalls &calls, const std::filesystem::path &path)
{
    auto kind = FileSystemCalls::PathKind::None;
    return calls.pathKind(path, true, kind) == 0 && kind == FileSystemCalls::PathKind::Folder;
}

// A local date and time in a form that sorts in time order and is a valid file name
// everywhere: "2026-12-07 06-01-02".
std::string runFolderName(const std::tm &local)
{
    char name[32];
    std::strftime(name, sizeof name, "%Y-%m-%d %H-%M-%S", &local);
    return name;
}

// Whether `name` has the shape of `pattern`, where '9' stands for a digit and 'f' for a
// lower-case hex digit.
bool fits(std::string_view name, std::string_view pattern)
{
    if (name.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool digit = c >= '0' && c <= '9';
        const bool ok = pattern[i] == '9'   ? digit
                        : pattern[i] == 'f' ? digit || (c >= 'a' && c <= 'f')
                                            : c == pattern[i];
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool isRunFolderName(const std::string &name)
{
    return fits(name, "9999-99-99 99-99-99") || fits(name, "9999-99-99 99-99-99 (999)");
}

// The hidden name makeDataFile gives a numbered file until it is named.
bool isTemporaryName(const std::string &name)
{
    return fits(name, ".9999.qdf.ffffffffffffffff.tmp");
}

// The names in `folder`; nothing when it cannot be read to the end.
std::optional<std::vector<std::filesystem::path>> namesIn(FileSystemCalls &calls,
                                                          const std::filesystem::path &folder)
{
    std::vector<std::filesystem::path> names;
    if (calls.listDirectory(folder, names) != 0) {
        return std::nullopt;
    }
    return names;
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
    sweepLeftovers();
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
    createFile(fileNumber, barCount);
    return 0;
}

std::int32_t DataFileStore::CloseDataFile(std::int32_t &fileNumber)
{
    closeFile(fileNumber);
    return 0;
}

std::filesystem::path DataFileStore::createFile(std::int32_t number, std::int32_t bars)
{
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
    // Told before anything is written where the free space already says it cannot fit; where
    // the file system does not tell, the reservation decides.
    const std::filesystem::path &folder = m_runFolder ? *m_runFolder : m_root;
    if (std::optional<std::uint64_t> free;
        m_calls.freeSpace(folder, free) == 0 && free && *free < size) {
        const std::string where =
            m_runFolder ? " at " + pathText(folder / fileName(number)) : " in " + pathText(folder);
        throw DataFileError(createFailure(number) + where + ": the disk is full (needs " +
                                sizeText(size) + ", " + sizeText(*free) + " free).",
                            ENOSPC);
    }

    makeRunFolder(number);
    try {
        const std::int64_t createdMs = makeFile(number, capacity);
        m_made.emplace(number, *m_runFolder / fileName(number));
        m_open.emplace(number, createdMs);
    } catch (...) {
        dropEmptyRunFolder();
        throw;
    }
    return m_made.at(number);
}

void DataFileStore::closeFile(std::int32_t number)
{
    const auto found = m_open.find(number);
    if (found == m_open.end()) {
        return;
    }
    // Whatever happens below, the file counts as closed: a failed flush is never retried.
    const std::int64_t createdMs = found->second;
    m_open.erase(found);
    markClosed(number, createdMs);
}

void DataFileStore::makeRoot()
{
    // What stands at `path` where a folder should be, and the error number that says so.
    using Kind = FileSystemCalls::PathKind;
    const auto occupant = [this](const std::filesystem::path &path) -> std::pair<std::string, int> {
        Kind kind = Kind::None;
        if (m_calls.pathKind(path, false, kind) != 0 || kind != Kind::Link) {
            return {"a file", ENOTDIR};
        }
        const int error = m_calls.pathKind(path, true, kind);
        if (error == 0 && kind == Kind::None) {
            std::string what = "a symbolic link to a missing target";
            if (std::filesystem::path to; m_calls.readLink(path, to) == 0) {
                what += " (" + pathText(to) + ")";
            }
            return {what, ENOENT};
        }
        if (error == ELOOP) {
            return {"a symbolic link that loops", ELOOP};
        }
        if (error != 0) {
            return {"a symbolic link that cannot be followed (" + reasonText(error) + ")", ENOTDIR};
        }
        return {"a symbolic link to a file", ENOTDIR};
    };
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path path = m_root; !path.empty() && !isFolder(m_calls, path);
         path = path.parent_path()) {
        missing.push_back(path);
        if (path == path.parent_path()) {
            break;
        }
    }
    for (auto path = missing.rbegin(); path != missing.rend(); ++path) {
        int error = m_calls.makeDirectory(*path);
        if (error == EEXIST && isFolder(m_calls, *path)) {
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

// Clears what killed runs left behind: hidden temporary files of files never named, and run
// folders without a file. Only in run folders this store can hold, which no running store
// does, so that nothing a running store makes is touched. Whatever cannot be cleared stays.
void DataFileStore::sweepLeftovers()
{
    const auto folders = namesIn(m_calls, m_root);
    if (!folders) {
        return;
    }
    for (const std::filesystem::path &name : *folders) {
        if (!isRunFolderName(pathText(name))) {
            continue;
        }
        const std::filesystem::path path = m_root / name;
        // Listed before it is held: Windows lets nobody list a folder held to be cleared. What
        // comes in after the listing makes the folder stay.
        const auto entries = namesIn(m_calls, path);
        FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
        if (!entries || m_calls.holdDirectory(path, false, handle) != 0) {
            continue;
        }
        FileHandle folder(m_calls, handle);
        bool empty = true;
        for (const std::filesystem::path &entry : *entries) {
            if (!isTemporaryName(pathText(entry)) || m_calls.removeFile(handle, entry) != 0) {
                empty = false;
            }
        }
        if (empty) {
            removeRunFolder(folder, path);
        }
    }
}

void DataFileStore::makeRunFolder(std::int32_t fileNumber)
{
    if (m_runFolder) {
        return;
    }
    std::tm local = {};
    if (const int error =
            m_calls.localTime(static_cast<std::time_t>(m_calls.currentTime() / 1000), local)) {
        throw DataFileError(createFailure(fileNumber) +
                                ": the local time, which names the folder for this run, cannot "
                                "be read: " +
                                reasonText(error) + ".",
                            error);
    }
    const std::string base = runFolderName(local);
    std::filesystem::path folder;
    FileHandle directory;
    int error = EEXIST;
    for (int suffix = 1; suffix <= 999 && !directory.isOpen(); ++suffix) {
        std::string name = base;
        if (suffix > 1) {
            char tail[16];
            std::snprintf(tail, sizeof tail, " (%03d)", suffix);
            name += tail;
        }
        folder = m_root / name;
        if ((error = m_calls.makeDirectory(folder)) == EEXIST) {
            continue;
        }
        if (error != 0) {
            break;
        }
        FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
        error = m_calls.holdDirectory(folder, true, handle);
        // Until it is held, another store starting up may take the empty folder for a killed
        // run's and remove it: then the next name.
        if (error == ENOENT) {
            continue;
        }
        if (error != 0) {
            FileSystemCalls::Handle none = FileSystemCalls::invalidHandle;
            m_calls.removeDirectory(none, folder);
            break;
        }
        directory = FileHandle(m_calls, handle);
        if ((error = flushRoot()) != 0) {
            removeRunFolder(directory, folder);
            directory.close();
            break;
        }
    }
    if (!directory.isOpen()) {
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

// A run that has made no file yet leaves no folder behind. A folder that cannot be removed
// (a file that could not be taken back is still in it) stays this run's folder, so that the
// run never spreads over two.
void DataFileStore::dropEmptyRunFolder()
{
    if (!m_made.empty() || !m_runFolder) {
        return;
    }
    // A folder that stays but is no longer held cannot take this run's files.
    if (removeRunFolder(m_runDirectory, *m_runFolder) != 0 && m_runDirectory.isOpen()) {
        return;
    }
    m_runDirectory.close();
    m_runFolder.reset();
}

// Removes the empty run folder `folder`, held as `directory` if that is open; `directory` may
// have let go of it (removeDirectory).
int DataFileStore::removeRunFolder(FileHandle &directory, const std::filesystem::path &folder)
{
    FileSystemCalls::Handle held = directory.release();
    const int error = m_calls.removeDirectory(held, folder);
    directory = FileHandle(m_calls, held);
    return error;
}

// Makes the file through the held run folder (makeDataFile) and closes it: CloseDataFile opens
// it again. Returns the creation time written into the header.
std::int64_t DataFileStore::makeFile(std::int32_t fileNumber, std::uint64_t capacity)
{
    const std::filesystem::path target = *m_runFolder / fileName(fileNumber);
    DataFileHeader header;
    header.fileNumber = fileNumber;
    header.capacity = capacity;
    header.createdMs = m_calls.currentTime();
    const NewDataFile made =
        makeDataFile(m_calls, m_runDirectory.get(), fileName(fileNumber), header);
    if (made.error == 0) {
        return header.createdMs;
    }
    if (made.leftError == 0) {
        throwCreateError(fileNumber, target, made.error, fileSizeFor(capacity));
    }
    // It stays where it is, part of this run.
    m_made.emplace(fileNumber, target);
    throw DataFileError(createFailure(fileNumber) + " safely: its folder could not be flushed (" +
                            reasonText(made.error) + "), and the file could not be removed either (" +
                            reasonText(made.leftError) + "); it is left at " + pathText(target) +
                            ", not closed cleanly.",
                        made.error);
}

// Opens the file again through the run folder and rewrites its header as it now stands on
// disk, so that bars another program appended stay counted (its tail too, as it was), with the
// state set to closed cleanly; then flushes it. Only the file this run made is marked: one that
// took its place (its header gives another number or creation time) is left as it is. The writers'
// lock, which an import holds only while it writes, is waited for, so that neither undoes the
// other's header; it goes with the handle. A file system without locks still gets its file
// closed.
void DataFileStore::markClosed(std::int32_t fileNumber, std::int64_t createdMs)
{
    const std::string failure = "Cannot close data file " + std::to_string(fileNumber) + " at " +
                                pathText(m_made.at(fileNumber)) + ": ";
    const auto refuse = [&](const std::string &reason, int error) {
        throw DataFileError(failure + reason + "; it was left as it is.", error);
    };
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    int error = m_calls.openInDirectory(m_runDirectory.get(), fileName(fileNumber), handle);
    if (error == ELOOP) {
        refuse("a symbolic link stands where the file should be", error);
    }
    FileHandle file(m_calls, handle);
    if (error == 0) {
        (void)m_calls.lockFile(handle, true);
    }
    HeaderBytes bytes{};
    if (error == 0 && (error = m_calls.readAt(handle, 0, bytes.data(), bytes.size())) == 0) {
        DataFileHeader header;
        try {
            header = decodeHeader(bytes);
        } catch (const DamagedHeader &damage) {
            refuse(damage.what(), EIO);
        }
        if (header.fileNumber != fileNumber) {
            refuse("the file there is not the one this run made (its header gives file number " +
                       std::to_string(header.fileNumber) + ")",
                   EEXIST);
        }
        if (header.createdMs != createdMs) {
            refuse("the file there is not the one this run made (its header gives another "
                   "creation time)",
                   EEXIST);
        }
        header.closedCleanly = true;
        bytes = encodeHeader(header, decodeTail(bytes));
        error = m_calls.writeAt(handle, 0, bytes.data(), bytes.size());
    }
    if (error == 0) {
        error = m_calls.syncData(handle);
    }
    if (const int closeError = file.close(); error == 0) {
        error = closeError;
    }
    if (error != 0) {
        throw DataFileError(failure + reasonText(error) + ".", error);
    }
}

void DataFileStore::throwCreateError(std::int32_t fileNumber, const std::filesystem::path &where,
                                     int error, std::uint64_t size)
{
    throw DataFileError(createFailure(fileNumber) + " at " + pathText(where) + ": " +
                            creationReason(m_calls, error, size, where.parent_path()) + ".",
                        error);
}

} // namespace quelm
