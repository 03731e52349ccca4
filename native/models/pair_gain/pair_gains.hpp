// The functions of zeka.models._pair_gain.
#pragma once

#include <pybind11/pybind11.h>

namespace zeka::pair_gain {

namespace py = pybind11;

extern const char* const kModuleDoc;

// Binds `pair_gains`.
void define_pair_gains(py::module_& module);

} // namespace zeka::pair_gain
