#pragma once

#include <quelm/datafile_export.h>
#include <quelm/datafileformat.h>
#include <quelm/filesystemcalls.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace quelm {

// An existing data file, opened for reading or for filling in bars. Opening validates it:
// magic, version, sizes, checksum, and the capacity against the real file size, so that a
// damaged, cut-short or foreign file gives a DataFileError instead of a bad read.
// Appended bars are counted in the header on disk only by flush(), after their records reached
// the disk, so that a power cut never leaves a count that covers a record not there; a program
// killed before then leaves them uncounted.
// Move-only; it owns the open file. When it goes (or is assigned over) with bars appended since
// the last flush, it counts them on disk as flush() does, but without the closing flush and
// silently: a failure leaves them uncounted.
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
    // Makes a new data file at `path` with room for `capacity` bars and opens it in `mode`. It
    // is made as the store makes its files: complete (space reserved, header flushed) before it
    // gets its name, which never replaces anything, and its folder flushed after. It has file
    // number 0, which no run gives. Throws DataFileError when it cannot, an existing file
    // (EEXIST) included, leaving nothing behind.
    static DataFile create(const std::filesystem::path &path, std::uint64_t capacity,
                           Mode mode = Mode::Exclusive);
    // The same through `calls`, which must outlive the DataFile.
    static DataFile create(const std::filesystem::path &path, std::uint64_t capacity, Mode mode,
                           FileSystemCalls &calls);

    DataFile(DataFile &&) noexcept = default;
    DataFile &operator=(DataFile &&other) noexcept;
    ~DataFile();

    const std::filesystem::path &path() const { return m_path; }
    // The header as it stood when opened, with appended bars counted at once.
    const DataFileHeader &header() const { return m_header; }

    // Bar `index`, counting from 0; throws DataFileError unless index < barsWritten.
    Bar readBar(std::uint64_t index) const;
    // Stores `bar` after the last one and counts it in header(); the count on disk follows at
    // the next flush. Throws DataFileError when the file is full or was opened ReadOnly.
    void appendBar(const Bar &bar);
    // Bars `first` to `first + count - 1` in one read; throws DataFileError unless all of them
    // are stored.
    std::vector<Bar> readBars(std::uint64_t first, std::uint64_t count) const;
    // The same into `bars`, as many as it holds.
    void readBars(std::uint64_t first, std::span<Bar> bars) const;
    // Stores `bars` after the last one with one write and counts them in header(); the count
    // on disk follows at the next flush. Throws DataFileError, having counted none of them,
    // when they do not all fit, the file was opened ReadOnly or the write fails.
    void appendBars(std::span<const Bar> bars);
    // Makes the bars appended so far survive a power cut: flushes their records to the disk,
    // only then writes their count into the header, and flushes that; nothing to do when
    // opened ReadOnly. Throws DataFileError when the system cannot. When the records cannot be
    // flushed, the bars appended since the last flush are dropped (a later append takes their
    // place), since a failed flush may have lost them.
    void flush();

private:
    DataFile(FileSystemCalls &calls, std::filesystem::path path, FileHandle file, Mode mode,
             const DataFileHeader &header);
    void writeBars(const std::string &what, std::span<const Bar> bars);
    // Writes the header with the count of header(); returns the system's error, 0 when done.
    int writeCount() noexcept;
    // What going does: flushes the records of bars not yet counted on disk and then counts
    // them, ignoring failures.
    void countBeforeGoing() noexcept;
    [[noreturn]] void fail(const std::string &what, const std::string &reason, int error = 0) const;

    FileSystemCalls *m_calls;
    std::filesystem::path m_path;
    FileHandle m_file;
    Mode m_mode;
    DataFileHeader m_header;
    std::uint64_t m_barsOnDisk; // the count the header on disk gives
};

} // namespace quelm
