// Checked access to numpy arrays that native functions take as they are: the
// exact dtype, C order, the expected shape, a clear ValueError otherwise.
// Nothing is converted or copied, so a kernel reads (or writes) the caller's
// own buffer.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <string>

namespace zeka {

namespace py = pybind11;

// `value` as an array of type Array (a py::array_t with c_style), of `ndim`
// dimensions; ValueError naming `name` and the expected `dtype` otherwise.
template <typename Array>
Array checked_array(const py::handle& value, const std::string& name, const char* dtype,
                    py::ssize_t ndim) {
    // check_ compares the dtype (byte order included) and the C-order flag.
    if (!Array::check_(value))
        throw py::value_error(name + " must be a C-contiguous numpy array of dtype " + dtype +
                              ", got " + py::repr(py::type::of(value)).cast<std::string>() +
                              (py::isinstance<py::array>(value)
                                   ? " of dtype " + py::str(value.attr("dtype")).cast<std::string>()
                                   : std::string()));
    Array array = py::reinterpret_borrow<Array>(value);
    if (array.ndim() != ndim)
        throw py::value_error(name + " must have " + std::to_string(ndim) + " dimensions, got " +
                              std::to_string(array.ndim()));
    return array;
}

// ValueError unless `array` has the extent `expected` along `axis`.
inline void require_extent(const py::array& array, py::ssize_t axis, py::ssize_t expected,
                           const std::string& name) {
    if (array.shape(axis) != expected)
        throw py::value_error(name + " has " + std::to_string(array.shape(axis)) +
                              " entries along axis " + std::to_string(axis) + ", expected " +
                              std::to_string(expected));
}

} // namespace zeka
