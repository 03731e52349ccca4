#pragma once

#include <pybind11/pybind11.h>

namespace zeka::causality {

namespace py = pybind11;

extern const char* const kModuleDoc;

// Binds `conditional_independence_test` as an attribute of `module`.
void define_conditional_independence_test(py::module_ module);

} // namespace zeka::causality
