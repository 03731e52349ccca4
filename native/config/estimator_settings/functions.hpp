// The module's functions: table adaptation and widget value conversion.
#pragma once

#include "common/function.hpp"

namespace zeka::settings {

// model_param_specific(model_param_items, dataset)
py::object model_param_specific(Frame& f);

// param_render(model_name, param_name, param_value, flis=None)
py::object param_render(Frame& f);

} // namespace zeka::settings
