// OneClassSVM: scikit-learn's one-class SVM with optional standardisation
// and quantile-based outlier labels.
#pragma once

#include "common/function.hpp"

namespace zeka::novelty {

// Method bodies; `f[0]` is the instance.
py::object init(Frame& f);              // __init__(kernel, ..., standardization)
py::object fit(Frame& f);               // fit(X, y=None, sample_weight=None)
py::object decision_function(Frame& f); // decision_function(X, scale=True)
py::object predict(Frame& f);           // predict(X=None, scale=True, threshold=0.9)

// The truth value of `value`, as `if value:` tests it.
inline bool truth(const py::object& value) {
    return static_cast<bool>(py::bool_(value));
}

extern const char* const kClassDoc;

// The class, bound as the module attribute `OneClassSVM`.
void define_one_class_svm(py::module_ module);

} // namespace zeka::novelty
