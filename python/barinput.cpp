#include "barinput.h"

#include <quelm/datafileformat.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace py = pybind11;

namespace quelm::python {

namespace {

constexpr std::array<const char *, 5> valueNames = {"open", "high", "low", "close", "volume"};

py::module_ numpy()
{
    return py::module_::import("numpy");
}

// A pandas DataFrame, told without importing pandas: one can exist only once pandas is loaded.
bool isDataFrame(py::handle object)
{
    const py::dict modules = py::module_::import("sys").attr("modules");
    return modules.contains("pandas") &&
           py::isinstance(object, modules["pandas"].attr("DataFrame"));
}

// One time, of a sequence of tuples, as a numpy datetime64.
py::object timeValue(py::handle value)
{
    const py::module_ datetime = py::module_::import("datetime");
    const py::object np = numpy();
    if (py::isinstance(value, datetime.attr("datetime"))) {
        py::object time = py::reinterpret_borrow<py::object>(value);
        if (!time.attr("tzinfo").is_none()) {
            const py::object utc = datetime.attr("timezone").attr("utc");
            time = time.attr("astimezone")(utc).attr("replace")(py::arg("tzinfo") = py::none());
        }
        return np.attr("datetime64")(time, "us");
    }
    if (py::isinstance<py::str>(value)) {
        std::string text = value.cast<std::string>();
        if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) {
            text.pop_back();
        }
        return np.attr("datetime64")(text);
    }
    if (py::isinstance<py::int_>(value) || py::isinstance(value, np.attr("integer"))) {
        return np.attr("datetime64")(value, "ms");
    }
    if (py::isinstance(value, np.attr("datetime64"))) {
        return py::reinterpret_borrow<py::object>(value);
    }
    throw py::type_error("a time must be a datetime, a numpy datetime64, an ISO-8601 text or "
                         "whole milliseconds since 1970, not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
}

// A column of times as datetime64[ms].
py::array timesFrom(py::object times)
{
    const py::object np = numpy();
    // pandas keeps zoned times as such: to UTC, zone dropped.
    if (py::hasattr(times, "dt") && !py::getattr(times.attr("dt"), "tz", py::none()).is_none()) {
        times = times.attr("dt").attr("tz_convert")(py::none());
    } else if (!py::getattr(times, "tz", py::none()).is_none()) {
        times = times.attr("tz_convert")(py::none());
    }
    py::array array = np.attr("asarray")(times);
    const char kind = array.dtype().kind();
    if (kind == 'i' || kind == 'u') {
        return array.attr("astype")("datetime64[ms]");
    }
    if (kind == 'O' || kind == 'U' || kind == 'S') {
        py::list values;
        for (const py::handle value : array.attr("ravel")()) {
            values.append(timeValue(value));
        }
        array = np.attr("array")(values);
        if (values.empty()) {
            return array.attr("astype")("datetime64[ms]");
        }
    }
    if (array.dtype().kind() != 'M') {
        throw py::type_error("times must be datetime64 values, datetimes, ISO-8601 texts or "
                             "whole milliseconds since 1970, not " +
                             py::str(array.dtype()).cast<std::string>());
    }
    if (np.attr("isnat")(array).attr("any")().cast<bool>()) {
        throw py::value_error("a time is missing (NaT)");
    }
    py::array ms = array.attr("astype")("datetime64[ms]");
    if (!np.attr("array_equal")(ms, array).cast<bool>()) {
        throw py::value_error("a time has a part smaller than a millisecond, which a data file "
                              "cannot hold");
    }
    return ms;
}

// The columns of a sequence of (time, open, high, low, close[, volume]) tuples, by name.
py::dict namedColumns(const py::list &rows)
{
    const std::size_t width = rows.empty() ? 6 : py::len(rows[0]);
    if (width != 5 && width != 6) {
        throw py::value_error("a bar is (time, open, high, low, close[, volume]), not " +
                              std::to_string(width) + " values");
    }
    std::vector<py::list> columns(width);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const py::tuple values(rows[i]);
        if (values.size() != width) {
            throw py::value_error("bar " + std::to_string(i) + " has " +
                                  std::to_string(values.size()) + " values, bar 0 has " +
                                  std::to_string(width));
        }
        for (std::size_t field = 0; field < width; ++field) {
            columns[field].append(values[field]);
        }
    }
    py::dict byName;
    for (std::size_t field = 0; field < width; ++field) {
        byName[field == 0 ? "time" : valueNames[field - 1]] = columns[field];
    }
    return byName;
}

} // namespace

py::dtype barDtype()
{
    // Made once and kept for the life of the process.
    static const py::dtype &dtype = *new py::dtype([] {
        py::list fields;
        fields.append(py::make_tuple("time", "<M8[ms]"));
        for (const char *name : valueNames) {
            fields.append(py::make_tuple(name, "<f8"));
        }
        py::dtype made = numpy().attr("dtype")(fields);
        if (made.itemsize() != static_cast<py::ssize_t>(sizeof(Bar))) {
            throw std::logic_error("the bar dtype does not match the bar's layout");
        }
        return made;
    }());
    return dtype;
}

py::array barsFrom(py::handle bars)
{
    const py::object np = numpy();
    const py::dtype dtype = barDtype();
    if (py::isinstance<py::array>(bars)) {
        const auto array = py::reinterpret_borrow<py::array>(bars);
        if (array.ndim() == 1 && array.dtype().equal(dtype) &&
            (array.flags() & py::array::c_style) &&
            reinterpret_cast<std::uintptr_t>(array.data()) % alignof(Bar) == 0) {
            return array;
        }
    }
    // Each field by name, from whatever holds them as columns.
    py::object columns, names, times;
    if (isDataFrame(bars)) {
        columns = py::reinterpret_borrow<py::object>(bars);
        names = columns.attr("columns");
        times = names.contains("time") ? py::object(columns["time"]) : columns.attr("index");
    } else if (py::isinstance<py::array>(bars) &&
               !py::reinterpret_borrow<py::array>(bars).dtype().attr("names").is_none()) {
        columns = py::reinterpret_borrow<py::object>(bars);
        names = columns.attr("dtype").attr("names");
        if (!names.contains("time")) {
            throw py::value_error("the bars have no field named 'time'");
        }
        times = columns["time"];
    } else {
        columns = namedColumns(py::list(py::reinterpret_borrow<py::object>(bars)));
        names = columns;
        times = columns["time"];
    }

    py::array made(dtype, py::len(times));
    made[py::str("time")] = timesFrom(times);
    for (const char *name : valueNames) {
        if (names.contains(name)) {
            made[py::str(name)] = np.attr("asarray")(columns[name], "float64");
        } else if (std::string_view(name) == "volume") {
            made[py::str(name)] = 0.0;
        } else {
            throw py::value_error(std::string("the bars have no ") + name + " values");
        }
    }
    return made;
}

} // namespace quelm::python
