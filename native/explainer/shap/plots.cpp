// plot_shap: draws an explanation result as a dependence scatter or as one of
// shap's waterfall, bar and beeswarm plots.
#include "common/containers.hpp"
#include "explainer/shap/shap_explainer.hpp"

namespace zeka::shap_explainer {

namespace {

// A waterfall lists this many features, whatever `max_show` says.
constexpr int kWaterfallDisplay = 10;

// `values[:, column]`.
py::object column_of(const py::object& values, const py::object& column) {
    return values[py::make_tuple(py::slice(py::none(), py::none(), py::none()), column)];
}

// The dependence scatter of the result's feature: a list names the plotted
// feature and the one that colours it.
py::object draw_scatter(const Frame& f, const py::object& values, const py::object& feature,
                        const py::object& scaler, const py::object& figsize) {
    py::object scatter = f.global("scatter_");
    py::object fig;
    if (PyList_Check(feature.ptr()))
        fig = scatter(column_of(values, feature[py::int_(0)]),
                      py::arg("color") = column_of(values, feature[py::int_(1)]),
                      py::arg("show") = false);
    else
        fig = scatter(column_of(values, feature), py::arg("show") = false);
    fig.attr("set_size_inches")(figsize);
    if (!scaler.is_none())
        f.global("scale_plot_ticks")(py::arg("ax") = fig.attr("gca")(),
                                     py::arg("feature") = feature, py::arg("scaler") = scaler,
                                     py::arg("axis") = 0);
    return fig;
}

} // namespace

py::object plot_shap(Frame& f) {
    py::object value = f[0].attr("value");
    py::object plot_type = f[1];
    py::object max_show = f[2];
    py::object scaler = f[3];
    py::object figsize = f[4];
    py::object plt = f.global("plt");
    py::object values = value[py::str("shap_values")];

    py::object fig;
    if (equals(plot_type, "scatter")) {
        fig = draw_scatter(f, values, value[py::str("feature")], scaler, figsize);
    } else {
        fig = plt.attr("figure")();
        py::object plots = f.global("shap").attr("plots");
        if (equals(plot_type, "waterfall"))
            plots.attr("waterfall")(values, py::arg("show") = false,
                                    py::arg("max_display") = kWaterfallDisplay);
        else if (equals(plot_type, "bar"))
            plots.attr("bar")(values, py::arg("show") = false, py::arg("max_display") = max_show);
        else if (equals(plot_type, "beeswarm"))
            plots.attr("beeswarm")(values, py::arg("show") = false,
                                   py::arg("max_display") = max_show);
        fig.attr("set_size_inches")(figsize);
    }
    plt.attr("show")();
    return fig;
}

} // namespace zeka::shap_explainer
