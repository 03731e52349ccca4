// The scikit-learn steps the preprocessing pipeline is assembled from.
//
// Every function reads the scikit-learn classes from the module namespace of
// the running method, so a replaced module attribute takes effect at once.
#pragma once

#include "common/function.hpp"

namespace zeka::tabular_prep {

// ColumnTransformer([(name, "passthrough", columns)], remainder="drop"): the
// columns at `columns`, in that order, and nothing else.
py::object passthrough(const Frame& f, const char* name, py::handle columns);

// Sets `self.ctransformer` and fills `c_hot_f` with the output width of each
// encoded categorical position.
void build_categorical_block(const Frame& f, py::handle self, py::handle x, py::dict c_hot_f);

// Sets `self.ntransformer`: the numerical columns, scaled per
// `self.normalize_strategy`.
void build_numerical_block(const Frame& f, py::handle self);

// The union's output columns in input order of the features: each feature's
// block of output columns placed at its position.
py::object selector_columns(const Frame& f, py::handle self, const py::dict& c_hot_f);

// The fitted output columns' names, one per column in output order (an
// object array, as scikit-learn's transformers return them).
py::object feature_names_out(const Frame& f, py::handle self, const py::object& input_features);

} // namespace zeka::tabular_prep
