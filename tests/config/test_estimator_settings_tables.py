import pytest

from zeka.config import estimator_settings as es

MODEL_KEYS = ["glm", "gam", "tree", "figs", "xgb1", "xgb2", "ebm", "gaminet", "reludnn"]
OD_KEYS = ["if", "cb", "pca", "cbtree", "knn", "hbos", "novelty", "ecod"]


def int_box(value, lo, hi, label):
    return ["BoundedIntText", [value, lo, hi], label, value]


def float_box(value, lo, hi, label):
    return ["BoundedFloatText", [value, lo, hi], label, value]


def dropdown(value, options, label):
    return ["Dropdown", [value, options], label, value]


def tags(label):
    return ["TagsInput", [[], []], label, []]


def fixed(value):
    return ["", [], "", value]


STANDARDIZATION = dropdown("True", ["True", "False"], "standardization")
BOOSTING = {
    "n_estimators": int_box(100, 1, 10000, "n_estimators"),
    "eta": float_box(0.3, 0, 1, "Learning_rate"),
    "gamma": float_box(0, 0, 100, "gamma"),
    "reg_alpha": float_box(0, 0, 100, "reg_alpha"),
    "reg_lambda": float_box(1, 0, 100, "reg_lambda"),
}
MONOTONE = {
    "mono_increasing_list": tags("Feature_increasing"),
    "mono_decreasing_list": tags("Feature_decreasing"),
}

EXPECTED_MODEL_PARAMS = {
    "glm": {
        "l1_regularization": float_box(0.0, 0, 100, "L1_regularization"),
        "l2_regularization": float_box(0.0, 0, 100, "L2_regularization"),
    },
    "gam": {
        "spline_order": int_box(3, 0, 100, "Spline_order"),
        "n_splines": int_box(20, 1, 1000, "n_knots"),
        "lam": float_box(0.6, 0, 10, "Smoothness"),
        "max_iter": int_box(100, 1, 10000, "Max_iterations"),
    },
    "tree": {
        "criterion": dropdown("gini", ["gini", "entropy", "log_loss"], "Criterion"),
        "max_depth": int_box(5, 1, 100, "Max_depth"),
        "min_samples_leaf": int_box(5, 1, 100, "Min_samples_leaf"),
        "ccp_alpha": float_box(0.0, 0, 10, "Prune_parameter"),
    },
    "figs": {
        "max_depth": int_box(5, 1, 100, "Max_depth"),
        "max_iter": int_box(100, 1, 10000, "Max_iterations"),
    },
    "xgb1": {
        **BOOSTING,
        "refit_method": dropdown("glm", ["glm", "xgb"], "Refit_method"),
        "min_bin_size": float_box(0.01, 0, 1, "min_bin_size"),
        "max_bin": int_box(256, 1, 10000, "max_bin"),
        **MONOTONE,
    },
    "xgb2": {
        "max_depth": fixed(2),
        **BOOSTING,
        "max_bin": int_box(256, 1, 10000, "max_bin"),
        **MONOTONE,
    },
    "ebm": {
        "interactions": int_box(10, 0, 100, "n_interactions"),
        "outer_bags": int_box(8, 0, 100, "Outer_bags"),
        "inner_bags": int_box(0, 0, 100, "Inner_bags"),
        "max_bins": int_box(256, 0, 10000, "Max_bins"),
        "feature_names": fixed(None),
        "max_interaction_bins": int_box(32, 0, 1000, "Max_interaction_bins"),
        "max_rounds": int_box(5000, 0, 100000, "Max_rounds"),
        "early_stopping_rounds": int_box(50, 0, 1000, "Early_stop_rounds"),
        "early_stopping_tolerance": float_box(0.0001, 0, 1, " Early_stop_tol"),
        "random_state": int_box(0, 0, 10000, "Random_state"),
    },
    "gaminet": {
        "interact_num": int_box(10, 0, 100, "n_interactions"),
        "batch_size": int_box(1000, 1, 10000, "Batch_size"),
        **MONOTONE,
        "subnet_size_main_effect": ["Text", ["[20,]", "[40,40]..."], "Subnet1_size", [20]],
        "subnet_size_interaction": ["Text", ["[20,20]", "[40,40]..."], "Subnet2_size", [20, 20]],
        "max_epochs": [
            "Text",
            ["1000, 1000, 1000", "1000, 1000, 1000"],
            "Max_epochs",
            [1000, 1000, 1000],
        ],
        "learning_rates": [
            "Text",
            ["1e-3, 1e-3, 1e-4", "1e-3, 1e-3, 1e-4"],
            "Learning_rates",
            [0.001, 0.001, 0.0001],
        ],
        "n_jobs": fixed(8),
        "early_stop_thres": fixed(["auto", "auto", "auto"]),
        "random_state": int_box(0, 0, 10000, "Random_state"),
    },
    "reludnn": {
        "hidden_layer_sizes": ["Text", ["[40,40]", ""], "Layer_sizes", [40, 40]],
        "max_epochs": int_box(1000, 1, 100000, "Max_epochs"),
        "learning_rate": float_box(0.001, 0, 1, "Learning_rate"),
        "batch_size": int_box(500, 1, 100000, "Batch_size"),
        "l1_reg": float_box(1e-05, 0, 1, "L1_regularization"),
        "dropout_prob": float_box(0, 0, 1, "Dropout_rate"),
        "val_ratio": fixed(0.2),
        "iht": fixed(False),
        "phase_epochs": fixed(1),
        "threshold": fixed(0.1),
        "device": fixed("cpu"),
        "verbose": fixed(False),
        "n_epoch_no_change": int_box(20, 1, 10000, "Early_stop_epochs"),
        "random_state": int_box(0, 0, 10000, "Random_state"),
    },
}

