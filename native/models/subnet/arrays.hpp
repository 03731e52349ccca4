// The subnet functions' own array checks, beside the shared ones of
// common/numpy_arrays.hpp (dtype, C order, extents).
#pragma once

#include "common/numpy_arrays.hpp"

#include <cstddef>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <string>
#include <vector>

namespace zeka::subnet {

namespace py = pybind11;

using FloatArray = py::array_t<float, py::array::c_style>;
using DoubleArray = py::array_t<double, py::array::c_style>;
using BoolArray = py::array_t<bool, py::array::c_style>;

// ValueError unless `array` accepts writes.
void require_writeable(const py::array& array, const std::string& name);

// The items (held) of a list or tuple; ValueError naming `name` otherwise.
std::vector<py::object> items_of(const py::handle& value, const char* name);

// a * b * c, ValueError if it does not fit in a size_t.
std::size_t checked_product(std::size_t a, std::size_t b, std::size_t c = 1);

} // namespace zeka::subnet
