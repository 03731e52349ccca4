// Outlier scores and quantile-based labels.
#include "data/outlier_detection/novelty/one_class_svm.hpp"

namespace zeka::novelty {

namespace {

// `a > b`, kept as the object the comparison returns (an array of truths).
py::object greater_than(const py::object& a, const py::object& b) {
    PyObject* result = PyObject_RichCompare(a.ptr(), b.ptr(), Py_GT);
    if (!result)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

} // namespace

// The negated decision values: larger means more outlying. `scale` is
// looked at only when standardisation is on.
py::object decision_function(Frame& f) {
    py::object self = f[0];
    py::object X = f[1];
    if (truth(self.attr("standardization")) && truth(f[2]))
        X = self.attr("scaler_").attr("transform")(X);
    return -self.attr("estimator").attr("decision_function")(X);
}

// 1.0 for inliers, -1.0 for rows scoring strictly above the `threshold`
// quantile of the labelled scores (the training scores when X is None).
py::object predict(Frame& f) {
    py::object self = f[0];
    py::object X = f[1];
    py::object score = X.is_none() ? self.attr("score")
                                   : self.attr("decision_function")(X, py::arg("scale") = f[2]);
    py::object np = f.global("np");
    py::object prediction = np.attr("ones")(score.attr("shape"));
    py::object threshold_value = np.attr("quantile")(score, f[3]);
    prediction[greater_than(score, threshold_value)] = py::int_(-1);
    return prediction;
}

} // namespace zeka::novelty
