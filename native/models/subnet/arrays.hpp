// The subnet functions' own argument checks, beside the shared ones of
// models/arguments.hpp (dtype, C order, extents).
#pragma once

#include "models/arguments.hpp"

#include <cstddef>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <string>
#include <vector>

namespace zeka::subnet {

namespace py = pybind11;

// ValueError unless `array` accepts writes.
void require_writeable(const py::array& array, const std::string& name);

// The items (held) of a list or tuple; ValueError naming `name` otherwise.
std::vector<py::object> items_of(const py::handle& value, const char* name);

// `float(value)` for an attribute read from an object (its __float__, or
// __index__), with the interpreter's TypeError otherwise.
double as_double(const py::handle& value);

// a * b * c, ValueError if it does not fit in a size_t.
std::size_t checked_product(std::size_t a, std::size_t b, std::size_t c = 1);

} // namespace zeka::subnet
