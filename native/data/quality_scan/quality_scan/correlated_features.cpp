// Highly correlated features: a square table of pairwise association over all
// columns, styled as a heat map.
#include "common/containers.hpp"
#include "data/quality_scan/quality_scan/association_table.hpp"
#include "data/quality_scan/quality_scan/data_integrity_check.hpp"

#include <functional>

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

// Today's table by DataFrame.corr and corrwith, one call of the measure per
// pair: an object frame filled block by block.
py::object table_by_pair_calls(Frame& f, const py::list& num_features,
                               const py::list& cat_features) {
    py::object self = f[0];
    py::object data = self.attr("data");
    py::object pd = f.global("pd"), np = f.global("np");
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
    return full_df.attr("astype")(float_type);
}

// The kernels compute the package's own measures; a measure replaced in the
// module namespace is called pair by pair, as DataFrame.corr calls it. The
// kernels' table is placed by column position, which stands for the label
// only when the labels are unique.
bool bound_to(Frame& f, const char* name, const py::object& original) {
    const py::dict& names = f.globals();
    return names.contains(name) && py::object(names[name]).is(original);
}

bool kernels_serve(Frame& f, const py::object& data) {
    return bound_to(f, "symmetric_theil_u_correlation", f.captured(2)) &&
           bound_to(f, "correlation_ratio", f.captured(3)) &&
           data.attr("columns").attr("is_unique").cast<bool>();
}

// The format options a new Styler applies; they must be at their defaults
// for a Styler made under styler.format.precision = 2 to render as one
// given format(precision=2). False also where pandas has no such options.
bool default_format_options(const py::object& pd) {
    try {
        py::object option = pd.attr("get_option");
        return option("styler.format.thousands").is_none() &&
               equals(option("styler.format.decimal"), ".") &&
               option("styler.format.na_rep").is_none() &&
               option("styler.format.escape").is_none() &&
               option("styler.format.formatter").is_none();
    } catch (py::error_already_set&) {
        return false;
    }
}

// table.style, with every cell shown with 2 decimals. format(precision=2)
// files a display function for each cell (25 million entries, some 4 GiB,
// for 5,000 columns); a Styler created while styler.format.precision is 2
// has that function as the default of every cell instead.
py::object style_with_two_decimals(const py::object& table, const py::object& pd,
                                   const std::function<py::object(py::object)>& styling) {
    if (!default_format_options(pd))
        return styling(table.attr("style")).attr("format")(py::arg("precision") = 2);
    py::object context = pd.attr("option_context")("styler.format.precision", 2);
    context.attr("__enter__")();
    py::object styler;
    try {
        styler = table.attr("style");
    } catch (...) {
        context.attr("__exit__")(py::none(), py::none(), py::none());
        throw;
    }
    context.attr("__exit__")(py::none(), py::none(), py::none());
    return styling(styler);
}

} // namespace

py::object highly_correlated_features(Frame& f) {
    py::object self = f[0];
    py::object data = self.attr("data"), meta_info = self.attr("meta_info");
    py::list num_features, cat_features;
    for (py::handle col : data.attr("columns"))
        if (equals(meta_info[col], "numerical"))
            num_features.append(col);
    for (py::handle col : data.attr("columns"))
        if (equals(meta_info[col], "categorical"))
            cat_features.append(col);

    py::object table = kernels_serve(f, data) ? association_table(data, num_features, cat_features)
                                              : table_by_pair_calls(f, num_features, cat_features);
    py::object cmap = f.global("sns").attr("diverging_palette")(250, 5, py::arg("as_cmap") = true);
    py::dict properties;
    properties["width"] = "15em";
    properties["text-align"] = "center";
    return style_with_two_decimals(table, f.global("pd"), [&](py::object styler) {
        styler = styler.attr("background_gradient")(py::arg("cmap") = cmap);
        return styler.attr("set_properties")(**properties);
    });
}

} // namespace zeka::quality_scan
