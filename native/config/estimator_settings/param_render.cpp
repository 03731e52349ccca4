#include "common/containers.hpp"
#include "config/estimator_settings/functions.hpp"

#include <set>
#include <string>

namespace zeka::settings {

namespace {

bool is_str(const py::object& value) {
    return PyUnicode_Check(value.ptr());
}

// "[20,]" -> [20], "[20,20]" -> [20, 20]: the first item loses its opening
// bracket, the last its closing one (and is skipped when nothing is left).
py::list subset_input_render(const py::object& param_value) {
    py::list items = param_value.attr("split")(",");
    py::list sizes;
    size_t last = items.size() - 1;
    for (size_t i = 0; i < items.size(); ++i) {
        py::object item = items[i];
        if (i == 0) {
            sizes.append(py::int_(item[py::slice(1, PY_SSIZE_T_MAX, 1)]));
        } else if (i == last) {
            py::object rest = item[py::slice(0, -1, 1)];
            if (!equals(rest, ""))
                sizes.append(py::int_(rest));
        } else {
            sizes.append(py::int_(item));
        }
    }
    return sizes;
}

// Comma-separated numbers, empty items skipped, each converted by `convert`
// (`int` or `float`, which accept surrounding blanks).
template <typename Number> py::list comma_separated(const py::object& param_value) {
    py::list numbers;
    for (py::handle item : param_value.attr("split")(",")) {
        if (!equals(item, ""))
            numbers.append(Number(py::reinterpret_borrow<py::object>(item)));
    }
    return numbers;
}

// Names of a quoted monotonicity list, each stripped of surrounding blanks;
// `literal_eval` gives a tuple for several names and a bare string for one.
py::list quoted_names(const py::object& literal) {
    py::list names;
    if (is_str(literal)) {
        names.append(literal.attr("strip")());
        return names;
    }
    for (py::handle item : literal) {
        py::object name = py::reinterpret_borrow<py::object>(item);
        names.append(is_str(name) ? name.attr("strip")() : name);
    }
    return names;
}

// Feature indices ("0,2", "-1") or quoted names ("\"f0\",\"f1\"") -> names.
py::list monotonic_input_render(const Frame& f, const py::object& flis,
                                const py::object& param_value) {
    if (equals(param_value, ""))
        return py::list();
    py::object val = param_value.attr("split")(",");
    py::object first = val[py::int_(0)];
    if (equals(first[py::int_(0)], "\""))
        return quoted_names(f.global("ast").attr("literal_eval")(param_value));
    py::list names;
    for (py::handle index : val)
        names.append(flis[py::int_(py::reinterpret_borrow<py::object>(index))]);
    return names;
}

const std::set<std::string>& monotonicity_params() {
    static const std::set<std::string> names = {
        "gaminet_mono_decreasing_list", "gaminet_mono_increasing_list",
        "xgb1_mono_decreasing_list",    "xgb1_mono_increasing_list",
        "xgb2_mono_decreasing_list",    "xgb2_mono_increasing_list"};
    return names;
}

// "True"/"False" dropdowns of the outlier detectors.
const std::set<std::string>& boolean_params() {
    static const std::set<std::string> names = {"if_bootstrap",           "cb_use_weights",
                                                "if_standardization",     "cb_standardization",
                                                "cbtree_standardization", "pca_whiten",
                                                "pca_standardization",    "knn_standardization",
                                                "hbos_standardization",   "novelty_standardization",
                                                "ecod_standardization"};
    return names;
}

} // namespace

py::object param_render(Frame& f) {
    py::object model_name = f[0], param_name = f[1], param_value = f[2], flis = f[3];
    py::object listed = f.global("NEED_RENDER_PARAMS")[model_name];
    if (!listed.contains(param_name))
        return param_value;

    py::object joined = model_name + py::str("_") + param_name;
    std::string name = py::str(joined).cast<std::string>();
    if (name == "gaminet_subnet_size_main_effect" || name == "gaminet_subnet_size_interaction")
        return subset_input_render(param_value);
    if (name == "gaminet_max_epochs")
        return comma_separated<py::int_>(param_value);
    if (name == "gaminet_learning_rates")
        return comma_separated<py::float_>(param_value);
    if (name == "reludnn_hidden_layer_sizes")
        return f.global("json").attr("loads")(param_value);
    if (monotonicity_params().count(name) && is_str(param_value))
        return monotonic_input_render(f, flis, param_value);
    if (boolean_params().count(name) && is_str(param_value))
        return py::bool_(equals(param_value, "True"));
    if (name == "cb_clustering_method") {
        if (equals(param_value, "KMeans"))
            return py::str("kmeans");
        if (equals(param_value, "Gaussian Mixture Model"))
            return py::str("gmm");
    }
    return param_value;
}

} // namespace zeka::settings
