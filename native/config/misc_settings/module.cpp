// zeka.config.misc_settings: scikit-learn scorers by short metric name and
// the names of the built-in demonstration datasets.
#include "common/module.hpp"

#include "common/containers.hpp"

#include <pybind11/pybind11.h>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

using MetricNames = std::vector<std::pair<const char*, const char*>>;

// {short name: get_scorer(scorer name)}, calling the module's get_scorer.
py::dict scorers(const py::module_& m, const MetricNames& names) {
    py::object get_scorer = m.attr("get_scorer");
    py::dict table;
    for (const auto& [key, scorer_name] : names)
        table[key] = get_scorer(scorer_name);
    return table;
}

py::dict dataset_names() {
    py::dict names;
    for (const char* name :
         {"SimuCredit_raw", "SimuCredit_trim1", "SimuCredit_trim2", "SimuHousing", "SimuRegression",
          "SimuClassification", "Friedman1", "Hastie10", "Diabetes", "BreastCancer"})
        names[name] = name;
    return names;
}

} // namespace

ZEKA_MODULE(misc_settings, m) {
    m.attr("get_scorer") = py::module_::import("sklearn.metrics").attr("get_scorer");
    m.attr("REG_METRICS_ADDITIVE") =
        scorers(m, {{"MSE", "neg_mean_squared_error"}, {"MAE", "neg_mean_absolute_error"}});
    m.attr("CLS_METRICS_ADDITIVE") = scorers(
        m, {{"ACC", "accuracy"}, {"LogLoss", "neg_log_loss"}, {"Brier", "neg_brier_score"}});
    py::dict regression = scorers(
        m, {{"MSE", "neg_mean_squared_error"}, {"MAE", "neg_mean_absolute_error"}, {"R2", "r2"}});
    py::dict classification = scorers(m, {{"ACC", "accuracy"},
                                          {"AUC", "roc_auc"},
                                          {"F1", "f1"},
                                          {"LogLoss", "neg_log_loss"},
                                          {"Brier", "neg_brier_score"}});
    m.attr("REG_METRICS") = regression;
    m.attr("CLS_METRICS") = classification;
    m.attr("METRICS") = zeka::dict_union({regression, classification});
    m.attr("DATASET_NAMES") = dataset_names();
}
