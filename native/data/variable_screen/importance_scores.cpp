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

namespace {

// pandas' correlation sums squares of deviations, which overflow or vanish for
// a column of magnitude beyond about 2**±500 (a feature times 1e300 would
// score 0). Such a column is multiplied by a power of two that brings its
// largest magnitude near 1: exact, and a correlation does not depend on scale.
// Other columns, and so ordinary data, are left bit for bit as they are.
py::object rescale_extreme_columns(const py::object& np, const py::object& joined) {
    py::object values;
    try {
        values = np.attr("asarray")(joined, py::arg("dtype") = "float64");
    } catch (py::error_already_set&) {
        return joined; // not numbers: pandas' conversion below reports it
    }
    if (values.attr("ndim").cast<int>() != 2 ||
        values.attr("shape")[py::int_(0)].cast<py::ssize_t>() == 0)
        return joined;
    py::object largest =
        np.attr("fmax").attr("reduce")(np.attr("abs")(values), py::arg("axis") = 0);
    py::object exponents = np.attr("frexp")(largest)[py::int_(1)];
    py::object extreme = np.attr("logical_and")(largest.attr("__gt__")(0),
                                                np.attr("abs")(exponents).attr("__ge__")(480));
    if (!np.attr("any")(extreme).cast<bool>())
        return joined;
    // ldexp, not a factor: 2**1074 (for the smallest subnormal) is no double.
    py::object shifts = np.attr("where")(extreme, exponents.attr("__neg__")(), 0);
    return np.attr("ldexp")(values, shifts);
}

} // namespace

py::object cal_corr(Frame& f) {
    py::object self = f[0];
    py::object np = f.global("np");
    py::list parts;
    parts.append(self.attr("X"));
    parts.append(self.attr("y"));
    py::object joined = rescale_extreme_columns(np, np.attr("concatenate")(parts, 1));
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
