#include "data/variable_screen/feature_selection.hpp"

#include "common/python_class.hpp"

#include <utility>

namespace zeka::variable_screen {

namespace {

// The constructor's arguments in the order they are stored, each with its
// parameter position (threshold is the fourth parameter but stored third).
constexpr std::pair<const char*, size_t> kSettings[] = {
    {"method", 1}, {"algorithm", 2},     {"threshold", 4},   {"estimator", 3},   {"X", 5},
    {"y", 6},      {"feature_names", 7}, {"target_name", 8}, {"random_state", 9}};

py::object init(Frame& f) {
    for (const auto& [name, position] : kSettings)
        py::setattr(f[0], name, f[position]);
    return py::none();
}

} // namespace

py::object compare(const py::handle& a, const py::handle& b, int op) {
    PyObject* result = PyObject_RichCompare(a.ptr(), b.ptr(), op);
    if (!result)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

py::object add(const py::handle& a, const py::handle& b) {
    PyObject* result = PyNumber_Add(a.ptr(), b.ptr());
    if (!result)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

py::object true_divide(const py::handle& a, const py::handle& b) {
    PyObject* result = PyNumber_TrueDivide(a.ptr(), b.ptr());
    if (!result)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

void define_feature_selection(py::module_ module) {
    ClassBuilder(module, "FeatureSelection")
        .method("__init__",
                {arg("method", py::str("pfi")), arg("algorithm", py::str("pearson")),
                 arg("estimator", py::none()), arg("threshold", py::int_(1)), arg("X", py::none()),
                 arg("y", py::none()), arg("feature_names", py::none()),
                 arg("target_name", py::none()), arg("random_state", py::int_(0))},
                init)
        .method("_cal_pfi", {}, cal_pfi,
                "Permutation importances (one repeat, seed 0), negatives set to 0, as shares "
                "of their total.")
        .method("_cal_corr", {arg("algorithm", py::str("pearson"))}, cal_corr,
                "Signed correlation of each feature with the response (undefined ones are 0).")
        .method("_cal_rit", {}, cal_rit,
                "P-value of the randomized independence test of each feature and the response.")
        .method("_cal_distcorr", {}, cal_distcorr,
                "Distance correlation of each feature with the response on at most 5000 "
                "sampled rows.")
        .method("_compute_feature_ind",
                {arg("fi"), arg("method", py::str("accumulated")),
                 arg("select_larger", py::bool_(true))},
                compute_feature_ind,
                "Positions of the features that pass the threshold, highest score first.")
        .method("variable_screen", {}, variable_screen,
                "Compute the score named by `method` and select features: returns "
                "(scores, selected positions).")
        .finish();
}

} // namespace zeka::variable_screen
