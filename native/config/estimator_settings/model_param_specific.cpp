#include "common/containers.hpp"
#include "config/estimator_settings/functions.hpp"
#include "config/estimator_settings/table_entries.hpp"

#include <vector>

namespace zeka::settings {

namespace {

// Placeholder of the free-text monotonicity field: indices or quoted names.
constexpr const char* kMonotonicPlaceholder = "0,1... or \"f0\",\"f1\"...";

struct Criterion {
    const char* value;
    std::vector<const char*> options;
};

// The splitting criteria the installed scikit-learn accepts for the task.
Criterion tree_criterion(bool sklearn_lt_1, bool sklearn_lt_1_1, bool regression) {
    if (sklearn_lt_1)
        return regression ? Criterion{"mse", {"mse", "mae"}}
                          : Criterion{"gini", {"gini", "entropy"}};
    if (sklearn_lt_1_1)
        return regression ? Criterion{"squared_error", {"squared_error", "absolute_error"}}
                          : Criterion{"gini", {"gini", "entropy"}};
    return regression ? Criterion{"squared_error", {"squared_error", "absolute_error"}}
                      : Criterion{"gini", {"gini", "entropy", "log_loss"}};
}

py::list monotonicity_entry(bool widgets_lt_8, const py::object& dataset, const char* label) {
    if (widgets_lt_8)
        return entry("Text", strings({"", kMonotonicPlaceholder}), label, py::list());
    return entry("TagsInput", list_of({py::list(), dataset.attr("feature_names")}), label,
                 py::list());
}

} // namespace

py::object model_param_specific(Frame& f) {
    py::object items = f[0];
    py::object dataset = f[1];
    py::object version = f.global("version");
    py::object sklearn_version = f.global("sklearn").attr("__version__");
    py::object widgets_version = f.global("widgets").attr("__version__");
    auto older_than = [&](const py::object& installed, const char* bound) {
        py::object parse = version.attr("parse");
        return parse(installed) < parse(bound);
    };
    bool widgets_lt_8 = older_than(widgets_version, "8.0.0");
    bool sklearn_lt_1 = older_than(sklearn_version, "1.0");
    bool sklearn_lt_1_1 = older_than(sklearn_version, "1.1");

    // Every entry is built, and every table looked up, before the first one
    // is written: a failed call leaves the table as it was.
    py::object task_type = dataset.attr("task_type");
    bool regression = equals(task_type, "regression");
    Criterion criterion = tree_criterion(sklearn_lt_1, sklearn_lt_1_1, regression);
    struct Write {
        py::object table;
        const char* key;
        py::list entry;
    };
    std::vector<Write> writes;
    writes.push_back({items[py::str("tree")], "criterion",
                      entry("Dropdown", list_of({S(criterion.value), strings(criterion.options)}),
                            "Criterion", S(criterion.value))});
    for (const char* model : {"xgb2", "xgb1", "gaminet"}) {
        py::object table = items[py::str(model)];
        writes.push_back({table, "mono_increasing_list",
                          monotonicity_entry(widgets_lt_8, dataset, "Feature_increasing")});
        writes.push_back({table, "mono_decreasing_list",
                          monotonicity_entry(widgets_lt_8, dataset, "Feature_decreasing")});
    }
    for (const Write& write : writes)
        write.table[py::str(write.key)] = write.entry;
    return items;
}

} // namespace zeka::settings
