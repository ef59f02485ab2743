#pragma once

#include <quelm/datafile.h>

#include <mutex>
#include <optional>
#include <pybind11/numpy.h>
#include <string>

namespace quelm::python {

// A data file as Python sees it: the library's DataFile behind a lock, so that the calls that
// run without the GIL (reads, appends, flushes) never meet on one file, and close() may come
// from any thread.
class PythonDataFile
{
public:
    PythonDataFile(DataFile file, std::string mode);

    const std::filesystem::path &path() const { return m_path; }
    const std::string &mode() const { return m_mode; }
    DataFileHeader header();
    bool closed();
    void close();

    // Bars `first` to `first + count - 1` (to the last bar when count is none) as an array of
    // the bar dtype, read straight into its buffer without the GIL.
    pybind11::array read(std::uint64_t first, std::optional<std::uint64_t> count);
    // f[i] and f[a:b:c] as numpy indexes an array.
    pybind11::object item(pybind11::handle key);
    // All bars as a pandas DataFrame indexed by their UTC times.
    pybind11::object toPandas();
    // Checks `bars` as the library does and appends them, or raises having written nothing.
    void append(pybind11::handle bars);
    void flush();
    std::string repr();

private:
    // Runs `call` on the open file without the GIL and with the lock held; raises ValueError
    // when the file was closed.
    template <typename Call> auto withFile(Call call);

    std::mutex m_mutex;
    std::optional<DataFile> m_file;
    std::filesystem::path m_path;
    std::string m_mode;
};

} // namespace quelm::python
