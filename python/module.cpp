// The Python module quelm: data files as numpy arrays and pandas frames, through the library.

#include "barinput.h"
#include "pythondatafile.h"

#include <quelm/datafileerror.h>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

namespace py = pybind11;
using quelm::DataFile;
using quelm::DataFileHeader;
using quelm::python::PythonDataFile;

namespace {

DataFile::Mode modeFrom(const std::string &mode)
{
    if (mode == "r") {
        return DataFile::Mode::ReadOnly;
    }
    if (mode == "r+") {
        return DataFile::Mode::ReadWrite;
    }
    if (mode == "x") {
        return DataFile::Mode::Exclusive;
    }
    throw py::value_error("mode is 'r' (read), 'r+' (add bars) or 'x' (add bars holding the "
                          "writers' lock), not '" +
                          mode + "'");
}

std::unique_ptr<PythonDataFile> openFile(const std::filesystem::path &path, const std::string &mode)
{
    const DataFile::Mode how = modeFrom(mode);
    py::gil_scoped_release withoutGil;
    return std::make_unique<PythonDataFile>(DataFile::open(path, how), mode);
}

std::unique_ptr<PythonDataFile> createFile(const std::filesystem::path &path,
                                           std::uint64_t capacity, const std::string &mode)
{
    const DataFile::Mode how = modeFrom(mode);
    if (how == DataFile::Mode::ReadOnly) {
        throw py::value_error("a file is created to add bars: mode 'r+' or 'x'");
    }
    py::gil_scoped_release withoutGil;
    return std::make_unique<PythonDataFile>(DataFile::create(path, capacity, how), mode);
}

py::object utcTime(std::int64_t ms)
{
    const py::module_ datetime = py::module_::import("datetime");
    const py::object epoch = datetime.attr("datetime")(
        1970, 1, 1, py::arg("tzinfo") = datetime.attr("timezone").attr("utc"));
    return epoch + datetime.attr("timedelta")(py::arg("milliseconds") = ms);
}

// DataFileError as OSError(errno, sentence), or OSError(sentence) when no errno is behind it.
void registerDataFileError(py::module_ &module)
{
    // Kept for the life of the process: the translator below may run until the interpreter ends.
    static auto &type =
        *new py::exception<quelm::DataFileError>(module, "DataFileError", PyExc_OSError);
    type.doc() = "A data file cannot be opened, made, read or written: the library's sentence "
                 "saying what, on which file and why, with the system's errno when one is behind "
                 "it (else errno is None).";
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const quelm::DataFileError &error) {
            const auto make = py::reinterpret_borrow<py::object>(type);
            const py::object value = error.errorNumber() != 0
                                         ? make(error.errorNumber(), error.what())
                                         : make(error.what());
            PyErr_SetObject(type.ptr(), value.ptr());
        }
    });
}

} // namespace

PYBIND11_MODULE(quelm, module)
{
    module.doc() = "Quelm's data files of time-series bars as numpy arrays and pandas frames, "
                   "read and written through the data file library.";
    module.attr("__version__") = QUELM_VERSION_TEXT;
    module.attr("bar_dtype") = quelm::python::barDtype();
    registerDataFileError(module);

    py::class_<DataFileHeader>(module, "Header", "A data file's header.")
        .def_property_readonly(
            "number", [](const DataFileHeader &h) { return h.fileNumber; },
            "The file's number in its run (0 for a file made by create).")
        .def_property_readonly(
            "capacity", [](const DataFileHeader &h) { return h.capacity; },
            "The bars the file has room for.")
        .def_property_readonly(
            "bars", [](const DataFileHeader &h) { return h.barsWritten; },
            "The bars stored, appended ones counted at once.")
        .def_property_readonly(
            "state", [](const DataFileHeader &h) { return h.closedCleanly ? "closed" : "open"; },
            "'closed' once its writer closed it cleanly, 'open' while it is written or after "
            "its writer was killed.")
        .def_property_readonly(
            "created", [](const DataFileHeader &h) { return utcTime(h.createdMs); },
            "When the file was made, a datetime in UTC.")
        .def("__repr__", [](const DataFileHeader &h) {
            return "<quelm.Header number=" + std::to_string(h.fileNumber) +
                   " capacity=" + std::to_string(h.capacity) +
                   " bars=" + std::to_string(h.barsWritten) +
                   " state=" + (h.closedCleanly ? "closed" : "open") + ">";
        });

    py::class_<PythonDataFile>(module, "DataFile",
                               "An open data file; use quelm.open or quelm.create. A context "
                               "manager: leaving the with block closes it.")
        .def_property_readonly("path", &PythonDataFile::path, "The file's path.")
        .def_property_readonly("mode", &PythonDataFile::mode, "'r', 'r+' or 'x'.")
        .def_property_readonly("header", &PythonDataFile::header,
                               "The header as opened, with appended bars counted at once.")
        .def_property_readonly("closed", &PythonDataFile::closed, "True once closed.")
        .def("__len__", [](PythonDataFile &f) { return f.header().barsWritten; })
        .def("read", &PythonDataFile::read, py::arg("first") = 0, py::arg("count") = py::none(),
             "Bars first to first + count - 1 (to the last bar when count is None) as an array "
             "of quelm.bar_dtype. Raises IndexError when they are not all stored.")
        .def("__getitem__", &PythonDataFile::item,
             "f[i] is bar i as a numpy record, f[a:b] an array, as numpy indexes.")
        .def("to_pandas", &PythonDataFile::toPandas,
             "All bars as a pandas DataFrame with float64 columns open, high, low, close and "
             "volume, indexed by a DatetimeIndex in UTC named 'time'.")
        .def("append", &PythonDataFile::append, py::arg("bars"),
             "Adds bars after the last one: an array of quelm.bar_dtype or with those fields, "
             "a pandas DataFrame with those columns (time as a column or as its index), or a "
             "sequence of (time, open, high, low, close[, volume]) tuples. Times without a zone "
             "are UTC; integers are milliseconds since 1970. Raises ValueError, having appended "
             "none, when a bar is unfit: a number not finite, high below low, open or close "
             "outside them, volume negative, a time not after the one before (or the file's "
             "last), or no room left. The count on disk follows at flush().")
        .def("flush", &PythonDataFile::flush,
             "Makes the bars appended so far survive a power cut: their records reach the disk, "
             "then their count.")
        .def("close", &PythonDataFile::close,
             "Closes the file, counting appended bars on disk without the flush; closing again "
             "does nothing.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](PythonDataFile &f, py::args) { f.close(); })
        .def("__repr__", &PythonDataFile::repr);

    module.def("open", &openFile, py::arg("path"), py::arg("mode") = "r",
               "Opens and checks the data file at path: mode 'r' to read, 'r+' to add bars, 'x' "
               "to add bars holding the writers' lock. Raises DataFileError saying why it "
               "cannot.");
    module.def("create", &createFile, py::arg("path"), py::arg("capacity"), py::arg("mode") = "x",
               "Makes a new data file at path with room for capacity bars, complete before it "
               "gets its name, and opens it in mode ('x' or 'r+'). Never replaces a file: "
               "raises DataFileError (errno EEXIST) when path exists, leaving nothing behind.");
}
