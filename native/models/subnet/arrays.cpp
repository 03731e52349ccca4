#include "models/subnet/arrays.hpp"

#include <limits>

namespace zeka::subnet {

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

double as_double(const py::handle& value) {
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
