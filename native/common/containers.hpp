// Small helpers over Python objects and containers.
#pragma once

#include "common/python_ops.hpp"

#include <initializer_list>
#include <pybind11/pybind11.h>

namespace zeka {

namespace py = pybind11;

// `a == b` as an `if` tests it: rich comparison, then truth.
inline bool equals(py::handle a, py::handle b) {
    py::object result =
        py::reinterpret_steal<py::object>(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ));
    if (!result)
        throw py::error_already_set();
    return truthy(result);
}
inline bool equals(py::handle a, const char* text) {
    return equals(a, py::str(text));
}

// A new dict with the items of `tables` in order; later tables win on a
// shared key, as `{**a, **b}` does.
inline py::dict dict_union(std::initializer_list<py::dict> tables) {
    py::dict out;
    for (const py::dict& table : tables)
        for (auto item : table)
            out[item.first] = item.second;
    return out;
}

} // namespace zeka
