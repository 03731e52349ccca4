#include "common/python_class.hpp"
#include "data/quality_scan/quality_scan/data_integrity_check.hpp"

namespace zeka::quality_scan {

namespace {

const char* const kClassDoc =
    "Integrity checks of a raw data frame.\n\n"
    "Holds the data frame (by reference, never modified) and `meta_info`, a dict that maps "
    "each column label to \"numerical\" or \"categorical\" (only highly_correlated_features "
    "reads it). Each check returns a table, or for duplicated_samples on an empty frame a "
    "message string.";

struct MethodSpec {
    const char* name;
    std::vector<Param> params; // without self
    Body body;
    const char* doc;
    bool is_static;
};

} // namespace

py::module_ builtins() {
    return py::module_::import("builtins");
}

py::object true_divide(const py::object& a, const py::object& b) {
    PyObject* result = PyNumber_TrueDivide(a.ptr(), b.ptr());
    if (!result)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

std::size_t column_count(const py::object& data) {
    return py::len(data.attr("columns"));
}

bool own_method(const Frame& f, const py::object& self, const char* name) {
    py::object own = py::dict(f.captured(4)).attr("get")(name);
    PyObject* instance_dict = PyObject_GenericGetDict(self.ptr(), nullptr);
    if (!instance_dict) {
        PyErr_Clear();
    } else {
        bool shadowed = PyDict_GetItemString(instance_dict, name) != nullptr;
        Py_DECREF(instance_dict);
        if (shadowed)
            return false;
    }
    py::object found =
        py::reinterpret_steal<py::object>(PyObject_GetAttrString(py::type::of(self).ptr(), name));
    if (!found) {
        PyErr_Clear();
        return false;
    }
    return found.is(own);
}

py::object column_at(const py::object& data, std::size_t position) {
    return data.attr(
        "iloc")[py::make_tuple(py::slice(py::none(), py::none(), py::none()), py::int_(position))];
}

void define_data_integrity_check(py::module_ module, py::tuple own_helpers) {
    py::object pd = module.attr("pd");
    std::vector<MethodSpec> methods;
    methods.push_back({"__init__",
                       {arg("data"), arg("meta_info")},
                       init,
                       "Hold `data` and `meta_info`; `meta_info` must be a dict or None.",
                       false});
    methods.push_back({"is_single_value",
                       {},
                       is_single_value,
                       "Flag the columns that hold exactly one distinct non-missing value.",
                       false});
    methods.push_back(
        {"null_ratio", {}, null_ratio, "Each column's share of missing values.", false});
    methods.push_back(
        {"long_string",
         {arg("quantile_threshold", py::float_(0.8)), arg("length_difference", py::int_(5))},
         long_string,
         "Count, per string column, the values whose text is longer than the "
         "`quantile_threshold` quantile of the column's lengths plus `length_difference`.",
         false});
    methods.push_back({"special_characters",
                       {arg("n_most_common", py::int_(2))},
                       special_characters,
                       "Share and most common values, per column, of the values made only of "
                       "special characters (no letter or digit).",
                       false});
    methods.push_back({"mixed_data_type",
                       {},
                       mixed_data_type,
                       "Whether each column mixes values that read as numbers with values "
                       "that do not, and in which shares.",
                       false});
    methods.push_back({"duplicated_samples",
                       {},
                       duplicated_samples,
                       "The samples that occur more than once, each indexed by the array of "
                       "row labels at which it occurs.",
                       false});
    methods.push_back({"highly_correlated_features",
                       {},
                       highly_correlated_features,
                       "Association of every pair of features as a styled heat map: Spearman, "
                       "symmetric Theil's U or the correlation ratio, by the kinds of the two "
                       "features.",
                       false});
    methods.push_back({"single_column_check",
                       {},
                       single_column_check,
                       "The per-column checks side by side in one styled table.",
                       false});
    methods.push_back({"_get_data_mix",
                       {arg("column_data")},
                       get_data_mix,
                       "The mix record of a string column, or None.",
                       false});
    methods.push_back({"_check_mixed_percentage",
                       {arg("column_data")},
                       check_mixed_percentage,
                       "Shares and examples of the values that do and do not convert with "
                       "float(), or None when the column is not mixed.",
                       true});
    methods.push_back({"_get_special_samples",
                       {arg("column_data")},
                       get_special_samples,
                       "Counts of the special-only values of a column, or None.",
                       true});

    ClassBuilder builder(module, "DataIntegrityCheck", py::tuple(), kClassDoc);
    py::dict globals = module.attr("__dict__");
    // The closure ends with the class's own functions by name, filled below.
    py::dict originals;
    py::list closure(own_helpers);
    closure.append(originals);
    own_helpers = py::tuple(closure);
    py::object staticmethod = builtins().attr("staticmethod");
    for (MethodSpec& spec : methods) {
        std::vector<Param> params = std::move(spec.params);
        if (!spec.is_static)
            params.insert(params.begin(), arg("self"));
        FunctionDef def{spec.name, std::string("DataIntegrityCheck.") + spec.name,
                        std::move(params), spec.body, spec.doc};
        py::object function = make_function(std::move(def), globals, own_helpers);
        py::dict annotations;
        std::string name = spec.name;
        if (name == "__init__") {
            annotations["data"] = pd.attr("DataFrame");
            annotations["meta_info"] = "dict";
        } else if (name == "long_string") {
            annotations["quantile_threshold"] = "float";
            annotations["length_difference"] = "int";
        } else if (name == "_get_data_mix" || name == "_check_mixed_percentage") {
            annotations["column_data"] = pd.attr("Series");
            annotations["return"] = "dict";
        } else if (name == "_get_special_samples") {
            annotations["column_data"] = pd.attr("Series");
        }
        function.attr("__annotations__") = annotations;
        originals[spec.name] = function;
        builder.attr(spec.name, spec.is_static ? staticmethod(function) : function);
    }
    builder.finish();
}

} // namespace zeka::quality_scan
