// The module's constant tables, each built fresh.
#pragma once

#include <pybind11/pybind11.h>

namespace zeka::settings {

namespace py = pybind11;

py::dict model_name_items();
py::dict model_param_items();
py::dict interpret_panel_setting();
py::dict interpret_support();
py::dict od_param_items();
py::dict need_render_model_params();
py::dict need_render_od_params();

// Monotonicity entries as first built: tag pickers with no tags.
py::list empty_tags_entry(const char* label);

} // namespace zeka::settings
