#include "common/python_class.hpp"
#include "explainer/shap/shap_explainer.hpp"

namespace zeka::shap_explainer {

void define_shap(py::module_ module) {
    ClassBuilder(module, "SHAP", py::tuple(), kClassDoc)
        .method("__init__",
                {arg("estimator"), arg("feature_names", py::none()),
                 arg("masker_sample_size", py::int_(500)), arg("sample_size", py::int_(500)),
                 arg("random_state", py::int_(0))},
                init)
        .method("fit", {arg("x")}, fit,
                "Store the background data x and build the shap explainer.\n\n"
                "x is a two-dimensional array or a DataFrame whose columns are the model's "
                "features in the model's order. The estimator is not fitted here.")
        .method("global_explain_data", {arg("features", py::none())}, global_explain_data,
                "Explain a sample of the background data.\n\n"
                "Returns a TestDataResult with key 'global_shap' and a dictionary of "
                "'feature' (the first of a list of features, else `features`), "
                "'sample_size', 'feature_names' and 'shap_values' (a shap.Explanation, "
                "kept as `shap_val`).")
        .method("get_global_explain", {arg("features")}, get_global_explain,
                "The last global explanation again, as global_explain_data returned it, "
                "with the feature selected from `features`.")
        .method("local_explain_data", {arg("x")}, local_explain_data,
                "Explain one row x (an array of one row, flat or one by the number of "
                "features).\n\n"
                "Returns a TestDataResult with key 'local_shap' and a dictionary of "
                "'feature_names', 'feature_values' (the flattened row) and 'shap_values'.")
        .static_method("plot_shap",
                       {arg("explain_result"), arg("plot_type"), arg("max_show", py::int_(10)),
                        arg("scaler", py::none()),
                        arg("figsize", py::make_tuple(py::int_(8), py::int_(6)))},
                       plot_shap,
                       "Draw an explanation result and return the figure.\n\n"
                       "plot_type is 'scatter' (dependence of the SHAP values on the "
                       "result's feature; with a list, the second feature colours the points; "
                       "a fitted scaler relabels the horizontal ticks in original units), "
                       "'waterfall' (a local result), 'bar' or 'beeswarm' (a global result, "
                       "listing at most max_show features). Any other plot_type draws "
                       "nothing. The figure is shown and returned, not closed.")
        .finish();
}

} // namespace zeka::shap_explainer
