import copy
import inspect
import json
from types import SimpleNamespace

import pytest

from zeka.config import estimator_settings as es

PLACEHOLDER = '0,1... or "f0","f1"...'
MONOTONE_MODELS = ["xgb2", "xgb1", "gaminet"]


def dataset(task_type="classification", feature_names=("a", "b", "c")):
    return SimpleNamespace(task_type=task_type, feature_names=list(feature_names))


@pytest.fixture
def versions(monkeypatch):
    def set_versions(sklearn="1.3.0", widgets="8.1.0"):
        monkeypatch.setattr(es, "sklearn", SimpleNamespace(__version__=sklearn))
        monkeypatch.setattr(es, "widgets", SimpleNamespace(__version__=widgets))

    return set_versions


@pytest.fixture
def table():
    return copy.deepcopy(es.model_param_items)


@pytest.mark.parametrize(
    "sklearn_version, task, value, options",
    [
        ("0.24.2", "regression", "mse", ["mse", "mae"]),
        ("0.24.2", "classification", "gini", ["gini", "entropy"]),
        ("1.0.2", "regression", "squared_error", ["squared_error", "absolute_error"]),
        ("1.0.2", "classification", "gini", ["gini", "entropy"]),
        ("1.1", "regression", "squared_error", ["squared_error", "absolute_error"]),
        ("1.3", "classification", "gini", ["gini", "entropy", "log_loss"]),
        ("1.3", "Regression", "gini", ["gini", "entropy", "log_loss"]),
        ("1.3", None, "gini", ["gini", "entropy", "log_loss"]),
    ],
)
def test_tree_criterion_follows_version_and_task(
    versions, table, sklearn_version, task, value, options
):
    versions(sklearn=sklearn_version)
    es.model_param_specific(table, dataset(task))
    assert table["tree"]["criterion"] == ["Dropdown", [value, options], "Criterion", value]


@pytest.mark.parametrize("widgets_version", ["7.7.5", "8.0.0rc1"])
def test_monotonicity_entries_as_text_before_ipywidgets_8(versions, table, widgets_version):
    versions(widgets=widgets_version)
    es.model_param_specific(table, dataset())
    for model in MONOTONE_MODELS:
        assert table[model]["mono_increasing_list"] == [
            "Text",
            ["", PLACEHOLDER],
            "Feature_increasing",
            [],
        ]
        assert table[model]["mono_decreasing_list"] == [
            "Text",
            ["", PLACEHOLDER],
            "Feature_decreasing",
            [],
        ]


def test_monotonicity_entries_as_tags_from_ipywidgets_8(versions, table):
    versions(widgets="8.0.0")
    data = dataset(feature_names=["x1", "x2"])
    es.model_param_specific(table, data)
    for model in MONOTONE_MODELS:
        for key, label in [
            ("mono_increasing_list", "Feature_increasing"),
            ("mono_decreasing_list", "Feature_decreasing"),
        ]:
            entry = table[model][key]
            assert entry == ["TagsInput", [[], ["x1", "x2"]], label, []]
            assert entry[1][1] is data.feature_names  # the dataset's own list


def test_feature_names_are_read_for_each_entry(versions, table):
    versions()

    class CountingDataset:
        task_type = "regression"
        reads = 0

        @property
        def feature_names(self):
            CountingDataset.reads += 1
            return ["f"]

    es.model_param_specific(table, CountingDataset())
    assert CountingDataset.reads == 6


def test_returns_the_argument_and_leaves_other_entries_alone(versions, table):
    versions()
    before = copy.deepcopy(table)
    old_depth = table["tree"]["max_depth"]
    result = es.model_param_specific(dataset=dataset(), model_param_items=table)
    assert result is table
    assert table["tree"]["max_depth"] is old_depth
    changed = {("tree", "criterion")} | {
        (m, k) for m in MONOTONE_MODELS for k in ("mono_increasing_list", "mono_decreasing_list")
    }
    for model, params in before.items():
        for key, entry in params.items():
            if (model, key) not in changed:
                assert table[model][key] == entry


