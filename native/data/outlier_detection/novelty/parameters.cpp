// scikit-learn's parameter protocol for the wrapper: the ten SVM arguments
// live on the inner estimator, `standardization` on the wrapper itself.
#include "common/estimator_params.hpp"
#include "common/python_ops.hpp"
#include "data/outlier_detection/novelty/one_class_svm.hpp"

#include <algorithm>
#include <iterator>

namespace zeka::novelty {

namespace {

bool is_svm_argument(const std::string& name) {
    return std::find(std::begin(kSvmArguments), std::end(kSvmArguments), name) !=
           std::end(kSvmArguments);
}

py::object read_parameter(py::handle self, const std::string& name) {
    if (is_svm_argument(name))
        return self.attr("estimator").attr(name.c_str());
    return self.attr(name.c_str());
}

// An SVM argument goes through the inner estimator's own `set_params`, as
// the constructor hands it over.
void write_parameter(py::handle self, const std::string& name, py::handle value) {
    if (!is_svm_argument(name)) {
        py::setattr(self, name.c_str(), value);
        return;
    }
    py::dict keywords;
    keywords[py::str(name)] = value;
    self.attr("estimator").attr("set_params")(**keywords);
}

} // namespace

py::object get_params(Frame& f) {
    return zeka::get_params(f[0], truthy(f[1]), read_parameter);
}

py::object set_params(Frame& f) {
    return zeka::set_params(f[0], f[1], read_parameter, write_parameter);
}

py::object sklearn_tags(Frame&) {
    return estimator_tags(false);
}

// Fitted once `fit` has stored the training scores; the scaler slot exists
// (as None) from construction on and says nothing.
py::object is_fitted(Frame& f) {
    return py::bool_(!f[0].attr("score").is_none());
}

} // namespace zeka::novelty
