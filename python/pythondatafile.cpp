#include "pythondatafile.h"

#include "barinput.h"

#include <quelm/barcheck.h>
#include <quelm/errortext.h>

#include <limits>
#include <vector>

namespace py = pybind11;

namespace quelm::python {

namespace {

std::string barsText(std::uint64_t count)
{
    return std::to_string(count) + (count == 1 ? " bar" : " bars");
}

} // namespace

PythonDataFile::PythonDataFile(DataFile file, std::string mode)
    : m_file(std::move(file)), m_path(m_file->path()), m_mode(std::move(mode))
{
}

template <typename Call> auto PythonDataFile::withFile(Call call)
{
    py::gil_scoped_release withoutGil;
    const std::lock_guard lock(m_mutex);
    if (!m_file) {
        throw py::value_error("data file " + pathText(m_path) + " is closed");
    }
    return call(*m_file);
}

DataFileHeader PythonDataFile::header()
{
    return withFile([](DataFile &file) { return file.header(); });
}

bool PythonDataFile::closed()
{
    py::gil_scoped_release withoutGil;
    const std::lock_guard lock(m_mutex);
    return !m_file;
}

void PythonDataFile::close()
{
    py::gil_scoped_release withoutGil;
    const std::lock_guard lock(m_mutex);
    m_file.reset();
}

py::array PythonDataFile::read(std::uint64_t first, std::optional<std::uint64_t> count)
{
    const std::uint64_t bars = header().barsWritten;
    if (first > bars || (count && *count > bars - first)) {
        throw py::index_error("data file " + pathText(m_path) + " holds " + barsText(bars) +
                              "; bars " + std::to_string(first) + " to " +
                              (count ? std::to_string(first + *count) : "its end") +
                              " are not all there");
    }
    const std::uint64_t wanted = count.value_or(bars - first);
    py::array out(barDtype(), static_cast<py::ssize_t>(wanted));
    const std::span<Bar> into(static_cast<Bar *>(out.mutable_data()), wanted);
    withFile([&](DataFile &file) { file.readBars(first, into); });
    return out;
}

py::object PythonDataFile::item(py::handle key)
{
    const auto bars = static_cast<py::ssize_t>(header().barsWritten);
    if (py::isinstance<py::slice>(key)) {
        py::ssize_t start = 0, stop = 0, step = 0, length = 0;
        if (!py::reinterpret_borrow<py::slice>(key).compute(bars, &start, &stop, &step, &length)) {
            throw py::error_already_set();
        }
        if (length == 0) {
            return py::array(barDtype(), 0);
        }
        // The bars from the lowest to the highest taken, in one read; the step picks from them.
        const py::ssize_t last = start + (length - 1) * step;
        const py::ssize_t low = std::min(start, last);
        const py::array span = read(static_cast<std::uint64_t>(low),
                                    static_cast<std::uint64_t>(std::max(start, last) - low + 1));
        return step == 1 ? py::object(span) : span[py::slice(std::nullopt, std::nullopt, step)];
    }
    const auto whole = py::reinterpret_steal<py::object>(PyNumber_Index(key.ptr()));
    if (!whole) {
        throw py::error_already_set();
    }
    py::ssize_t index = whole.cast<py::ssize_t>();
    if (index < 0) {
        index += bars;
    }
    if (index < 0 || index >= bars) {
        throw py::index_error("data file " + pathText(m_path) + " holds " +
                              barsText(static_cast<std::uint64_t>(bars)) + "; there is no bar " +
                              py::str(key).cast<std::string>());
    }
    return read(static_cast<std::uint64_t>(index), 1)[py::int_(0)];
}

py::object PythonDataFile::toPandas()
{
    const py::module_ pandas = py::module_::import("pandas");
    const std::uint64_t bars = header().barsWritten;
    // pandas keeps times in nanoseconds and a frame's float columns as one block of rows by
    // columns: the bars go straight into both, a slice at a time, without the GIL.
    py::array times(py::dtype("datetime64[ns]"), static_cast<py::ssize_t>(bars));
    py::array values(py::dtype("float64"), {py::ssize_t{5}, static_cast<py::ssize_t>(bars)});
    auto *const ns = static_cast<std::int64_t *>(times.mutable_data());
    auto *const columns = static_cast<double *>(values.mutable_data());
    const std::optional<std::uint64_t> outside = withFile([&](DataFile &file) {
        constexpr std::int64_t nsPerMs = 1'000'000;
        constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / nsPerMs;
        std::vector<Bar> slice(std::min<std::uint64_t>(bars, 65536));
        for (std::uint64_t first = 0; first < bars; first += slice.size()) {
            const std::span<Bar> part =
                std::span(slice).first(std::min<std::uint64_t>(slice.size(), bars - first));
            file.readBars(first, part);
            for (std::size_t i = 0; i < part.size(); ++i) {
                const Bar &bar = part[i];
                if (bar.timeMs > limit || bar.timeMs < -limit) {
                    return std::optional(first + i);
                }
                const std::uint64_t at = first + i;
                ns[at] = bar.timeMs * nsPerMs;
                columns[at] = bar.open;
                columns[bars + at] = bar.high;
                columns[2 * bars + at] = bar.low;
                columns[3 * bars + at] = bar.close;
                columns[4 * bars + at] = bar.volume;
            }
        }
        return std::optional<std::uint64_t>();
    });
    if (outside) {
        throw py::value_error("bar " + std::to_string(*outside) + " of data file " +
                              pathText(m_path) +
                              " has a time outside the years pandas holds (1677 to 2262)");
    }
    const py::object index =
        pandas.attr("DatetimeIndex")(times, py::arg("name") = "time").attr("tz_localize")("UTC");
    return pandas.attr("DataFrame")(values.attr("T"), py::arg("index") = index,
                                    py::arg("columns") =
                                        py::make_tuple("open", "high", "low", "close", "volume"),
                                    py::arg("copy") = false);
}

void PythonDataFile::append(py::handle bars)
{
    const py::array batch = barsFrom(bars);
    const std::span<const Bar> view(static_cast<const Bar *>(batch.data()),
                                    static_cast<std::size_t>(batch.size()));
    const std::optional<BarProblem> problem = withFile([&](DataFile &file) {
        std::optional<BarProblem> found = findBarProblem(view, file);
        if (!found) {
            file.appendBars(view);
        }
        return found;
    });
    if (problem) {
        throw py::value_error("Cannot append " + barsText(view.size()) + " to data file " +
                              pathText(m_path) + ": " + problem->message + "; none was appended.");
    }
}

void PythonDataFile::flush()
{
    withFile([](DataFile &file) { file.flush(); });
}

std::string PythonDataFile::repr()
{
    py::gil_scoped_release withoutGil;
    const std::lock_guard lock(m_mutex);
    std::string text = "<quelm.DataFile " + pathText(m_path) + " mode='" + m_mode + "'";
    if (m_file) {
        text += ", " + std::to_string(m_file->header().barsWritten) + " of " +
                barsText(m_file->header().capacity);
    } else {
        text += ", closed";
    }
    return text + ">";
}

} // namespace quelm::python