def test_entries_written_are_fresh_lists(versions, table):
    versions(widgets="7.6.0")
    es.model_param_specific(table, dataset())
    entries = [
        table[m][k]
        for m in MONOTONE_MODELS
        for k in ("mono_increasing_list", "mono_decreasing_list")
    ]
    assert len({id(e) for e in entries}) == 6
    assert len({id(e[3]) for e in entries}) == 6


def test_adapting_the_module_table_changes_it(versions, monkeypatch):
    monkeypatch.setattr(es, "model_param_items", copy.deepcopy(es.model_param_items))
    versions(sklearn="0.23")
    es.model_param_specific(es.model_param_items, dataset("regression"))
    assert es.model_param_items["tree"]["criterion"][3] == "mse"


@pytest.mark.parametrize(
    "break_it, error",
    [
        (lambda t, d: t.pop("xgb1"), KeyError),
        (lambda t, d: delattr(d, "task_type"), AttributeError),
        (lambda t, d: delattr(d, "feature_names"), AttributeError),
    ],
)
def test_failures_propagate(versions, table, break_it, error):
    versions()
    data = dataset()
    break_it(table, data)
    with pytest.raises(error):
        es.model_param_specific(table, data)


def test_unparsable_version_fails(versions, table):
    from packaging.version import InvalidVersion

    versions(sklearn="not a version")
    with pytest.raises(InvalidVersion):
        es.model_param_specific(table, dataset())


# --- param_render -------------------------------------------------------------------------


@pytest.mark.parametrize(
    "model, param, value, expected",
    [
        ("glm", "l1_regularization", 0.5, 0.5),
        ("gaminet", "max_epochs", "1000, 1000, 1000", [1000, 1000, 1000]),
        ("gaminet", "max_epochs", "10,,20", [10, 20]),
        ("gaminet", "learning_rates", "1e-3, 1e-3, 1e-4", [1e-3, 1e-3, 1e-4]),
        ("gaminet", "subnet_size_main_effect", "[20,]", [20]),
        ("gaminet", "subnet_size_interaction", "[20,20]", [20, 20]),
        ("gaminet", "subnet_size_interaction", "[20, 20]", [20, 20]),
        ("gaminet", "subnet_size_interaction", "[10,20,30]", [10, 20, 30]),
        ("reludnn", "hidden_layer_sizes", "[40,40]", [40, 40]),
        ("if", "bootstrap", "True", True),
        ("if", "bootstrap", "true", False),
        ("if", "bootstrap", True, True),
        ("pca", "whiten", "True", True),
        ("cb", "use_weights", "False", False),
        ("cbtree", "standardization", "False", False),
        ("cb", "clustering_method", "Gaussian Mixture Model", "gmm"),
        ("cb", "clustering_method", "KMeans", "kmeans"),
        ("cb", "clustering_method", "kmeans", "kmeans"),
        ("tree", "criterion", "gini", "gini"),
    ],
)
def test_param_render_conversions(model, param, value, expected):
    result = es.param_render(model, param, value)
    assert result == expected and type(result) is type(expected)


@pytest.mark.parametrize("value", [0.5, "x", [1], None])
def test_unlisted_parameters_come_back_as_they_are(value):
    assert es.param_render("ebm", "interactions", value) is value


@pytest.mark.parametrize("method", ["knn", "hbos", "novelty", "ecod", "if", "cb", "pca", "cbtree"])
@pytest.mark.parametrize("text, expected", [("True", True), ("False", False)])
def test_every_standardization_dropdown_becomes_a_bool(method, text, expected):
    # "False" must never reach an estimator as a (truthy) string
    assert es.param_render(method, "standardization", text) is expected


def test_standardization_non_strings_are_unchanged():
    marker = object()
    assert es.param_render("novelty", "standardization", marker) is marker


