#include "models/subnet/arrays.hpp"

#include <limits>

namespace zeka::subnet {

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

template FloatArray checked_array<FloatArray>(const py::handle&, const std::string&, const char*,
                                              py::ssize_t);
template DoubleArray checked_array<DoubleArray>(const py::handle&, const std::string&, const char*,
                                                py::ssize_t);
template BoolArray checked_array<BoolArray>(const py::handle&, const std::string&, const char*,
                                            py::ssize_t);

void require_extent(const py::array& array, py::ssize_t axis, py::ssize_t expected,
                    const std::string& name) {
    if (array.shape(axis) != expected)
        throw py::value_error(name + " has " + std::to_string(array.shape(axis)) +
                              " entries along axis " + std::to_string(axis) + ", expected " +
                              std::to_string(expected));
}

void require_writeable(const py::array& array, const std::string& name) {
    if (!array.writeable())
        throw py::value_error(name + " must be writeable");
}

std::vector<py::object> items_of(const py::handle& value, const char* name) {
    if (!py::isinstance<py::list>(value) && !py::isinstance<py::tuple>(value))
        throw py::value_error(std::string(name) + " must be a list or tuple of arrays, got " +
                              py::repr(py::type::of(value)).cast<std::string>());
    std::vector<py::object> items;
    for (const py::handle item : value)
        items.push_back(py::reinterpret_borrow<py::object>(item));
    return items;
}

double number(const py::handle& value) {
    const double x = PyFloat_AsDouble(value.ptr());
    if (x == -1.0 && PyErr_Occurred())
        throw py::error_already_set();
    return x;
}

std::size_t checked_product(std::size_t a, std::size_t b, std::size_t c) {
    constexpr std::size_t limit = std::numeric_limits<std::size_t>::max();
    if ((b != 0 && a > limit / b) || (c != 0 && a * b > limit / c))
        throw py::value_error("array sizes too large");
    return a * b * c;
}

} // namespace zeka::subnet
