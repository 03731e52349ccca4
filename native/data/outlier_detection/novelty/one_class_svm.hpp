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
py::object get_params(Frame& f);        // get_params(deep=True)
py::object set_params(Frame& f);        // set_params(**params)
py::object is_fitted(Frame& f);         // __sklearn_is_fitted__()
py::object sklearn_tags(Frame& f);      // __sklearn_tags__()

// The SVM arguments, in constructor order after `self`; each goes to
// scikit-learn's estimator by keyword, unchecked (it validates them at fit).
inline constexpr const char* kSvmArguments[] = {"kernel",  "degree",  "gamma",     "coef0",
                                                "tol",     "nu",      "shrinking", "cache_size",
                                                "verbose", "max_iter"};

// The truth value of `value`, as `if value:` tests it.
inline bool truth(const py::object& value) {
    return static_cast<bool>(py::bool_(value));
}

extern const char* const kClassDoc;

// The class, bound as the module attribute `OneClassSVM`.
void define_one_class_svm(py::module_ module);

} // namespace zeka::novelty
