// Scores that need the model (permutation importance) or a correlation table.
#include "common/python_ops.hpp"
#include "data/variable_screen/feature_selection.hpp"

namespace zeka::variable_screen {

py::object cal_pfi(Frame& f) {
    py::object self = f[0];
    py::object estimator = self.attr("estimator");
    const char* scoring =
        truthy(f.global("is_regressor")(estimator)) ? "neg_mean_squared_error" : "roc_auc";
    py::object result = f.global("permutation_importance")(
        estimator, self.attr("X"), self.attr("y").attr("ravel")(), py::arg("n_repeats") = 1,
        py::arg("scoring") = scoring, py::arg("random_state") = 0);
    py::object pfi = result[py::str("importances_mean")];
    // pfi[pfi < 0] = 0
    if (PyObject_SetItem(pfi.ptr(), compare(pfi, py::int_(0), Py_LT).ptr(), py::int_(0).ptr()) < 0)
        throw py::error_already_set();
    return true_divide(pfi, f.global("np").attr("sum")(pfi));
}

py::object cal_corr(Frame& f) {
    py::object self = f[0];
    py::object np = f.global("np");
    py::list parts;
    parts.append(self.attr("X"));
    parts.append(self.attr("y"));
    py::object joined = np.attr("concatenate")(parts, 1);
    py::list target;
    target.append(self.attr("target_name"));
    py::object columns = add(self.attr("feature_names"), target);
    py::object frame = f.global("pd")
                           .attr("DataFrame")(joined, py::arg("columns") = columns)
                           .attr("astype")(py::module_::import("builtins").attr("float"));
    py::object corr = frame.attr("corr")(py::arg("method") = f[1])[self.attr("target_name")];
    corr = corr.attr("fillna")(0);
    return corr.attr("values")[py::slice(py::none(), py::int_(-1), py::none())];
}

} // namespace zeka::variable_screen
