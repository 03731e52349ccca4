// Binding of call arguments to a `Function`'s parameters, as the interpreter
// binds them for a `def`, with its TypeError texts.
#pragma once

#include "common/function.hpp"

#include <pybind11/pybind11.h>
#include <vector>

namespace zeka {

// One value per parameter of `params`, from the positional `args` (a tuple)
// and `kwargs` (a dict or null): a tuple for `*args`, a dict for `**kwargs`,
// defaults for parameters not given. `qualname` names the function in the
// messages and is read only when an argument is wrong.
std::vector<py::object> bind_arguments(const std::vector<Param>& params, py::handle qualname,
                                       PyObject* args, PyObject* kwargs);

} // namespace zeka
