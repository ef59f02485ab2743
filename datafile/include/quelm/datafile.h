#pragma once

#include <quelm/datafileformat.h>
#include <quelm/filesystemcalls.h>
#include <quelm/datafile_export.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace quelm {

// An existing data file, opened for reading or for filling in bars. Opening validates it:
// magic, version, sizes, checksum, and the capacity against the real file size, so that a
// damaged, cut-short or foreign file gives a DataFileError instead of a bad read.
// Move-only; it owns the open file and closes it when it goes, without flushing (see flush).
class QUELM_DATAFILE_EXPORT DataFile
{
public:
    enum class Mode
    {
        ReadOnly,
        ReadWrite,
        // ReadWrite, and holds the writers' lock until the file is closed, so that no other
        // writer that takes it (an import, the store marking the file closed) runs meanwhile.
        // Opening throws DataFileError with EWOULDBLOCK while another holds it.
        Exclusive
    };

    // Opens and validates the file at `path`; throws DataFileError saying why it cannot.
    static DataFile open(const std::filesystem::path &path, Mode mode = Mode::ReadOnly);
    // The same through `calls`, which must outlive the DataFile.
    static DataFile open(const std::filesystem::path &path, Mode mode, FileSystemCalls &calls);

    DataFile(DataFile &&) noexcept = default;
    DataFile &operator=(DataFile &&) noexcept = default;

    const std::filesystem::path &path() const { return m_path; }
    // The header as it stood when opened, with appended bars counted.
    const DataFileHeader &header() const { return m_header; }

    // Bar `index`, counting from 0; throws DataFileError unless index < barsWritten.
    Bar readBar(std::uint64_t index) const;
    // Stores `bar` after the last one and counts it in the header; throws DataFileError when
    // the file is full or was opened ReadOnly. The record goes first, the count after it.
    void appendBar(const Bar &bar);
    // Bars `first` to `first + count - 1` in one read; throws DataFileError unless all of them
    // are stored.
    std::vector<Bar> readBars(std::uint64_t first, std::uint64_t count) const;
    // The same into `bars`, as many as it holds.
    void readBars(std::uint64_t first, std::span<Bar> bars) const;
    // Stores `bars` after the last one with one write, then counts them all with one header
    // update, so that a crash in between leaves none of them counted. Throws DataFileError,
    // having stored nothing, when they do not all fit or the file was opened ReadOnly.
    void appendBars(std::span<const Bar> bars);
    // Flushes appended bars and the header to the disk, so that they survive a power cut;
    // nothing to do when opened ReadOnly. Throws DataFileError when the system cannot.
    void flush();

private:
    DataFile(FileSystemCalls &calls, std::filesystem::path path, FileHandle file, Mode mode,
             const DataFileHeader &header);
    void writeBars(const std::string &what, std::span<const Bar> bars);
    [[noreturn]] void fail(const std::string &what, const std::string &reason, int error = 0) const;

    FileSystemCalls *m_calls;
    std::filesystem::path m_path;
    FileHandle m_file;
    Mode m_mode;
    DataFileHeader m_header;
};

} // namespace quelm
