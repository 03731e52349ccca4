// Construction and fitting: the inner estimator and the training scores.
#include "common/python_ops.hpp"
#include "data/outlier_detection/novelty/one_class_svm.hpp"
#include "kernels/svm/one_class_start.hpp"

#include <pybind11/numpy.h>
#include <stdexcept>

namespace zeka::novelty {

namespace {

constexpr size_t kSvmArgumentCount = sizeof(kSvmArguments) / sizeof(kSvmArguments[0]);

// Whether `nu` is a number scikit-learn would pass on to the solver (it
// refuses bools and non-numbers itself).
bool is_real_number(const Frame& f, py::handle nu) {
    if (PyBool_Check(nu.ptr()))
        return false;
    return PyLong_Check(nu.ptr()) || PyFloat_Check(nu.ptr()) ||
           py::isinstance(nu, f.global("np").attr("number"));
}

// Whether these weights and nu would run the solver past its arrays. Inputs
// scikit-learn refuses on its own (weights that are not a 1-D array of
// numbers, a nu that is no number) are left to it.
bool weights_overrun_solver(const Frame& f, py::handle estimator, py::handle sample_weight) {
    if (sample_weight.is_none())
        return false; // unit weights sum exactly
    py::object nu = estimator.attr("nu");
    if (!is_real_number(f, nu))
        return false;
    py::object np = f.global("np");
    py::object weights;
    try {
        weights =
            np.attr("ascontiguousarray")(sample_weight, py::arg("dtype") = np.attr("float64"));
    } catch (py::error_already_set& e) {
        if (!is_ordinary_exception(e))
            throw;
        return false;
    }
    auto array = py::array_t<double, py::array::c_style>::ensure(weights);
    if (!array || array.ndim() != 1)
        return false;
    double nu_value = py::float_(nu).cast<double>();
    const double* data = array.data();
    auto count = static_cast<size_t>(array.size());
    // Only the array's buffer, which `array` keeps alive, is read from here.
    py::gil_scoped_release release;
    return kernels::one_class_start_overruns(data, count, nu_value);
}

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
    if (weights_overrun_solver(f, self.attr("estimator"), f[3]))
        throw std::invalid_argument(
            "sample_weight with nu=" +
            py::str(self.attr("estimator").attr("nu")).cast<std::string>() +
            " would make scikit-learn's one-class SVM solver write past its arrays: nu times the "
            "total weight, rounded, exceeds the weights it is spread over. Use a nu below 1 (for "
            "example 0.9999).");
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
