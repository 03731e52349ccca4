// Checked access to numpy arrays that native functions take as they are: the
// exact dtype, C order, the expected shape, a clear ValueError otherwise.
// Nothing is converted or copied, so a kernel reads (or writes) the caller's
// own buffer; only indices are copied (private_copy) before they are checked.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <string>
#include <vector>

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

// A copy of `array` that no one else holds. Indices are checked on such a copy
// and the kernel, running without the GIL, reads the same copy: another thread
// writing the caller's buffer meanwhile cannot move a checked index out of range.
template <typename Array> Array private_copy(const Array& array) {
    // given no base object, pybind11 copies the data into a new array
    return Array(std::vector<py::ssize_t>(array.shape(), array.shape() + array.ndim()),
                 array.data());
}

} // namespace zeka
