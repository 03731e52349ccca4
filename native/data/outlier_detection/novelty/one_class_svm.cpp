#include "data/outlier_detection/novelty/one_class_svm.hpp"

#include "common/estimator_params.hpp"
#include "common/python_class.hpp"

namespace zeka::novelty {

void define_one_class_svm(py::module_ module) {
    ClassBuilder(module, "OneClassSVM", py::tuple(), kClassDoc)
        .method("__init__",
                {arg("kernel", py::str("rbf")), arg("degree", py::int_(3)),
                 arg("gamma", py::str("scale")), arg("coef0", py::float_(0.0)),
                 arg("tol", py::float_(0.001)), arg("nu", py::float_(0.5)),
                 arg("shrinking", py::bool_(true)), arg("cache_size", py::int_(200)),
                 arg("verbose", py::bool_(false)), arg("max_iter", py::int_(-1)),
                 arg("standardization", py::bool_(true))},
                init)
        .method("fit", {arg("X"), arg("y", py::none()), arg("sample_weight", py::none())}, fit,
                "Fit the detector on X and store the training scores.\n\n"
                "Returns the fitted inner scikit-learn estimator.")
        .method("decision_function", {arg("X"), arg("scale", py::bool_(true))}, decision_function,
                "Outlier scores of the rows of X (larger means more outlying).\n\n"
                "scale=False is for covariates already standardised with the fitted scaler.")
        .method("predict",
                {arg("X", py::none()), arg("scale", py::bool_(true)),
                 arg("threshold", py::float_(0.9))},
                predict,
                "Label rows as inliers (1.0) or outliers (-1.0).\n\n"
                "Rows whose score is strictly above the `threshold` quantile of the labelled "
                "scores are outliers; without X the training rows are labelled from their "
                "stored scores.")
        .method("get_params", {arg("deep", py::bool_(true))}, get_params,
                "Get the parameters of this detector (its constructor arguments).\n\n"
                "The SVM arguments are read from the inner estimator.")
        .method("set_params", {star_kwargs("params")}, set_params,
                "Set the parameters of this detector; returns the detector.\n\n"
                "The SVM arguments are set on the inner estimator and take effect at the "
                "next fit.")
        .method("__sklearn_is_fitted__", {}, is_fitted,
                "Whether fit has run (the training scores are stored).")
        .method("__sklearn_tags__", {}, sklearn_tags,
                "scikit-learn's description of this estimator.")
        .method("__repr__", {}, estimator_repr)
        .method("_repr_html_", {}, estimator_repr_html,
                "HTML display of the detector in a notebook.")
        .method("_repr_mimebundle_", {star_kwargs("kwargs")}, estimator_repr_mimebundle,
                "Notebook display: text, and HTML when scikit-learn's display is \"diagram\".")
        .finish();
}

} // namespace zeka::novelty
