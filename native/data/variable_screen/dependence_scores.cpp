// Scores from dependence tests: the randomized independence test's p-value
// and the distance correlation.
#include "common/python_ops.hpp"
#include "data/variable_screen/feature_selection.hpp"

#include <string>

namespace zeka::variable_screen {

namespace {

constexpr long kMaxDistanceRows = 5000;

// `from <module> import <name>`, with the interpreter's ImportError when the
// module lacks the name.
py::object import_name(const char* module, const char* name) {
    py::module_ source = py::module_::import(module);
    if (!py::hasattr(source, name)) {
        std::string message =
            std::string("cannot import name '") + name + "' from '" + module + "'";
        PyErr_SetString(PyExc_ImportError, message.c_str());
        throw py::error_already_set();
    }
    return source.attr(name);
}

// dcor's distance correlation, or statsmodels' when dcor cannot be imported
// for any reason; looked up on every call.
py::object distance_correlation_function() {
    try {
        return import_name("dcor", "distance_correlation");
    } catch (py::error_already_set& e) {
        if (!is_ordinary_exception(e))
            throw;
    }
    return import_name("statsmodels.stats.dist_dependence_measures", "distance_correlation");
}

// X[:, [fidx]]: one feature's column, kept two-dimensional.
py::object feature_column(const py::object& x, size_t fidx) {
    py::list position;
    position.append(py::int_(fidx));
    return x[py::make_tuple(py::slice(py::none(), py::none(), py::none()), position)];
}

} // namespace

py::object cal_rit(Frame& f) {
    py::object self = f[0];
    py::object test = f.global("conditional_independence_test");
    py::list p_val;
    const size_t features = py::len(self.attr("feature_names"));
    for (size_t fidx = 0; fidx < features; ++fidx) {
        py::object xx = feature_column(self.attr("X"), fidx);
        py::object yy = self.attr("y");
        py::object result =
            test(xx, yy, py::none(), py::arg("method") = "rcit", py::arg("num_f") = 25,
                 py::arg("num_f2") = 5, py::arg("n_subsamples") = 100, py::arg("seed") = 0);
        std::vector<py::object> pair = unpack(result, 2); // p_value, statistics
        p_val.append(pair[0]);
    }
    return std::move(p_val);
}

py::object cal_distcorr(Frame& f) {
    py::object self = f[0];
    py::object np = f.global("np");
    py::object distance_correlation = distance_correlation_function();
    py::list dist_lis;
    py::object rows = self.attr("X").attr("shape")[py::int_(0)];
    py::object sample_size = truthy(compare(rows, py::int_(kMaxDistanceRows), Py_LT))
                                 ? rows
                                 : py::object(py::int_(kMaxDistanceRows));
    // A process-wide side effect: numpy's global generator is reseeded.
    np.attr("random").attr("seed")(self.attr("random_state"));
    py::object ind = np.attr("random").attr("choice")(
        np.attr("arange")(self.attr("X").attr("shape")[py::int_(0)]), py::arg("size") = sample_size,
        py::arg("replace") = false);
    py::object as_float = py::module_::import("builtins").attr("float");
    const size_t features = py::len(self.attr("feature_names"));
    for (size_t fidx = 0; fidx < features; ++fidx) {
        py::object xx = feature_column(self.attr("X"), fidx);
        py::object yy = self.attr("y");
        py::object dist = distance_correlation(xx[ind].attr("ravel")().attr("astype")(as_float),
                                               yy[ind].attr("ravel")().attr("astype")(as_float));
        dist_lis.append(dist);
    }
    return std::move(dist_lis);
}

} // namespace zeka::variable_screen
