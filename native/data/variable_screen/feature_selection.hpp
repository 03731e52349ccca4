// FeatureSelection: scores every covariate against the response and selects
// feature positions by a threshold.
#pragma once

#include "common/function.hpp"

namespace zeka::variable_screen {

namespace py = pybind11;

// Scores from a model or a correlation table.
py::object cal_pfi(Frame& f);
py::object cal_corr(Frame& f);
// Scores from dependence tests.
py::object cal_rit(Frame& f);
py::object cal_distcorr(Frame& f);
// Ranking and selection.
py::object compute_feature_ind(Frame& f);
py::object variable_screen(Frame& f);

// Python's binary operators and comparisons, with the interpreter's dispatch
// (reflected operands, NotImplemented).
py::object compare(const py::handle& a, const py::handle& b, int op);
py::object add(const py::handle& a, const py::handle& b);
py::object true_divide(const py::handle& a, const py::handle& b);

// Binds FeatureSelection as an attribute of `module`.
void define_feature_selection(py::module_ module);

} // namespace zeka::variable_screen