class Text(str):
    pass


@pytest.mark.parametrize("model", MONOTONE_MODELS)
@pytest.mark.parametrize("key", ["mono_increasing_list", "mono_decreasing_list"])
@pytest.mark.parametrize(
    "value, expected",
    [
        ("", []),
        ("0,2", ["a", "c"]),
        (" 1 , 0", ["b", "a"]),
        ("-1", ["c"]),
        ('"a", "b"', ["a", "b"]),
        ('"a"', ["a"]),
        ('" a ","b "', ["a", "b"]),
        (Text("1"), ["b"]),
    ],
)
def test_monotonicity_text_becomes_a_list_of_names(model, key, value, expected):
    result = es.param_render(model, key, value, ["a", "b", "c"])
    assert result == expected and type(result) is list


def test_monotonicity_empty_results_are_fresh_lists():
    first = es.param_render("xgb1", "mono_increasing_list", "")
    first.append("x")
    assert es.param_render("xgb1", "mono_increasing_list", "") == []


def test_monotonicity_list_from_tags_is_returned_unchanged():
    tags = ["a", "b"]
    assert es.param_render("xgb2", "mono_decreasing_list", tags, ["a", "b"]) is tags


@pytest.mark.parametrize(
    "args, error",
    [
        (("lasso", "alpha", 1), KeyError),
        (("gaminet", "max_epochs", "10, "), ValueError),
        (("gaminet", "learning_rates", "1e-3,abc"), ValueError),
        (("gaminet", "subnet_size_main_effect", "[20]"), ValueError),
        (("gaminet", "subnet_size_main_effect", "[]"), ValueError),
        (("reludnn", "hidden_layer_sizes", "[40,40,]"), json.JSONDecodeError),
        (("xgb1", "mono_increasing_list", ",1", ["a", "b"]), IndexError),
        (("xgb1", "mono_increasing_list", "5", ["a", "b"]), IndexError),
        (("xgb1", "mono_increasing_list", "0", None), TypeError),
        (("xgb1", "mono_increasing_list", "x", ["a"]), ValueError),
        (("xgb1", "mono_increasing_list", '"a', ["a"]), SyntaxError),
    ],
)
def test_param_render_errors_propagate(args, error):
    with pytest.raises(error):
        es.param_render(*args)


def test_model_key_error_names_the_key():
    with pytest.raises(KeyError, match="lasso"):
        es.param_render("lasso", "alpha", 1)


# --- the functions look like Python functions ---------------------------------------------


@pytest.mark.parametrize(
    "function, text",
    [
        (es.param_render, "(model_name, param_name, param_value, flis=None)"),
        (es.model_param_specific, "(model_param_items, dataset)"),
    ],
)
def test_functions_present_as_python_functions(function, text):
    assert str(inspect.signature(function)) == text
    assert function.__module__ == "zeka.config.estimator_settings"
    assert function.__qualname__ == function.__name__
    assert function.__doc__
    assert repr(function).startswith(f"<function {function.__name__} at ")


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: es.param_render("glm"),
            "param_render() missing 2 required positional arguments: 'param_name' and 'param_value'",
        ),
        (
            lambda: es.param_render(),
            "param_render() missing 3 required positional arguments: "
            "'model_name', 'param_name', and 'param_value'",
        ),
        (
            lambda: es.param_render("a", "b", "c", None, 1),
            "param_render() takes from 3 to 4 positional arguments but 5 were given",
        ),
        (
            lambda: es.param_render("a", "b", "c", fl=None),
            "param_render() got an unexpected keyword argument 'fl'",
        ),
        (
            lambda: es.param_render("a", "b", "c", model_name="a"),
            "param_render() got multiple values for argument 'model_name'",
        ),
        (
            lambda: es.model_param_specific({}, {}, {}),
            "model_param_specific() takes 2 positional arguments but 3 were given",
        ),
    ],
)
def test_argument_errors_read_like_python(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == message
