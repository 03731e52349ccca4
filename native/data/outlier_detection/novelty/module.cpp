// zeka.data.outlier_detection.novelty: outlier detection with a one-class
// support-vector machine.
#include "common/module.hpp"

#include "data/outlier_detection/novelty/one_class_svm.hpp"

namespace py = pybind11;

ZEKA_MODULE(novelty, m) {
    m.doc() = "Outlier detection with a one-class support-vector machine.";
    m.attr("np") = py::module_::import("numpy");
    m.attr("sklearn_OneClassSVM") = py::module_::import("sklearn.svm").attr("OneClassSVM");
    m.attr("StandardScaler") = py::module_::import("sklearn.preprocessing").attr("StandardScaler");
    zeka::novelty::define_one_class_svm(m);
}
