#pragma once

#include <pybind11/numpy.h>

// What DataFile.append takes, turned into one contiguous array of the bar dtype.
namespace quelm::python {

// The numpy dtype of a bar: time as datetime64[ms] and five float64 fields, laid out as Bar.
pybind11::dtype barDtype();

// `bars` as an array of barDtype: the array itself when it already is one (C-contiguous and
// aligned), else a new one made from a structured array, a pandas DataFrame (time as a column
// or as its index) or a sequence of (time, open, high, low, close[, volume]) tuples. Times
// with a zone are taken to UTC, those without are taken as UTC, integers as milliseconds since
// 1970. Raises ValueError or TypeError saying what does not fit.
pybind11::array barsFrom(pybind11::handle bars);

} // namespace quelm::python
