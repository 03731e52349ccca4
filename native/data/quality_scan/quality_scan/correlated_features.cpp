// Highly correlated features: a square table of pairwise association over all
// columns, styled as a heat map.
#include "common/containers.hpp"
#include "data/quality_scan/quality_scan/data_integrity_check.hpp"

namespace zeka::quality_scan {

namespace {

// lambda x: pd.factorize(x)[0]
py::object factorize_codes(Frame& f) {
    return f.global("pd").attr("factorize")(f[0])[py::int_(0)];
}

// lambda x: self.data.loc[:, num_features].astype(float).corrwith(x, method=correlation_ratio)
py::object ratio_with_numericals(Frame& f) {
    py::object self = f.captured(0), num_features = f.captured(1);
    py::object numericals = self.attr("data").attr(
        "loc")[py::make_tuple(py::slice(py::none(), py::none(), py::none()), num_features)];
    return numericals.attr("astype")(builtins().attr("float"))
        .attr("corrwith")(f[0], py::arg("method") = f.global("correlation_ratio"));
}

py::object local_function(Frame& f, const char* name, Body body, py::tuple closure = py::tuple()) {
    FunctionDef def{name,
                    std::string("DataIntegrityCheck.highly_correlated_features.<locals>.") + name,
                    {arg("x")},
                    body,
                    ""};
    return make_function(std::move(def), f.globals(), std::move(closure));
}

// np.NaN, or np.nan on numpy releases without that name.
py::object numpy_nan(const py::object& np) {
    return py::hasattr(np, "NaN") ? np.attr("NaN") : np.attr("nan");
}

} // namespace

py::object highly_correlated_features(Frame& f) {
    py::object self = f[0];
    py::object data = self.attr("data"), meta_info = self.attr("meta_info");
    py::object pd = f.global("pd"), np = f.global("np");
    py::list num_features, cat_features;
    for (py::handle col : data.attr("columns"))
        if (equals(meta_info[col], "numerical"))
            num_features.append(col);
    for (py::handle col : data.attr("columns"))
        if (equals(meta_info[col], "categorical"))
            cat_features.append(col);
    py::slice all = py::slice(py::none(), py::none(), py::none());

    py::object cat_data = data.attr("loc")[py::make_tuple(all, cat_features)];
    py::object float_type = builtins().attr("float");
    // DataFrame.apply cannot build its result from a frame without rows: such
    // a frame's codes are an empty float table, and its pairs have no data
    // (NaN) in every block.
    bool has_rows = py::len(data) > 0;
    py::object encoded_cat_data;
    if (has_rows) {
        encoded_cat_data = cat_data.attr("apply")(local_function(f, "<lambda>", factorize_codes));
        encoded_cat_data.attr("replace")(-1, numpy_nan(np), py::arg("inplace") = true);
    } else {
        encoded_cat_data = pd.attr("DataFrame")(py::arg("index") = cat_data.attr("index"),
                                                py::arg("columns") = cat_data.attr("columns"),
                                                py::arg("dtype") = float_type);
    }

    py::object all_features = data.attr("columns");
    py::object full_df =
        pd.attr("DataFrame")(py::arg("index") = all_features, py::arg("columns") = all_features);
    py::object full_loc = full_df.attr("loc");
    if (!num_features.empty())
        full_loc[py::make_tuple(num_features, num_features)] =
            data.attr("loc")[py::make_tuple(all, num_features)]
                .attr("astype")(float_type)
                .attr("corr")(py::arg("method") = "spearman");
    if (!cat_features.empty())
        full_loc[py::make_tuple(cat_features, cat_features)] = encoded_cat_data.attr("corr")(
            py::arg("method") = f.global("symmetric_theil_u_correlation"));
    if (has_rows && !num_features.empty() && !cat_features.empty()) {
        py::object num_cat_corr = encoded_cat_data.attr("apply")(local_function(
            f, "<lambda>", ratio_with_numericals, py::make_tuple(self, num_features)));
        full_loc[py::make_tuple(num_features, cat_features)] = num_cat_corr;
        full_loc[py::make_tuple(cat_features, num_features)] = num_cat_corr.attr("transpose")();
    }
    py::object cmap = f.global("sns").attr("diverging_palette")(250, 5, py::arg("as_cmap") = true);
    py::dict properties;
    properties["width"] = "15em";
    properties["text-align"] = "center";
    py::object styler = full_df.attr("astype")(float_type)
                            .attr("style")
                            .attr("background_gradient")(py::arg("cmap") = cmap);
    styler = styler.attr("set_properties")(**properties);
    return styler.attr("format")(py::arg("precision") = 2);
}

} // namespace zeka::quality_scan
