#include "config/estimator_settings/parameter_tables.hpp"

#include "config/estimator_settings/table_entries.hpp"

#include <vector>

namespace zeka::settings {

namespace {

// "BoundedFloatText" whose default equals its initial value.
py::list float_box(py::object value, py::object min, py::object max, const char* label) {
    return bounded("BoundedFloatText", value, min, max, label, value);
}

py::list standardization() {
    return dropdown("True", {"True", "False"}, "standardization");
}

py::dict glm_params() {
    py::dict t;
    t["l1_regularization"] = float_box(F(0.0), I(0), I(100), "L1_regularization");
    t["l2_regularization"] = float_box(F(0.0), I(0), I(100), "L2_regularization");
    return t;
}

py::dict gam_params() {
    py::dict t;
    t["spline_order"] = int_box(3, 0, 100, "Spline_order");
    t["n_splines"] = int_box(20, 1, 1000, "n_knots");
    t["lam"] = float_box(F(0.6), I(0), I(10), "Smoothness");
    t["max_iter"] = int_box(100, 1, 10000, "Max_iterations");
    return t;
}

py::dict tree_params() {
    py::dict t;
    t["criterion"] = dropdown("gini", {"gini", "entropy", "log_loss"}, "Criterion");
    t["max_depth"] = int_box(5, 1, 100, "Max_depth");
    t["min_samples_leaf"] = int_box(5, 1, 100, "Min_samples_leaf");
    t["ccp_alpha"] = float_box(F(0.0), I(0), I(10), "Prune_parameter");
    return t;
}

py::dict figs_params() {
    py::dict t;
    t["max_depth"] = int_box(5, 1, 100, "Max_depth");
    t["max_iter"] = int_box(100, 1, 10000, "Max_iterations");
    return t;
}

// The boosting rows that "xgb1" and "xgb2" share, up to "reg_lambda".
void add_boosting_params(py::dict& t) {
    t["n_estimators"] = int_box(100, 1, 10000, "n_estimators");
    t["eta"] = float_box(F(0.3), I(0), I(1), "Learning_rate");
    t["gamma"] = float_box(I(0), I(0), I(100), "gamma");
    t["reg_alpha"] = float_box(I(0), I(0), I(100), "reg_alpha");
    t["reg_lambda"] = float_box(I(1), I(0), I(100), "reg_lambda");
}

void add_monotonicity_params(py::dict& t) {
    t["mono_increasing_list"] = empty_tags_entry("Feature_increasing");
    t["mono_decreasing_list"] = empty_tags_entry("Feature_decreasing");
}

py::dict xgb1_params() {
    py::dict t;
    add_boosting_params(t);
    t["refit_method"] = dropdown("glm", {"glm", "xgb"}, "Refit_method");
    t["min_bin_size"] = float_box(F(0.01), I(0), I(1), "min_bin_size");
    t["max_bin"] = int_box(256, 1, 10000, "max_bin");
    add_monotonicity_params(t);
    return t;
}

py::dict xgb2_params() {
    py::dict t;
    t["max_depth"] = fixed(I(2));
    add_boosting_params(t);
    t["max_bin"] = int_box(256, 1, 10000, "max_bin");
    add_monotonicity_params(t);
    return t;
}

py::dict ebm_params() {
    py::dict t;
    t["interactions"] = int_box(10, 0, 100, "n_interactions");
    t["outer_bags"] = int_box(8, 0, 100, "Outer_bags");
    t["inner_bags"] = int_box(0, 0, 100, "Inner_bags");
    t["max_bins"] = int_box(256, 0, 10000, "Max_bins");
    t["feature_names"] = fixed(py::none());
    t["max_interaction_bins"] = int_box(32, 0, 1000, "Max_interaction_bins");
    t["max_rounds"] = int_box(5000, 0, 100000, "Max_rounds");
    t["early_stopping_rounds"] = int_box(50, 0, 1000, "Early_stop_rounds");
    t["early_stopping_tolerance"] = float_box(F(0.0001), I(0), I(1), " Early_stop_tol");
    t["random_state"] = int_box(0, 0, 10000, "Random_state");
    return t;
}

py::dict gaminet_params() {
    py::dict t;
    t["interact_num"] = int_box(10, 0, 100, "n_interactions");
    t["batch_size"] = int_box(1000, 1, 10000, "Batch_size");
    add_monotonicity_params(t);
    t["subnet_size_main_effect"] = text("[20,]", "[40,40]...", "Subnet1_size", list_of({I(20)}));
    t["subnet_size_interaction"] =
        text("[20,20]", "[40,40]...", "Subnet2_size", list_of({I(20), I(20)}));
    t["max_epochs"] = text("1000, 1000, 1000", "1000, 1000, 1000", "Max_epochs",
                           list_of({I(1000), I(1000), I(1000)}));
    t["learning_rates"] = text("1e-3, 1e-3, 1e-4", "1e-3, 1e-3, 1e-4", "Learning_rates",
                               list_of({F(0.001), F(0.001), F(0.0001)}));
    t["n_jobs"] = fixed(I(8));
    t["early_stop_thres"] = fixed(strings({"auto", "auto", "auto"}));
    t["random_state"] = int_box(0, 0, 10000, "Random_state");
    return t;
}

py::dict reludnn_params() {
    py::dict t;
    t["hidden_layer_sizes"] = text("[40,40]", "", "Layer_sizes", list_of({I(40), I(40)}));
    t["max_epochs"] = int_box(1000, 1, 100000, "Max_epochs");
    t["learning_rate"] = float_box(F(0.001), I(0), I(1), "Learning_rate");
    t["batch_size"] = int_box(500, 1, 100000, "Batch_size");
    t["l1_reg"] = float_box(F(1e-05), I(0), I(1), "L1_regularization");
    t["dropout_prob"] = float_box(I(0), I(0), I(1), "Dropout_rate");
    t["val_ratio"] = fixed(F(0.2));
    t["iht"] = fixed(py::bool_(false));
    t["phase_epochs"] = fixed(I(1));
    t["threshold"] = fixed(F(0.1));
    t["device"] = fixed(S("cpu"));
    t["verbose"] = fixed(py::bool_(false));
    t["n_epoch_no_change"] = int_box(20, 1, 10000, "Early_stop_epochs");
    t["random_state"] = int_box(0, 0, 10000, "Random_state");
    return t;
}

using Texts = std::vector<const char*>;

// One model family as the tables show it: its key and display name, its
// parameter table, the interpretation panels and views it supports, and the
// parameters whose widget values param_render converts.
struct ModelFamily {
    const char* key;
    const char* display_name;
    py::dict (*params)();
    Texts panels;
    Texts views;
    Texts converted;
};

// The nine families, in the key order of every model table.
const std::vector<ModelFamily>& model_families() {
    static const Texts pair_panels = {"ei", "inter", "local_ei"};
    static const Texts additive_views = {"global_fi", "global_ei", "global_effect_plot", "local_ei",
                                         "local_fi"};
    static const Texts monotonicity = {"mono_increasing_list", "mono_decreasing_list"};
    static const std::vector<ModelFamily> families = {
        {
            "glm",
            "GLM",
            glm_params,
            {},
            {"global_fi", "local_fi", "glm_coef_plot", "glm_coef_table"},
            {},
        },
        {
            "gam",
            "GAM",
            gam_params,
            {},
            {"global_fi", "global_effect_plot", "local_fi"},
            {},
        },
        {
            "tree",
            "Tree",
            tree_params,
            {},
            {"tree_global", "tree_local"},
            {},
        },
        {
            "figs",
            "FIGS",
            figs_params,
            {},
            {"figs_heatmap", "tree_global", "tree_local"},
            {},
        },
        {
            "xgb1",
            "XGB1",
            xgb1_params,
            {"ei"},
            {"global_fi", "global_effect_plot", "local_fi", "xgb1_woe", "xgb1_iv"},
            monotonicity,
        },
        {
            "xgb2",
            "XGB2",
            xgb2_params,
            pair_panels,
            additive_views,
            monotonicity,
        },
        {
            "ebm",
            "EBM",
            ebm_params,
            pair_panels,
            additive_views,
            {},
        },
        {
            "gaminet",
            "GAMI-Net",
            gaminet_params,
            pair_panels,
            additive_views,
            {"subnet_size_main_effect", "subnet_size_interaction", "max_epochs", "learning_rates",
             "mono_increasing_list", "mono_decreasing_list"},
        },
        {
            "reludnn",
            "ReLU-DNN",
            reludnn_params,
            {"ei", "llm"},
            {"global_fi", "global_effect_plot", "llm_pc", "llm_violin", "llm_summary", "local_fi"},
            {"hidden_layer_sizes"},
        },
    };
    return families;
}

py::dict isolation_forest_params() {
    py::dict t;
    t["n_estimators"] = int_box(100, 1, 10000, "n_estimators");
    t["max_samples"] = int_box(256, 1, 10000, "max_samples");
    t["max_features"] = float_box(F(1.0), I(0), F(1.0), "max_features");
    t["bootstrap"] = dropdown("False", {"False", "True"}, "bootstrap");
    t["standardization"] = standardization();
    t["random_state"] = int_box(0, 0, 10000, "random_state");
    return t;
}

py::dict cluster_based_params() {
    py::dict t;
    t["n_clusters"] = int_box(10, 1, 1000, "n_clusters");
    t["clustering_method"] =
        dropdown("KMeans", {"KMeans", "Gaussian Mixture Model"}, "clustering_method");
    t["clustering_threshold"] = float_box(F(0.1), I(0), F(1.0), "clustering_threshold");
    t["use_weights"] = dropdown("False", {"False", "True"}, "use_weights");
    t["standardization"] = standardization();
    t["random_state"] = int_box(0, 0, 10000, "random_state");
    return t;
}

py::dict pca_params() {
    py::dict t;
    t["cumulative_variance"] = float_box(F(0.9), I(0), I(1), "cumulative_variance");
    t["d_reduction_method"] = dropdown("pca", {"pca", "sparse_pca"}, "method");
    t["score_type"] =
        dropdown("mahalanobis", {"mahalanobis", "reconstruction_error"}, "score_type");
    t["tol"] = float_box(F(0.0), I(0), I(1), "tol");
    t["alpha"] = float_box(F(0.1), I(0), F(1.0), "alpha");
    t["standardization"] = standardization();
    t["random_state"] = int_box(0, 0, 10000, "random_state");
    return t;
}

py::dict cluster_tree_params() {
    py::dict t;
    t["max_depth"] = int_box(4, 1, 100, "max_depth");
    t["max_leaves"] = int_box(10, 1, 1000, "max_leaves");
    t["distance_measure"] =
        dropdown("ReconstErr", {"ReconstErr", "Euclidean", "PSI", "WD1", "KS"}, "distance_measure");
    t["min_distance"] = float_box(F(0.2), I(0), I(1), "min_distance");
    t["min_samples_leaf"] = int_box(50, 1, 10000, "min_samples_leaf");
    t["standardization"] = standardization();
    return t;
}

py::dict knn_params() {
    py::dict t;
    t["n_neighbors"] = int_box(5, 1, 100, "n_neighbors");
    t["algorithm"] = dropdown("auto", {"auto", "ball_tree", "kd_tree", "brute"}, "algorithm");
    t["score_method"] = dropdown("mean", {"mean", "largest", "median"}, "score_method");
    t["radius"] = float_box(F(1.0), I(0), I(10), "radius");
    t["standardization"] = standardization();
    return t;
}

py::dict hbos_params() {
    py::dict t;
    t["n_bins"] = int_box(10, 1, 100, "n_bins");
    t["alpha"] = float_box(F(0.1), I(0), I(1), "alpha");
    t["tol"] = float_box(F(0.5), I(0), I(1), "tol");
    t["standardization"] = standardization();
    return t;
}

py::dict novelty_params() {
    py::dict t;
    t["kernel"] = dropdown("rbf", {"linear", "poly", "rbf", "sigmoid"}, "kernel");
    t["degree"] = int_box(3, 1, 10, "degree");
    t["gamma"] = dropdown("scale", {"scale", "auto"}, "gamma");
    t["coef0"] = float_box(F(0.0), I(0), I(1), "coef0");
    t["tol"] = float_box(F(0.001), I(0), I(1), "tol");
    t["nu"] = float_box(F(0.5), I(0), I(1), "nu");
    t["standardization"] = standardization();
    return t;
}

py::dict ecod_params() {
    py::dict t;
    t["standardization"] = standardization();
    return t;
}

// One outlier-detection method: its key, parameter table and the parameters
// whose widget values param_render converts.
struct OutlierMethod {
    const char* key;
    py::dict (*params)();
    Texts converted;
};

// The eight methods, in the key order of both method tables. "pca" converts
// "whiten" although its table has no such row, for callers that pass it.
const std::vector<OutlierMethod>& outlier_methods() {
    static const std::vector<OutlierMethod> methods = {
        {"if", isolation_forest_params, {"bootstrap", "standardization"}},
        {"cb", cluster_based_params, {"use_weights", "clustering_method", "standardization"}},
        {"pca", pca_params, {"whiten", "standardization"}},
        {"cbtree", cluster_tree_params, {"standardization"}},
        {"knn", knn_params, {"standardization"}},
        {"hbos", hbos_params, {"standardization"}},
        {"novelty", novelty_params, {"standardization"}},
        {"ecod", ecod_params, {"standardization"}},
    };
    return methods;
}

} // namespace

py::list empty_tags_entry(const char* label) {
    return entry("TagsInput", list_of({py::list(), py::list()}), label, py::list());
}

py::dict model_name_items() {
    py::dict t;
    for (const ModelFamily& family : model_families())
        t[family.key] = family.display_name;
    return t;
}

py::dict model_param_items() {
    py::dict t;
    for (const ModelFamily& family : model_families())
        t[family.key] = family.params();
    return t;
}

py::dict interpret_panel_setting() {
    py::dict t;
    for (const ModelFamily& family : model_families())
        t[family.key] = strings(family.panels);
    return t;
}

py::dict interpret_support() {
    py::dict t;
    for (const ModelFamily& family : model_families())
        t[family.key] = strings(family.views);
    return t;
}

py::dict od_param_items() {
    py::dict t;
    for (const OutlierMethod& method : outlier_methods())
        t[method.key] = method.params();
    return t;
}

py::dict need_render_model_params() {
    py::dict t;
    for (const ModelFamily& family : model_families())
        t[family.key] = strings(family.converted);
    return t;
}

py::dict need_render_od_params() {
    py::dict t;
    for (const OutlierMethod& method : outlier_methods())
        t[method.key] = strings(method.converted);
    return t;
}

} // namespace zeka::settings
