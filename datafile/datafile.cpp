#include "datafile.h"

#include "datafileerror.h"
#include "errortext.h"

#include <cerrno>

namespace quelm {

namespace {

[[noreturn]] void failOpen(const std::filesystem::path &path, const std::string &reason,
                           int error = 0)
{
    throw DataFileError("Cannot open data file " + pathText(path) + ": " + reason + ".", error);
}

} // namespace

DataFile DataFile::open(const std::filesystem::path &path, Mode mode)
{
    return open(path, mode, systemFileCalls());
}

DataFile DataFile::open(const std::filesystem::path &path, Mode mode, FileSystemCalls &calls)
{
    FileSystemCalls::Handle handle = FileSystemCalls::invalidHandle;
    if (const int error = calls.openExisting(path, mode == Mode::ReadWrite, handle)) {
        failOpen(path, reasonText(error), error);
    }
    FileHandle file(calls, handle);
    std::uint64_t size = 0;
    if (const int error = calls.fileSize(handle, size)) {
        failOpen(path, reasonText(error), error);
    }
    if (size < format::headerSize) {
        failOpen(path, "it is " + std::to_string(size) +
                           " bytes long, too short for the header of a data file (" +
                           std::to_string(format::headerSize) + " bytes)");
    }
    HeaderBytes bytes{};
    if (const int error = calls.readAt(handle, 0, bytes.data(), bytes.size())) {
        failOpen(path, reasonText(error), error);
    }
    DataFileHeader header;
    if (const std::string reason = decodeHeader(bytes, header); !reason.empty()) {
        failOpen(path, reason);
    }
    if (const std::uint64_t expected = fileSizeFor(header.capacity); size != expected) {
        failOpen(path, "its header gives room for " + std::to_string(header.capacity) +
                           " bars, which takes " + std::to_string(expected) +
                           " bytes, but the file is " + std::to_string(size) + " bytes long");
    }
    return DataFile(calls, path, std::move(file), mode, header);
}

DataFile::DataFile(FileSystemCalls &calls, std::filesystem::path path, FileHandle file, Mode mode,
                   const DataFileHeader &header)
    : m_calls(&calls), m_path(std::move(path)), m_file(std::move(file)), m_mode(mode),
      m_header(header)
{
}

Bar DataFile::readBar(std::uint64_t index) const
{
    if (index >= m_header.barsWritten) {
        fail("read bar " + std::to_string(index),
             "it holds " + std::to_string(m_header.barsWritten) + " bars, counting from 0");
    }
    RecordBytes bytes{};
    const std::uint64_t offset = format::headerSize + index * format::recordSize;
    if (const int error = m_calls->readAt(m_file.get(), offset, bytes.data(), bytes.size())) {
        fail("read bar " + std::to_string(index), reasonText(error), error);
    }
    return decodeBar(bytes);
}

void DataFile::appendBar(const Bar &bar)
{
    const std::string what = "add a bar";
    if (m_mode != Mode::ReadWrite) {
        fail(what, "it was opened for reading only");
    }
    if (m_header.barsWritten >= m_header.capacity) {
        fail(what, "it is full (" + std::to_string(m_header.capacity) + " bars)");
    }
    const RecordBytes record = encodeBar(bar);
    const std::uint64_t offset = format::headerSize + m_header.barsWritten * format::recordSize;
    if (const int error = m_calls->writeAt(m_file.get(), offset, record.data(), record.size())) {
        fail(what, reasonText(error), error);
    }
    DataFileHeader updated = m_header;
    ++updated.barsWritten;
    const HeaderBytes header = encodeHeader(updated);
    if (const int error = m_calls->writeAt(m_file.get(), 0, header.data(), header.size())) {
        fail(what, reasonText(error), error);
    }
    m_header = updated;
}

void DataFile::flush()
{
    // A file opened for reading has nothing to flush, and Windows flushes only with write
    // access.
    if (m_mode != Mode::ReadWrite) {
        return;
    }
    if (const int error = m_calls->syncData(m_file.get())) {
        fail("flush", reasonText(error), error);
    }
}

void DataFile::fail(const std::string &what, const std::string &reason, int error) const
{
    throw DataFileError("Cannot " + what + " in data file " + std::to_string(m_header.fileNumber) +
                            " at " + pathText(m_path) + ": " + reason + ".",
                        error);
}

} // namespace quelm
