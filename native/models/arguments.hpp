// The argument checks of the model-kernel modules (_subnet, _pair_gain,
// _boost_tree). Arrays are taken as they are: the exact dtype, C order and the
// expected shape, a clear ValueError otherwise; nothing is converted or
// copied, so a kernel reads (or writes) the caller's own buffer. Numbers
// arrive converted by pybind11 and are checked for their range here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <string>
#include <vector>

namespace zeka {

namespace py = pybind11;

using FloatArray = py::array_t<float, py::array::c_style>;
using DoubleArray = py::array_t<double, py::array::c_style>;
using IntArray = py::array_t<std::int64_t, py::array::c_style>;
using BoolArray = py::array_t<bool, py::array::c_style>;

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

// `x` when it is at least 0 (NaN is not), ValueError naming `name` otherwise.
inline double non_negative(double x, const char* name) {
    if (!(x >= 0.0))
        throw py::value_error(std::string(name) + " must be a number >= 0, got " +
                              py::repr(py::float_(x)).cast<std::string>());
    return x;
}

// `n` as a count of at least one; ValueError naming `name` below one.
inline std::size_t positive_size(py::ssize_t n, const char* name) {
    if (n < 1)
        throw py::value_error(std::string(name) + " must be at least 1, got " + std::to_string(n));
    return static_cast<std::size_t>(n);
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