EXPECTED_OD_PARAMS = {
    "if": {
        "n_estimators": int_box(100, 1, 10000, "n_estimators"),
        "max_samples": int_box(256, 1, 10000, "max_samples"),
        "max_features": float_box(1.0, 0, 1.0, "max_features"),
        "bootstrap": dropdown("False", ["False", "True"], "bootstrap"),
        "standardization": STANDARDIZATION,
        "random_state": int_box(0, 0, 10000, "random_state"),
    },
    "cb": {
        "n_clusters": int_box(10, 1, 1000, "n_clusters"),
        "clustering_method": dropdown(
            "KMeans", ["KMeans", "Gaussian Mixture Model"], "clustering_method"
        ),
        "clustering_threshold": float_box(0.1, 0, 1.0, "clustering_threshold"),
        "use_weights": dropdown("False", ["False", "True"], "use_weights"),
        "standardization": STANDARDIZATION,
        "random_state": int_box(0, 0, 10000, "random_state"),
    },
    "pca": {
        "cumulative_variance": float_box(0.9, 0, 1, "cumulative_variance"),
        "d_reduction_method": dropdown("pca", ["pca", "sparse_pca"], "method"),
        "score_type": dropdown(
            "mahalanobis", ["mahalanobis", "reconstruction_error"], "score_type"
        ),
        "tol": float_box(0.0, 0, 1, "tol"),
        "alpha": float_box(0.1, 0, 1.0, "alpha"),
        "standardization": STANDARDIZATION,
        "random_state": int_box(0, 0, 10000, "random_state"),
    },
    "cbtree": {
        "max_depth": int_box(4, 1, 100, "max_depth"),
        "max_leaves": int_box(10, 1, 1000, "max_leaves"),
        "distance_measure": dropdown(
            "ReconstErr", ["ReconstErr", "Euclidean", "PSI", "WD1", "KS"], "distance_measure"
        ),
        "min_distance": float_box(0.2, 0, 1, "min_distance"),
        "min_samples_leaf": int_box(50, 1, 10000, "min_samples_leaf"),
        "standardization": STANDARDIZATION,
    },
    "knn": {
        "n_neighbors": int_box(5, 1, 100, "n_neighbors"),
        "algorithm": dropdown("auto", ["auto", "ball_tree", "kd_tree", "brute"], "algorithm"),
        "score_method": dropdown("mean", ["mean", "largest", "median"], "score_method"),
        "radius": float_box(1.0, 0, 10, "radius"),
        "standardization": STANDARDIZATION,
    },
    "hbos": {
        "n_bins": int_box(10, 1, 100, "n_bins"),
        "alpha": float_box(0.1, 0, 1, "alpha"),
        "tol": float_box(0.5, 0, 1, "tol"),
        "standardization": STANDARDIZATION,
    },
    "novelty": {
        "kernel": dropdown("rbf", ["linear", "poly", "rbf", "sigmoid"], "kernel"),
        "degree": int_box(3, 1, 10, "degree"),
        "gamma": dropdown("scale", ["scale", "auto"], "gamma"),
        "coef0": float_box(0.0, 0, 1, "coef0"),
        "tol": float_box(0.001, 0, 1, "tol"),
        "nu": float_box(0.5, 0, 1, "nu"),
        "standardization": STANDARDIZATION,
    },
    "ecod": {"standardization": STANDARDIZATION},
}


def typed(value):
    """A value with the types of every number spelled out, so 0 == 0.0 cannot pass."""
    if isinstance(value, list):
        return [typed(v) for v in value]
    if isinstance(value, dict):
        return [(k, typed(v)) for k, v in value.items()]
    return (type(value).__name__, value)


@pytest.fixture(scope="module")
def fresh():
    """The tables as imported, before any test adapts them."""
    import copy

    return copy.deepcopy(es.model_param_items)


