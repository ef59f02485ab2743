#pragma once

#include <quelm/datafilecomponent.h>
#include <quelm/filesystemcalls.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace quelm {

// Makes each run's data files in a folder of its own under a data root, crash-safely: a file
// appears under its final name only once it is complete, with space for all its bars reserved.
// Files are named 0001.qdf ... 9999.qdf in a run folder named by the local start time, e.g.
// "2026-12-07 06-01-02" (" (002)" and up appended when two runs start in the same second).
// Files are made and reopened through the run folder the store holds, never by its path, and
// closed in between, so that a run holds the same few handles however many files it makes.
// Failures are thrown as DataFileError.
// One thread at a time; several stores, in one process or several, may share a root.
class QUELM_DATAFILE_EXPORT DataFileStore final : public DataFileComponent
{
public:
    static constexpr std::int32_t maxFileNumber = 9999;

    // Makes `root` (and its missing parents) if needed; throws DataFileError if it cannot. Then
    // clears what killed runs left in it: hidden temporary files and empty run folders, only
    // in run folders that no running store holds.
    explicit DataFileStore(std::filesystem::path root);
    // The same on top of other system calls; tests pass ones that fail on purpose.
    DataFileStore(std::filesystem::path root, FileSystemCalls &calls);
    // Leaves the files not closed as they are, not marked closed cleanly, and lets go of the
    // run folder.
    ~DataFileStore() override;
    DataFileStore(const DataFileStore &) = delete;
    DataFileStore &operator=(const DataFileStore &) = delete;

    // Makes file `number` (1 to 9999, once per run) with room for `bars` bars (0 or more) and
    // returns its path. Makes the run folder on the first call.
    std::filesystem::path createFile(std::int32_t number, std::int32_t bars);
    // Marks file `number` closed cleanly and flushes it, once its header shows it is the file
    // this run made. Does nothing for a number this store made no file of or closed.
    void closeFile(std::int32_t number);

    // The window's calling shape (DataFileComponent): createFile and closeFile with the
    // caller's own variables, which they leave as they are; both return 0.
    std::int32_t CreateDataFile(std::int32_t &fileNumber, std::int32_t &barCount) override;
    std::int32_t CloseDataFile(std::int32_t &fileNumber) override;

    // The name a file of that number gets in its run folder, e.g. "0003.qdf".
    static std::string fileName(std::int32_t fileNumber);

    const std::filesystem::path &root() const { return m_root; }
    // This run's folder, once its first file was made.
    std::optional<std::filesystem::path> runFolder() const { return m_runFolder; }
    // Where this run made file `fileNumber`; nothing for a number it did not make.
    std::optional<std::filesystem::path> filePath(std::int32_t fileNumber) const;

private:
    void makeRoot();
    void sweepLeftovers();
    void makeRunFolder(std::int32_t fileNumber);
    int flushRoot();
    void dropEmptyRunFolder();
    int removeRunFolder(FileHandle &directory, const std::filesystem::path &folder);
    std::int64_t makeFile(std::int32_t fileNumber, std::uint64_t capacity);
    void markClosed(std::int32_t fileNumber, std::int64_t createdMs);
    [[noreturn]] void throwCreateError(std::int32_t fileNumber, const std::filesystem::path &where,
                                       int error, std::uint64_t size);

    FileSystemCalls &m_calls;
    std::filesystem::path m_root;
    std::optional<std::filesystem::path> m_runFolder;
    // Held for the whole run (holdDirectory): every file is made and reopened through it.
    FileHandle m_runDirectory;
    std::map<std::int32_t, std::filesystem::path> m_made;
    // The files made and not closed yet, with the creation time their headers were given.
    std::map<std::int32_t, std::int64_t> m_open;
};

} // namespace quelm
