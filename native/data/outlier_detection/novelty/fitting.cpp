// Construction and fitting: the inner estimator and the training scores.
#include "data/outlier_detection/novelty/one_class_svm.hpp"

namespace zeka::novelty {

namespace {

// The SVM arguments, in constructor order after `self`; each goes to
// scikit-learn's estimator by keyword, unchecked (it validates them at fit).
constexpr const char* kSvmArguments[] = {"kernel",  "degree",  "gamma",     "coef0",
                                         "tol",     "nu",      "shrinking", "cache_size",
                                         "verbose", "max_iter"};
constexpr size_t kSvmArgumentCount = sizeof(kSvmArguments) / sizeof(kSvmArguments[0]);

} // namespace

py::object init(Frame& f) {
    py::object self = f[0];
    py::dict keywords;
    for (size_t i = 0; i < kSvmArgumentCount; ++i)
        keywords[kSvmArguments[i]] = f[i + 1];
    py::setattr(self, "estimator", f.global("sklearn_OneClassSVM")(**keywords));
    py::setattr(self, "standardization", f[kSvmArgumentCount + 1]);
    py::setattr(self, "scaler_", py::none());
    py::setattr(self, "score", py::none());
    return py::none();
}

// Fits the scaler (when standardising) and the inner estimator, stores the
// training scores and returns what the inner estimator's `fit` returns.
py::object fit(Frame& f) {
    py::object self = f[0];
    py::object X = f[1];
    if (truth(self.attr("standardization"))) {
        py::object scaler = f.global("StandardScaler")();
        scaler.attr("fit")(X);
        X = scaler.attr("transform")(X);
        py::setattr(self, "scaler_", scaler);
    }
    py::object model = self.attr("estimator").attr("fit")(X, f[2], f[3]);
    // X is already standardised here: score it as it is.
    py::setattr(self, "score", self.attr("decision_function")(X, py::arg("scale") = false));
    return model;
}

} // namespace zeka::novelty
