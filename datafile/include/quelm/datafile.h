#pragma once

#include <quelm/datafile_export.h>
#include <quelm/datafileformat.h>
#include <quelm/filesystemcalls.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace quelm {

class TailChecksum;

// An existing data file, opened for reading or for filling in bars. Opening validates it:
// magic, version, sizes, checksum, and the capacity against the real file size, so that a
// damaged, cut-short or foreign file gives a DataFileError instead of a bad read.
// Each append writes its records and then rewrites the header with a tail: the number of bars
// appended since the last flush and a checksum of their records, which readers count only while
// it matches the records on disk. A killed program thus keeps every bar whose append returned,
// and a power cut never leaves a count that covers a record not there. flush() folds the tail
// into bars written once the records reached the disk, which makes them survive a power cut
// too; so does an append that would make the tail longer than format::maxTailBars.
// setCounting(Counting::AtFlush) leaves appends uncounted on disk until the flush.
// Move-only; it owns the open file. When it goes (or is assigned over) with bars appended since
// the last flush, it folds them in as flush() does, but without the closing flush and silently:
// should the records' flush fail, the tail stays as the last append left it.
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

    // When appended bars are counted in the header on disk.
    enum class Counting
    {
        // At each append, in the tail (the default): readers see every bar once its append has
        // returned, and a killed program keeps them all.
        EachAppend,
        // Only at flush() (or as the DataFile goes): a program killed before then leaves all
        // the bars appended since the last flush uncounted, so that a batch that must be added
        // whole or not at all, such as an import, is never counted in part.
        AtFlush
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

    DataFile(DataFile &&) noexcept;
    DataFile &operator=(DataFile &&other) noexcept;
    ~DataFile();

    const std::filesystem::path &path() const { return m_path; }
    // The header as it stood when opened, with a proven tail and appended bars counted at once:
    // barsWritten is the number of bars that can be read.
    const DataFileHeader &header() const { return m_header; }
    // The tail the header gave when the file was opened. Opened for writing, a proven tail is
    // adopted, and one not proven is dropped: the header is written again without it.
    const DataFileTail &tailFound() const { return m_tailFound; }

    // How appends are counted from now on; bars already counted stay counted. Switched to
    // EachAppend, the next append counts the bars appended before it as well.
    void setCounting(Counting counting) { m_counting = counting; }
    Counting counting() const { return m_counting; }

    // Bar `index`, counting from 0; throws DataFileError unless index < barsWritten.
    Bar readBar(std::uint64_t index) const;
    // Stores `bar` after the last one and counts it in header() and, as counting() says, on
    // disk. Throws DataFileError, having counted it nowhere, when the file is full, was opened
    // ReadOnly or a write fails.
    void appendBar(const Bar &bar);
    // Bars `first` to `first + count - 1` in one read; throws DataFileError unless all of them
    // are stored.
    std::vector<Bar> readBars(std::uint64_t first, std::uint64_t count) const;
    // The same into `bars`, as many as it holds.
    void readBars(std::uint64_t first, std::span<Bar> bars) const;
    // Stores `bars` after the last one with one write and counts them as appendBar does.
    // Throws DataFileError, having counted none of them, when they do not all fit, the file was
    // opened ReadOnly or a write fails; when the flush that folds a long tail fails, as flush().
    void appendBars(std::span<const Bar> bars);
    // Makes the bars appended so far survive a power cut: flushes their records to the disk,
    // only then writes the header with them counted in bars written and no tail, and flushes
    // that; nothing to do when opened ReadOnly. Throws DataFileError when the system cannot.
    // When the records cannot be flushed, the bars appended since the last flush are dropped
    // (the header is written without them, and a later append takes their place), since a
    // failed flush may have lost them.
    void flush();

private:
    DataFile(FileSystemCalls &calls, std::filesystem::path path, FileHandle file, Mode mode,
             const DataFileHeader &header);
    // Counts the tail the header on disk gives when its records prove it; drops it otherwise.
    void takeTail(std::uint32_t bars, std::uint64_t checksum);
    void writeBars(const std::string &what, std::span<const Bar> bars);
    // Flushes the records, then writes the header with every bar in bars written and no tail,
    // then flushes again; `what` names the caller in a failure.
    void fold(const std::string &what);
    // Writes the header with `flushed` bars written and a tail of the rest of header()'s bars,
    // proven by `checksum`; returns the system's error, 0 when done.
    int writeHeader(std::uint64_t flushed, std::uint64_t checksum) noexcept;
    // What going does: folds the bars not yet in bars written on disk, ignoring failures.
    void countBeforeGoing() noexcept;
    [[noreturn]] void fail(const std::string &what, const std::string &reason, int error = 0) const;

    FileSystemCalls *m_calls;
    std::filesystem::path m_path;
    FileHandle m_file;
    Mode m_mode;
    DataFileHeader m_header;
    DataFileTail m_tailFound;
    Counting m_counting = Counting::EachAppend;
    std::uint64_t m_barsOnDisk; // the bars written the header on disk gives, its tail aside
    // The checksum of the records after those m_barsOnDisk counts, kept while they are at most
    // maxTailBars.
    std::unique_ptr<TailChecksum> m_checksum;
};

} // namespace quelm
