// The functions of zeka.models._subnet.
#pragma once

#include <pybind11/pybind11.h>

namespace zeka::subnet {

namespace py = pybind11;

extern const char* const kModuleDoc;

// Binds `forward` and `backward` of a bank of ReLU networks.
void define_bank_functions(py::module_ module);

// Binds `adam_step`.
void define_adam_step(py::module_ module);

} // namespace zeka::subnet
