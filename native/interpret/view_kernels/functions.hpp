// The functions of zeka.interpret._view_kernels.
#pragma once

#include <pybind11/pybind11.h>

namespace zeka::view_kernels {

namespace py = pybind11;

extern const char* const kModuleDoc;

// Binds `tree_paths`.
void define_tree_paths(py::module_& module);

// Binds `bin_class_sums`.
void define_bin_class_sums(py::module_& module);

} // namespace zeka::view_kernels