def test_module_names_are_bound_in_order():
    names = [n for n in vars(es) if not n.startswith("__")]
    assert names == [
        "ast",
        "json",
        "sklearn",
        "widgets",
        "version",
        "model_name_items",
        "model_param_items",
        "model_param_specific",
        "INTERPRET_PANEL_SETTING",
        "INTERPRET_SUPPORT",
        "od_param_items",
        "NEED_RENDER_MODEL_PARAMS",
        "NEED_RENDER_OD_PARAMS",
        "NEED_RENDER_PARAMS",
        "param_render",
    ]
    import ast
    import json

    import ipywidgets
    import sklearn
    from packaging import version

    assert (es.ast, es.json, es.sklearn, es.widgets, es.version) == (
        ast,
        json,
        sklearn,
        ipywidgets,
        version,
    )


def test_model_names():
    assert es.model_name_items == {
        "glm": "GLM",
        "gam": "GAM",
        "tree": "Tree",
        "figs": "FIGS",
        "xgb1": "XGB1",
        "xgb2": "XGB2",
        "ebm": "EBM",
        "gaminet": "GAMI-Net",
        "reludnn": "ReLU-DNN",
    }
    assert list(es.model_name_items) == MODEL_KEYS


@pytest.mark.parametrize("model", MODEL_KEYS)
def test_model_param_table(fresh, model):
    assert typed(fresh[model]) == typed(EXPECTED_MODEL_PARAMS[model])


@pytest.mark.parametrize("method", OD_KEYS)
def test_od_param_table(method):
    assert typed(es.od_param_items[method]) == typed(EXPECTED_OD_PARAMS[method])


def test_table_key_orders():
    assert list(es.model_param_items) == MODEL_KEYS
    assert list(es.od_param_items) == OD_KEYS
    for table in (es.INTERPRET_PANEL_SETTING, es.INTERPRET_SUPPORT, es.NEED_RENDER_MODEL_PARAMS):
        assert list(table) == MODEL_KEYS
    assert list(es.NEED_RENDER_OD_PARAMS) == OD_KEYS
    assert list(es.NEED_RENDER_PARAMS) == MODEL_KEYS + OD_KEYS


def lists_in(value):
    if isinstance(value, list):
        yield value
        for item in value:
            yield from lists_in(item)
    elif isinstance(value, dict):
        for item in value.values():
            yield from lists_in(item)


def test_no_two_entries_share_a_list():
    tables = [
        es.model_param_items,
        es.od_param_items,
        es.INTERPRET_PANEL_SETTING,
        es.INTERPRET_SUPPORT,
        es.NEED_RENDER_MODEL_PARAMS,
        es.NEED_RENDER_OD_PARAMS,
    ]
    ids = [id(lst) for table in tables for lst in lists_in(table)]
    assert len(ids) == len(set(ids))


def test_interpretation_tables():
    assert es.INTERPRET_PANEL_SETTING == {
        "glm": [],
        "gam": [],
        "tree": [],
        "figs": [],
        "xgb1": ["ei"],
        "xgb2": ["ei", "inter", "local_ei"],
        "ebm": ["ei", "inter", "local_ei"],
        "gaminet": ["ei", "inter", "local_ei"],
        "reludnn": ["ei", "llm"],
    }
    additive = ["global_fi", "global_ei", "global_effect_plot", "local_ei", "local_fi"]
    assert es.INTERPRET_SUPPORT == {
        "glm": ["global_fi", "local_fi", "glm_coef_plot", "glm_coef_table"],
        "gam": ["global_fi", "global_effect_plot", "local_fi"],
        "tree": ["tree_global", "tree_local"],
        "figs": ["figs_heatmap", "tree_global", "tree_local"],
        "xgb1": ["global_fi", "global_effect_plot", "local_fi", "xgb1_woe", "xgb1_iv"],
        "xgb2": additive,
        "ebm": additive,
        "gaminet": additive,
        "reludnn": [
            "global_fi",
            "global_effect_plot",
            "llm_pc",
            "llm_violin",
            "llm_summary",
            "local_fi",
        ],
    }


def test_render_tables():
    mono = ["mono_increasing_list", "mono_decreasing_list"]
    assert es.NEED_RENDER_MODEL_PARAMS == {
        "glm": [],
        "gam": [],
        "tree": [],
        "figs": [],
        "xgb1": mono,
        "xgb2": mono,
        "ebm": [],
        "gaminet": [
            "subnet_size_main_effect",
            "subnet_size_interaction",
            "max_epochs",
            "learning_rates",
        ]
        + mono,
        "reludnn": ["hidden_layer_sizes"],
    }
    assert es.NEED_RENDER_OD_PARAMS == {
        "if": ["bootstrap", "standardization"],
        "cb": ["use_weights", "clustering_method", "standardization"],
        "pca": ["whiten", "standardization"],
        **{key: ["standardization"] for key in ["cbtree", "knn", "hbos", "novelty", "ecod"]},
    }
    union = es.NEED_RENDER_PARAMS
    assert union is not es.NEED_RENDER_MODEL_PARAMS and union is not es.NEED_RENDER_OD_PARAMS
    for source in (es.NEED_RENDER_MODEL_PARAMS, es.NEED_RENDER_OD_PARAMS):
        for key, value in source.items():
            assert union[key] is value
