// The functions of zeka.models._boost_tree.
#pragma once

#include <pybind11/pybind11.h>

namespace zeka::boost_tree {

namespace py = pybind11;

extern const char* const kModuleDoc;

// Binds `bin_sums`.
void define_bin_sums(py::module_& module);

// Binds `best_split`.
void define_best_split(py::module_& module);

} // namespace zeka::boost_tree
