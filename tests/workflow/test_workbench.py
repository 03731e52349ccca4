"""ModelAPI with stand-in datasets, catalogues, pipelines and scorers.

The stand-ins implement exactly the calls the workbench makes on the package's
dataset object, catalogue and ModelPipeline, and log them, so the tests can
check the call shapes and their order. They are injected by replacing the
module's attributes, which the methods read when they run.
"""

import copy
import importlib
import inspect
import math
import subprocess
import sys
import time
import types

import numpy as np
import pytest
from sklearn.base import BaseEstimator

from zeka.exceptions import ZekaError
from zeka.workflow import workbench

MODEL_NAMES = ["glm", "gam", "tree", "figs", "ebm", "reludnn", "xgb1", "xgb2", "gaminet"]
CONFIG_ONLY = ["glm", "gam", "tree", "figs", "ebm", "reludnn"]
GAMINET_FIXED = [
    ("normalize", True),
    ("reg_clarity", 0.1),
    ("loss_threshold", 0.01),
    ("warm_start", True),
    ("verbose", False),
]
SPLIT_DATA = {"train": ("x_train", "y_train", "w_train"), "test": ("x_test", "y_test", "w_test")}


# --------------------------------------------------------------------------- stand-ins
class Scorer:
    """Scorer double: keyword-only like the calls it must receive; reads the score off the
    estimator's `scores` table by metric name and covariates."""

    def __init__(self, name, sign, log):
        self.name, self._sign, self.log = name, sign, log

    def __call__(self, *, estimator, X, y_true, sample_weight):
        self.log.append(("score", self.name, estimator, X, y_true, sample_weight))
        return estimator.scores[self.name][X]


class Dataset:
    def __init__(self, task_type="regression", metrics=(("MSE", -1), ("R2", 1)), log=None):
        self.log = [] if log is None else log
        self.task_type = task_type
        self.feature_names = ["f0", "f1"]
        self.feature_types = ["numerical", "categorical"]
        self.scoring = {name: Scorer(name, sign, self.log) for name, sign in metrics}


class Estimator(BaseEstimator):
    """What the catalogue builds: remembers its keyword arguments, in order. Neither a
    regressor nor a classifier for scikit-learn."""

    def __init__(self, catalogue, model_name, kwargs):
        self.catalogue, self.model_name = catalogue, model_name
        self.kwargs = list(kwargs.items())
        self.scores = {}


class Catalogue(dict):
    """ZEKAREGRESSOR / ZEKACLASSIFIER double; logs each entry lookup."""

    def __init__(self, label, log):
        self.label, self.log = label, log
        super().__init__({name: self._constructor(name) for name in MODEL_NAMES})

    def _constructor(self, name):
        def build(**kwargs):
            self.log.append(("build", self.label, name))
            return Estimator(self.label, name, kwargs)

        return build

    def __getitem__(self, key):
        self.log.append(("lookup", self.label, key))
        return super().__getitem__(key)


class Pipeline:
    """ModelPipeline double. Logs `get_data`/`get_raw_data`/`fit` calls with their
    arguments exactly as given."""

    def __init__(self, dataset=None, estimator=None, name="pipe", log=None):
        self.dataset, self.estimator, self.name = dataset, estimator, name
        self.log = [] if log is None else log
        self.data = dict(SPLIT_DATA)
        self.raw = ("raw_x", "raw_y", "raw_w")
        self.fit_error = None

    def get_data(self, **kwargs):
        self.log.append(("get_data", kwargs))
        return self.data["train" if kwargs.get("train") else "test"]

    def get_raw_data(self, **kwargs):
        self.log.append(("get_raw_data", kwargs))
        return self.raw

    def fit(self, *args):
        self.log.append(("fit",) + args)
        if self.fit_error:
            raise self.fit_error
        self.fitted = True
        return self


def scored_estimator(test=(0.5, 0.25), train=(0.75, 0.125)):
    """An estimator whose (MSE, R2) scores on the test and training splits are given."""
    est = Estimator("external", "custom", {})
    est.scores = {
        "MSE": {"x_test": test[0], "x_train": train[0]},
        "R2": {"x_test": test[1], "x_train": train[1]},
    }
    return est


def param_table(models=("glm",)):
    tables = {
        "glm": {
            "l1_regularization": ["FloatSlider", {}, "L1", 0.0],
            "l2_regularization": ["FloatSlider", {}, "L2", 0.1],
        },
        "xgb2": {"max_depth": ["", {}, "", 2], "mono_increasing_list": ["Text", {}, "Inc", []]},
    }
    return {m: tables.get(m, {"p_" + m: ["IntSlider", {}, m, len(m)]}) for m in models}


@pytest.fixture
def log():
    return []


@pytest.fixture
def fakes(monkeypatch, log):
    """Stand-in catalogue and pipeline in the module namespace; every name
    counts as a known family unless a test says otherwise."""
    reg, cls = Catalogue("regressor", log), Catalogue("classifier", log)
    monkeypatch.setattr(workbench, "ZEKAREGRESSOR", reg)
    monkeypatch.setattr(workbench, "ZEKACLASSIFIER", cls)
    monkeypatch.setattr(workbench, "ModelPipeline", Pipeline)
    monkeypatch.setattr(workbench, "get_model_name", lambda estimator: "glm")
    return types.SimpleNamespace(reg=reg, cls=cls, log=log)


@pytest.fixture
def api(fakes):
    return workbench.ModelAPI(Dataset(log=fakes.log), model_list=[], model_item={})


def registries(api):
    return {
        name: dict(getattr(api, name))
        for name in ("training_record", "registered_pipeline", "custom_model_dict")
    }


# --------------------------------------------------------------------------- module and class
def test_module_names_are_bound_in_order_to_the_expected_objects():
    import copy as copy_module

    import pandas as pd
    import sklearn.base
    import sklearn.metrics
    import sklearn.utils.validation

    exceptions = importlib.import_module("zeka.exceptions")
    models = importlib.import_module("zeka.models")
    pipeline = importlib.import_module("zeka.workflow.pipeline")
    expected = [
        ("time", time),
        ("types", types),
        ("np", np),
        ("pd", pd),
        ("copy", copy_module.copy),
        ("deepcopy", copy_module.deepcopy),
        ("is_classifier", sklearn.base.is_classifier),
        ("is_regressor", sklearn.base.is_regressor),
        ("accuracy_score", sklearn.metrics.accuracy_score),
        ("r2_score", sklearn.metrics.r2_score),
        ("check_is_fitted", sklearn.utils.validation.check_is_fitted),
        ("ModelPipeline", pipeline.ModelPipeline),
        ("ZEKACLASSIFIER", models.ZEKACLASSIFIER),
        ("ZEKAREGRESSOR", models.ZEKAREGRESSOR),
        ("get_model_name", models.get_model_name),
        ("ZekaWarning", exceptions.ZekaWarning),
        ("ZekaInfo", exceptions.ZekaInfo),
        ("ZekaError", exceptions.ZekaError),
    ]
    names = [n for n in vars(workbench) if not n.startswith("__") or n == "__sklearn_is_fitted__"]
    assert names == [n for n, _ in expected] + ["__sklearn_is_fitted__", "ModelAPI"]
    for name, value in expected:
        assert getattr(workbench, name) is value, name


def test_sklearn_is_fitted_takes_nothing_and_returns_true():
    fn = workbench.__sklearn_is_fitted__
    assert fn() is True
    assert str(inspect.signature(fn)) == "()"
    assert (fn.__name__, fn.__qualname__, fn.__module__) == (
        "__sklearn_is_fitted__",
        "__sklearn_is_fitted__",
        "zeka.workflow.workbench",
    )
    with pytest.raises(TypeError, match=r"takes 0 positional arguments but 1 was given"):
        fn(1)


METHODS = [
    ("__init__", "(self, dataset, model_list=None, model_item=None, highcode_mode=False)"),
    ("make_pipeline", "(self, estimator)"),
    ("get_model", "(self, name)"),
    ("register_model", "(self, pipeline=None, name=None, support_hpo=False)"),
    ("get_model_config", "(self, model)"),
    ("model_config_setting", "(self, param_dict=None)"),
    ("model_prepare", "(self)"),
    ("get_leaderboard", "(self, rank_metric=None)"),
    ("get_leaderboard_registered", "(self, rank_metric=None)"),
    ("evaluate", "(self, pipeline)"),
    ("singlerun", "(self, pipeline, name)"),
]


def test_class_is_plain_with_its_methods_in_definition_order():
    cls = workbench.ModelAPI
    assert cls.__bases__ == (object,)
    assert cls.__doc__ is None
    assert (cls.__module__, cls.__qualname__) == ("zeka.workflow.workbench", "ModelAPI")
    own = [n for n in vars(cls) if n not in ("__module__", "__dict__", "__weakref__", "__doc__")]
    assert own == [name for name, _ in METHODS]
    assert (
        str(inspect.signature(cls))
        == "(dataset, model_list=None, model_item=None, highcode_mode=False)"
    )


@pytest.mark.parametrize("name, signature", METHODS)
def test_method_signature_and_qualname(api, name, signature):
    function = getattr(workbench.ModelAPI, name)
    assert str(inspect.signature(function)) == signature
    assert function.__qualname__ == "ModelAPI." + name
    assert function.__name__ == name
    bound = getattr(api, name)
    assert bound.__self__ is api
    assert str(inspect.signature(bound)) == signature.replace("(self, ", "(").replace(
        "(self)", "()"
    )
    assert repr(bound).startswith("<bound method ModelAPI.%s of " % name)


@pytest.mark.parametrize(
    "name, doc",
    [
        (
            "make_pipeline",
            "Generate pipeline object.\n\nParameters\n----------\n"
            "estimator : Estimator Object\n    Fitted or not fitted estimator object, "
            "which should follow the sklearn estimator style.",
        ),
        (
            "singlerun",
            "Train single model.\n\nParameters\n----------\npipeline\n"
            "    Zeka's pipeline object.\nname : str\n    The name of the pipeline.",
        ),
    ],
)
def test_documented_methods(name, doc):
    assert inspect.getdoc(getattr(workbench.ModelAPI, name)) == doc


def test_methods_reject_arguments_with_pythons_wording(api):
    with pytest.raises(
        TypeError, match=r"ModelAPI.get_model\(\) missing 1 required positional argument: 'name'"
    ):
        api.get_model()
    with pytest.raises(
        TypeError, match=r"ModelAPI.evaluate\(\) got an unexpected keyword argument 'pipe'"
    ):
        api.evaluate(pipe=None)
    with pytest.raises(
        TypeError, match=r"ModelAPI.__init__\(\) missing 1 required positional argument: 'dataset'"
    ):
        workbench.ModelAPI()


# --------------------------------------------------------------------------- construction
def test_constructor_sets_its_attributes_in_order(fakes):
    dataset, table, models = Dataset(log=fakes.log), param_table(("glm", "xgb2")), ["xgb2", "glm"]
    api = workbench.ModelAPI(dataset, model_list=models, model_item=table, highcode_mode="yes")
    assert list(vars(api)) == [
        "dataset",
        "model_list",
        "model_item",
        "highcode_mode",
        "processed_data",
        "model_config",
        "model_dict",
        "custom_model_dict",
        "registered_pipeline",
        "training_record",
        "training_failed_list",
        "cache",
    ]
    assert api.dataset is dataset and api.model_list is models and api.model_item is table
    assert api.highcode_mode == "yes"
    for attr, kind in [
        ("processed_data", dict),
        ("custom_model_dict", dict),
        ("registered_pipeline", dict),
        ("training_record", dict),
        ("training_failed_list", list),
        ("cache", dict),
    ]:
        assert type(getattr(api, attr)) is kind and len(getattr(api, attr)) == 0
    assert api.model_config == api.model_config_setting()
    assert list(api.model_dict) == ["xgb2", "glm"]
    assert all(isinstance(p, Pipeline) and p.dataset is dataset for p in api.model_dict.values())


def test_constructor_calls_configuration_then_preparation_through_the_instance(fakes):
    calls = []

    class Traced(workbench.ModelAPI):
        def model_config_setting(self, param_dict=None):
            calls.append(("config", param_dict))
            return {"glm": {"alpha": 1}}

        def model_prepare(self):
            calls.append(("prepare", self.model_config))
            return "prepared"

    api = Traced(Dataset(), model_list=["glm"], model_item={})
    assert calls == [("config", None), ("prepare", {"glm": {"alpha": 1}})]
    assert api.model_dict == "prepared"


@pytest.mark.parametrize("task_type", ["regression", "classification", "ranking", None])
def test_empty_model_list_accepts_any_task_type(fakes, task_type):
    api = workbench.ModelAPI(Dataset(task_type=task_type), model_list=[], model_item={})
    assert api.model_dict == {}


def test_constructor_defaults_fail_as_the_interpreter_does(fakes):
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'items'"):
        workbench.ModelAPI(Dataset(), model_list=[])
    with pytest.raises(TypeError, match="'NoneType' object is not iterable"):
        workbench.ModelAPI(Dataset(), model_item={})


# --------------------------------------------------------------------------- configuration
def test_configuration_holds_the_defaults_in_table_order_without_copying(api):
    api.model_item = param_table(("glm", "xgb2"))
    config = api.model_config_setting()
    assert list(config) == ["glm", "xgb2"]
    assert list(config["glm"].items()) == [("l1_regularization", 0.0), ("l2_regularization", 0.1)]
    assert config["xgb2"]["max_depth"] == 2  # entry with empty widget type and label
    assert (
        config["xgb2"]["mono_increasing_list"] is api.model_item["xgb2"]["mono_increasing_list"][3]
    )
    assert api.model_config == {}  # not stored


def test_overrides_replace_one_value_and_may_add_parameters(api):
    api.model_item = param_table(("glm", "xgb2"))
    config = api.model_config_setting({"glm": {"l1_regularization": 0.5, "fit_intercept": False}})
    assert list(config["glm"].items()) == [
        ("l1_regularization", 0.5),
        ("l2_regularization", 0.1),
        ("fit_intercept", False),
    ]
    assert config["xgb2"] == api.model_config_setting()["xgb2"]


def test_configuration_accepts_tuple_entries_and_mapping_types(api):
    api.model_item = types.MappingProxyType({"glm": {"alpha": ("Text", None, "Alpha", 3)}})
    assert api.model_config_setting() == {"glm": {"alpha": 3}}


@pytest.mark.parametrize(
    "table, overrides, error, message",
    [
        (param_table(("glm",)), {"tree": {"max_depth": 3}}, KeyError, "'tree'"),
        ({"glm": {"alpha": ["Text", {}, "Alpha"]}}, None, IndexError, "list index out of range"),
    ],
)
def test_configuration_errors(api, table, overrides, error, message):
    api.model_item = table
    with pytest.raises(error) as info:
        api.model_config_setting(overrides)
    assert str(info.value) == message


# --------------------------------------------------------------------------- model preparation
def expected_kwargs(name, config, dataset):
    if name in ("xgb1", "xgb2"):
        fixed = [("feature_names", dataset.feature_names), ("feature_types", dataset.feature_types)]
    elif name == "gaminet":
        fixed = GAMINET_FIXED
    else:
        fixed = []
    return fixed + list(config.items())


@pytest.mark.parametrize(
    "task_type, catalogue", [("regression", "regressor"), ("classification", "classifier")]
)
@pytest.mark.parametrize("name", MODEL_NAMES)
def test_each_family_is_built_with_its_call_shape(fakes, task_type, catalogue, name):
    dataset = Dataset(task_type=task_type)
    api = workbench.ModelAPI(dataset, model_list=[name], model_item=param_table((name,)))
    estimator = api.model_dict[name].estimator
    assert (estimator.catalogue, estimator.model_name) == (catalogue, name)
    assert estimator.kwargs == expected_kwargs(name, api.model_config[name], dataset)
    for key, value in estimator.kwargs:
        if key in ("feature_names", "feature_types"):
            assert value is getattr(dataset, key)
    assert [type(v) for k, v in estimator.kwargs if k in dict(GAMINET_FIXED)] == (
        [bool, float, float, bool, bool] if name == "gaminet" else []
    )


def test_prepared_pipelines_follow_the_model_list_and_keep_the_last_duplicate(fakes):
    api = workbench.ModelAPI(
        Dataset(),
        model_list=["gaminet", "glm", "gaminet"],
        model_item=param_table(("glm", "gaminet")),
    )
    assert list(api.model_dict) == ["gaminet", "glm"]
    builds = [entry for entry in fakes.log if entry[0] == "build"]
    assert [b[2] for b in builds] == ["gaminet", "glm", "gaminet"]
    first, second = api.model_prepare()["gaminet"], api.model_dict["gaminet"]
    assert first is not second and first.estimator is not second.estimator


def test_lookups_happen_in_order_and_task_type_is_read_for_every_model(fakes, monkeypatch):
    reads = []

    class TracedDataset(Dataset):
        types_seen = iter(["regression", "classification", "regression"])

        def __getattribute__(self, attr):
            if attr in ("task_type", "feature_names", "feature_types"):
                reads.append(("read", attr))
                if attr == "task_type":
                    return next(TracedDataset.types_seen)
            return object.__getattribute__(self, attr)

    class TracedConfig(dict):
        def __getitem__(self, key):
            reads.append(("config", key))
            return dict.__getitem__(self, key)

    api = workbench.ModelAPI(TracedDataset(), model_list=[], model_item={})
    api.model_list = ["glm", "xgb1", "gaminet"]
    api.model_config = TracedConfig(glm={}, xgb1={}, gaminet={})
    del fakes.log[:]
    monkeypatch.setattr(workbench, "ModelPipeline", lambda dataset, estimator: estimator)
    fakes.reg.log = fakes.cls.log = reads
    prepared = api.model_prepare()
    assert [e.catalogue for e in prepared.values()] == ["regressor", "classifier", "regressor"]
    assert reads == [
        ("read", "task_type"),
        ("lookup", "regressor", "glm"),
        ("config", "glm"),
        ("build", "regressor", "glm"),
        ("read", "task_type"),
        ("lookup", "classifier", "xgb1"),
        ("read", "feature_names"),
        ("read", "feature_types"),
        ("config", "xgb1"),
        ("build", "classifier", "xgb1"),
        ("read", "task_type"),
        ("lookup", "regressor", "gaminet"),
        ("config", "gaminet"),
        ("build", "regressor", "gaminet"),
    ]


@pytest.mark.parametrize("task_type", ["Regression", "classifier", "", None])
def test_unsupported_task_type(fakes, task_type):
    with pytest.raises(ZekaError) as info:
        workbench.ModelAPI(
            Dataset(task_type=task_type), model_list=["glm"], model_item=param_table()
        )
    assert info.value.args == ("unsupported task type",)


@pytest.mark.parametrize("name", ["lightgbm", "GLM", 3, ("glm",)])
def test_unknown_model_name_is_rejected_with_the_supported_names(fakes, name):
    with pytest.raises(ZekaError) as info:
        workbench.ModelAPI(Dataset(), model_list=["glm", name], model_item=param_table())
    message = info.value.args[0]
    assert repr(name) in message
    assert all("'%s'" % known in message for known in MODEL_NAMES)


def test_task_type_is_checked_before_the_model_name(fakes):
    with pytest.raises(ZekaError, match="^unsupported task type$"):
        workbench.ModelAPI(Dataset(task_type="survival"), model_list=["lightgbm"], model_item={})


def test_missing_configuration_is_a_key_error(fakes):
    with pytest.raises(KeyError, match="'tree'"):
        workbench.ModelAPI(Dataset(), model_list=["tree"], model_item=param_table(("glm",)))


@pytest.mark.parametrize(
    "name, key",
    [
        ("xgb1", "feature_names"),
        ("xgb2", "feature_types"),
        ("gaminet", "verbose"),
        ("gaminet", "normalize"),
    ],
)
def test_configuration_repeating_a_fixed_keyword_fails_like_python(fakes, name, key):
    table = {name: {key: ["Text", {}, key, 1]}}
    with pytest.raises(TypeError) as info:
        workbench.ModelAPI(Dataset(), model_list=[name], model_item=table)
    constructor = dict.__getitem__(fakes.reg, name)
    with pytest.raises(TypeError) as python:
        constructor(**{key: 0}, **{key: 1})
    assert str(info.value) == str(python.value)


def test_configuration_with_a_non_string_key_fails_like_python(fakes):
    with pytest.raises(TypeError, match="keywords must be strings"):
        workbench.ModelAPI(Dataset(), model_list=["glm"], model_item={"glm": {1: [0, 0, 0, 1]}})


def test_replaced_catalogue_takes_effect_at_call_time(fakes, monkeypatch):
    api = workbench.ModelAPI(Dataset(), model_list=["glm"], model_item=param_table())
    other = Catalogue("other", [])
    monkeypatch.setattr(workbench, "ZEKAREGRESSOR", other)
    assert api.model_prepare()["glm"].estimator.catalogue == "other"
    assert api.model_dict["glm"].estimator.catalogue == "regressor"


def test_catalogue_errors_propagate_and_nothing_is_recorded(fakes, monkeypatch):
    def broken(**kwargs):
        raise RuntimeError("no solver")

    fakes.reg["glm"] = broken
    api = workbench.ModelAPI(Dataset(), model_list=[], model_item=param_table())
    api.model_list = ["glm"]
    with pytest.raises(RuntimeError, match="no solver"):
        api.model_prepare()
    assert api.training_failed_list == [] and api.model_dict == {}


# --------------------------------------------------------------------------- pipelines
def test_make_pipeline_binds_the_dataset_by_keyword(api, monkeypatch):
    seen = []
    monkeypatch.setattr(workbench, "ModelPipeline", lambda **kw: seen.append(kw) or object())
    estimator = object()
    first, second = api.make_pipeline(estimator), api.make_pipeline(estimator=estimator)
    assert first is not second
    assert seen == [{"dataset": api.dataset, "estimator": estimator}] * 2
    assert seen[0]["dataset"] is api.dataset and seen[1]["estimator"] is estimator


def test_get_model_returns_only_registered_pipelines(api):
    pipeline = Pipeline(estimator=scored_estimator(), name="ext")
    api.singlerun(Pipeline(estimator=scored_estimator()), "trained")
    api.register_model(pipeline)
    assert api.get_model("ext") is pipeline
    for name in ("trained", "glm"):
        with pytest.raises(KeyError) as info:
            api.get_model(name)
        assert info.value.args == (name,)


# --------------------------------------------------------------------------- evaluation
def test_evaluate_fetches_both_splits_then_scores_test_then_train(api):
    pipeline = Pipeline(estimator=scored_estimator(), log=api.dataset.log)
    record = api.evaluate(pipeline)
    assert list(record.items()) == [
        ("test_MSE", 0.5),
        ("test_R2", 0.25),
        ("train_MSE", 0.75),
        ("train_R2", 0.125),
    ]
    est = pipeline.estimator
    assert api.dataset.log == [
        ("get_data", {"train": True}),
        ("get_data", {"test": True}),
        ("score", "MSE", est, "x_test", "y_test", "w_test"),
        ("score", "R2", est, "x_test", "y_test", "w_test"),
        ("score", "MSE", est, "x_train", "y_train", "w_train"),
        ("score", "R2", est, "x_train", "y_train", "w_train"),
    ]
    assert registries(api) == {
        "training_record": {},
        "registered_pipeline": {},
        "custom_model_dict": {},
    }


def test_evaluate_passes_the_split_objects_themselves(api):
    x, y = np.arange(6.0).reshape(3, 2), np.array([1.0, 2.0, 3.0])
    pipeline = Pipeline(estimator=scored_estimator(), log=api.dataset.log)
    pipeline.data = {"train": (x, y, None), "test": (x, y, None)}
    api.dataset.scoring = {
        "n": lambda *, estimator, X, y_true, sample_weight: (
            api.dataset.log.append((X, y_true, sample_weight)) or 1.0
        )
    }
    api.evaluate(pipeline)
    assert all(e[0] is x and e[1] is y and e[2] is None for e in api.dataset.log[2:])
    assert np.array_equal(x, np.arange(6.0).reshape(3, 2))


def test_evaluate_without_scorers_still_fetches_both_splits(api):
    api.dataset.scoring = {}
    pipeline = Pipeline(estimator=scored_estimator(), log=api.dataset.log)
    assert api.evaluate(pipeline) == {}
    assert [entry[0] for entry in api.dataset.log] == ["get_data", "get_data"]


def test_evaluate_reads_estimator_and_scoring_for_each_score(api):
    pipeline = Pipeline(estimator=scored_estimator(), log=api.dataset.log)
    replacement = scored_estimator(test=(9.0, 9.0), train=(8.0, 8.0))

    def swap(*, estimator, X, y_true, sample_weight):
        pipeline.estimator = replacement
        return 0.0

    api.dataset.scoring = {"swap": swap, "MSE": api.dataset.scoring["MSE"]}
    record = api.evaluate(pipeline)
    assert record == {"test_swap": 0.0, "test_MSE": 9.0, "train_swap": 0.0, "train_MSE": 8.0}


@pytest.mark.parametrize(
    "items, error, message",
    [
        (("x", "y"), ValueError, r"not enough values to unpack \(expected 3, got 2\)"),
        (("x", "y", "w", "extra"), ValueError, r"too many values to unpack \(expected 3"),
        (None, TypeError, "cannot unpack non-iterable NoneType object"),
    ],
)
def test_evaluate_needs_three_items_from_get_data(api, items, error, message):
    pipeline = Pipeline(estimator=scored_estimator())
    pipeline.data = {"train": items, "test": SPLIT_DATA["test"]}
    with pytest.raises(error, match=message):
        api.evaluate(pipeline)


def test_failed_evaluate_propagates_and_leaves_the_registries_unchanged(api):
    api.singlerun(Pipeline(estimator=scored_estimator()), "m")
    api.register_model(Pipeline(estimator=scored_estimator()), name="r")
    before = registries(api)
    pipeline = Pipeline(estimator=scored_estimator())
    pipeline.estimator.scores["R2"] = {}
    with pytest.raises(KeyError, match="x_test"):
        api.evaluate(pipeline)
    api.dataset.scoring = None
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'items'"):
        api.evaluate(pipeline)
    assert registries(api) == before


# --------------------------------------------------------------------------- training
def test_singlerun_fits_times_scores_and_files_the_pipeline(api, monkeypatch):
    clock = iter([100.0, 102.5])
    monkeypatch.setattr(workbench, "time", types.SimpleNamespace(time=lambda: next(clock)))
    pipeline = Pipeline(estimator=scored_estimator(), log=api.dataset.log)
    assert api.singlerun(pipeline, "glm") is None
    assert api.dataset.log[:3] == [
        ("get_raw_data", {"train": True}),
        ("fit", "raw_x", "raw_y", "raw_w"),
        ("get_data", {"train": True}),
    ]
    assert list(api.training_record["glm"].items()) == [
        ("test_MSE", 0.5),
        ("test_R2", 0.25),
        ("train_MSE", 0.75),
        ("train_R2", 0.125),
        ("fit_time", 2.5),
    ]
    assert api.custom_model_dict == {"glm": pipeline}
    assert api.registered_pipeline == {}


def test_singlerun_measures_wall_clock_seconds(api):
    pipeline = Pipeline(estimator=scored_estimator())
    api.singlerun(pipeline, "a")
    fit_time = api.training_record["a"]["fit_time"]
    assert type(fit_time) is float and 0.0 <= fit_time


def test_singlerun_again_replaces_record_and_pipeline(api):
    first, second = (
        Pipeline(estimator=scored_estimator()),
        Pipeline(estimator=scored_estimator(test=(1.0, 2.0))),
    )
    api.singlerun(first, "m")
    api.singlerun(second, "m")
    assert api.custom_model_dict == {"m": second}
    assert api.training_record["m"]["test_MSE"] == 1.0
    assert list(api.training_record["m"])[-1] == "fit_time"


@pytest.mark.parametrize("failure", ["fit", "raw_data", "scorer"])
def test_failed_singlerun_leaves_the_registries_unchanged(api, failure):
    api.singlerun(Pipeline(estimator=scored_estimator()), "m")
    api.register_model(Pipeline(estimator=scored_estimator()), name="r")
    before = registries(api)
    pipeline = Pipeline(estimator=scored_estimator(test=(7.0, 7.0)))
    if failure == "fit":
        pipeline.fit_error = RuntimeError("diverged")
        expected = (RuntimeError, "diverged")
    elif failure == "raw_data":
        pipeline.raw = ("x", "y")
        expected = (ValueError, "not enough values to unpack")
    else:
        pipeline.estimator.scores["R2"] = {}
        expected = (KeyError, "x_test")
    with pytest.raises(expected[0], match=expected[1]):
        api.singlerun(pipeline, "m")
    assert registries(api) == before
    assert api.training_failed_list == []


# --------------------------------------------------------------------------- leaderboards
RECORDS = {
    "a": {"test_MSE": -0.5, "test_R2": 0.3, "train_MSE": -0.25, "train_R2": 0.0, "fit_time": 1.26},
    "b": {
        "test_MSE": -0.25,
        "test_R2": 0.5,
        "train_MSE": 0.0,
        "train_R2": -0.1,
        "fit_time": float("nan"),
    },
    "c": {
        "test_MSE": float("nan"),
        "test_R2": 0.7,
        "train_MSE": -0.1,
        "train_R2": 0.2,
        "fit_time": 12.0,
    },
}


def displayed(record, signs):
    """The row a record should show: signed scores with four decimals, time with one."""
    cells = [format(record[p + m] * s, ".4f") for p in ("test_", "train_") for m, s in signs]
    return cells + [format(record["fit_time"], ".1f")]


@pytest.fixture
def ranked(api):
    api.training_record.update(copy.deepcopy(RECORDS))
    return api


def rows(df):
    return [list(row) for row in df.itertuples(index=False)]


def test_leaderboards_are_none_without_records(api):
    assert api.get_leaderboard() is None and api.get_leaderboard_registered() is None
    api.singlerun(Pipeline(estimator=scored_estimator()), "m")
    assert api.get_leaderboard_registered() is None
    api.registered_pipeline["unscored"] = Pipeline()
    assert api.get_leaderboard_registered() is None


def test_leaderboard_columns_signs_and_formats(ranked):
    df = ranked.get_leaderboard()
    assert list(df.columns) == ["Model", "test_MSE", "test_R2", "train_MSE", "train_R2", "Time"]
    signs = [("MSE", -1), ("R2", 1)]
    assert rows(df) == [[name] + displayed(RECORDS[name], signs) for name in "abc"]
    assert list(df.index) == [0, 1, 2]
    # the specified texts of the edge cases, spelled out
    assert df.loc[1, "test_MSE"] == "0.2500" and df.loc[1, "train_MSE"] == "-0.0000"
    assert df.loc[1, "Time"] == "nan" and df.loc[2, "test_MSE"] == "nan"


@pytest.mark.parametrize(
    "metric, order, labels",
    [
        ("MSE", ["b", "a", "c"], [1, 0, 2]),  # smallest loss first; NaN last
        ("R2", ["c", "b", "a"], [2, 1, 0]),
    ],
)
def test_leaderboard_ranks_on_raw_test_scores_and_keeps_labels(ranked, metric, order, labels):
    df = ranked.get_leaderboard(rank_metric=metric)
    assert list(df.Model) == order and list(df.index) == labels
    ranked.registered_pipeline.update({n: Pipeline() for n in "cab"})
    reg = ranked.get_leaderboard_registered(metric)
    assert list(reg.Model) == order and list(reg.index) == [0, 1, 2]
    assert rows(reg) == rows(df)


def test_registered_leaderboard_lists_registered_records_in_registration_order(ranked):
    ranked.registered_pipeline.update({"c": Pipeline(), "x": Pipeline(), "a": Pipeline()})
    df = ranked.get_leaderboard_registered()
    assert list(df.Model) == ["c", "a"] and list(df.index) == [0, 1]
    assert rows(df) == [
        ["c"] + displayed(RECORDS["c"], [("MSE", -1), ("R2", 1)]),
        ["a"] + displayed(RECORDS["a"], [("MSE", -1), ("R2", 1)]),
    ]


def test_leaderboards_follow_the_scoring_order_and_leave_records_alone(ranked):
    ranked.dataset.scoring = {"R2": Scorer("R2", 1, []), "MSE": Scorer("MSE", -1, [])}
    ranked.registered_pipeline["b"] = Pipeline()
    before = copy.deepcopy(ranked.training_record)
    for df in (ranked.get_leaderboard("R2"), ranked.get_leaderboard_registered("MSE")):
        assert list(df.columns) == ["Model", "test_R2", "test_MSE", "train_R2", "train_MSE", "Time"]
    assert list(ranked.training_record) == list(before)
    for name, record in before.items():
        assert list(ranked.training_record[name]) == list(record)
        assert all(
            v == w or (math.isnan(v) and math.isnan(w))
            for v, w in zip(ranked.training_record[name].values(), record.values())
        )


def test_leaderboard_without_scorers_shows_names_and_times(ranked):
    ranked.dataset.scoring = {}
    assert rows(ranked.get_leaderboard()) == [["a", "1.3"], ["b", "nan"], ["c", "12.0"]]


@pytest.mark.parametrize("method", ["get_leaderboard", "get_leaderboard_registered"])
def test_leaderboard_errors(ranked, method):
    ranked.registered_pipeline["a"] = Pipeline()
    board = getattr(ranked, method)
    with pytest.raises(KeyError, match="test_AUC"):
        board(rank_metric="AUC")
    ranked.dataset.scoring["AUC"] = Scorer("AUC", 1, [])
    with pytest.raises(KeyError, match="test_AUC"):
        board()
    ranked.dataset.scoring = None
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'keys'"):
        board()


def test_trained_catalogue_model_appears_with_scores_and_time(fakes):
    api = workbench.ModelAPI(Dataset(), model_list=["glm"], model_item=param_table())
    pipeline = api.model_dict["glm"]
    pipeline.estimator.scores = scored_estimator().scores
    api.singlerun(pipeline, "glm")
    df = api.get_leaderboard(rank_metric="MSE")
    record = api.training_record["glm"]
    assert rows(df) == [["glm"] + displayed(record, [("MSE", -1), ("R2", 1)])]
    assert pipeline.fitted


# --------------------------------------------------------------------------- instance state
def test_state_is_ordinary_instance_attributes(api):
    api.extra = 1
    assert vars(api)["extra"] == 1
    api.training_record = {"x": dict(RECORDS["a"])}
    assert list(api.get_leaderboard().Model) == ["x"]
    clone = copy.copy(api)
    assert vars(clone) == vars(api) and clone.training_record is api.training_record


def test_subclass_can_override_evaluate(fakes):
    class Constant(workbench.ModelAPI):
        def evaluate(self, pipeline):
            return {"test_MSE": 1.0, "test_R2": 2.0, "train_MSE": 3.0, "train_R2": 4.0}

    api = Constant(Dataset(), model_list=[], model_item={})
    api.singlerun(Pipeline(estimator=scored_estimator()), "m")
    api.register_model(Pipeline(estimator=scored_estimator()), name="r")
    assert api.training_record["m"]["test_R2"] == 2.0
    assert list(api.training_record["r"].values())[:4] == [1.0, 2.0, 3.0, 4.0]


# --------------------------------------------------------------------------- registration
class Bare(BaseEstimator):
    """A scikit-learn-tagged estimator of the given kind with neither predict, predict_proba,
    fit nor score; the subclasses add them one at a time."""

    def __init__(self, kind=None, column=False, n_classes=2):
        self.kind, self.column, self.n_classes = kind, column, n_classes

    def __sklearn_tags__(self):
        tags = super().__sklearn_tags__()
        tags.estimator_type = self.kind
        return tags


class Predicts(Bare):
    def predict(self, X):
        out = np.asarray(X, dtype=float).sum(axis=1) + getattr(self, "offset", 0.0)
        return out.reshape(-1, 1) if self.column else out


class Probas(Predicts):
    def predict_proba(self, X):
        return np.full((len(X), self.n_classes), 1.0 / self.n_classes)


class Fits(Probas):
    def fit(self, X, y, sample_weight=None):
        return self


X_TEST = np.array([[0.0, 1.0], [1.0, 1.0], [2.0, 0.5], [0.0, 0.0]])
Y_TEST = np.array([1.0, 2.5, 2.0, 0.5])
W_TEST = np.array([1.0, 2.0, 1.0, 3.0])


@pytest.fixture
def arbitrary(monkeypatch):
    monkeypatch.setattr(workbench, "get_model_name", lambda estimator: "arbitrary")


def real_pipeline(estimator, name="ext", weights=None):
    pipeline = Pipeline(estimator=estimator, name=name)
    pipeline.data = {"train": (X_TEST, Y_TEST, weights), "test": (X_TEST, Y_TEST, weights)}
    return pipeline


def r2_api(api):
    """The api scoring with a real scikit-learn R2 scorer."""
    from sklearn.metrics import get_scorer

    api.dataset.scoring = {"R2": get_scorer("r2")}
    return api


def test_arbitrary_column_predictions_are_flattened_on_a_deep_copy(api, arbitrary):
    original = Fits(kind="regressor", column=True)
    original.history = [1, 2]
    pipeline = real_pipeline(original)
    r2_api(api).register_model(pipeline)
    adapted = pipeline.estimator
    assert adapted is not original and type(adapted) is Fits
    assert adapted.history == [1, 2] and adapted.history is not original.history
    assert original.predict(X_TEST).shape == (4, 1) and "predict" not in vars(original)
    flat = adapted.predict(X_TEST)
    assert flat.shape == (4,) and np.array_equal(flat, original.predict(X_TEST).ravel())
    predict = vars(adapted)["predict"]
    assert predict.__qualname__ == "ModelAPI.register_model.<locals>.predict"
    assert predict.__name__ == "predict" and str(inspect.signature(predict)) == "(x)"
    # it predicts through the estimator it replaced
    original.offset = 10.0
    assert np.array_equal(adapted.predict(X_TEST), original.predict(X_TEST).ravel())
    assert api.get_model("ext") is pipeline


@pytest.mark.parametrize("kind", ["regressor", "classifier", None])
def test_one_dimensional_predictions_keep_the_estimator(api, arbitrary, kind):
    original = Fits(kind=kind)
    pipeline = real_pipeline(original)
    api.dataset.scoring = {}
    api.register_model(pipeline)
    assert pipeline.estimator is original and "predict" not in vars(original)


class NoDeepCopy(Fits):
    def __deepcopy__(self, memo):
        raise RuntimeError("holds a connection")


class NoCopy(NoDeepCopy):
    def __copy__(self):
        raise RuntimeError("cannot copy at all")


def test_estimator_that_refuses_deepcopy_is_copied_shallowly(api, arbitrary):
    original = NoDeepCopy(kind="regressor", column=True)
    original.payload = {"weights": [1.0]}
    pipeline = real_pipeline(original)
    api.dataset.scoring = {}
    api.register_model(pipeline)
    adapted = pipeline.estimator
    assert adapted is not original and adapted.payload is original.payload
    assert adapted.predict(X_TEST).shape == (4,)


def test_copy_failures_propagate_and_register_nothing(api, arbitrary):
    pipeline = real_pipeline(NoCopy(kind="regressor", column=True))
    with pytest.raises(RuntimeError, match="cannot copy at all"):
        api.register_model(pipeline, name="x")
    assert registries(api) == {
        "training_record": {},
        "registered_pipeline": {},
        "custom_model_dict": {},
    }


@pytest.mark.parametrize("n_classes, passes", [(2, True), (3, False), (1, False)])
def test_classifier_needs_two_probability_columns(api, arbitrary, n_classes, passes):
    pipeline = real_pipeline(Fits(kind="classifier", n_classes=n_classes))
    api.dataset.scoring = {}
    if passes:
        api.register_model(pipeline)
        assert api.get_model("ext") is pipeline
    else:
        with pytest.raises(AssertionError) as info:
            api.register_model(pipeline)
        assert str(info.value) == "Num of model predict_proba output columns should be 2"


PROTOCOL_FAILURES = [
    (Bare, "regressor", False, "Model does not include function predict"),
    (Bare, "classifier", False, "Model does not include function predict"),
    (Predicts, "classifier", False, "Model does not include function predict_proba"),
    (Probas, "regressor", True, "Model does not include function fit"),
    (Probas, "classifier", True, "Model does not include function fit"),
    (Predicts, None, True, "Model does not include function fit"),
]


@pytest.mark.parametrize("cls, kind, support_hpo, message", PROTOCOL_FAILURES)
def test_protocol_failures_change_nothing(api, arbitrary, cls, kind, support_hpo, message):
    api.dataset.scoring = {}
    api.register_model(real_pipeline(Fits(kind="regressor")), name="kept")
    before = registries(api)
    original = cls(kind=kind, column=True)
    attributes = dict(vars(original))
    pipeline = real_pipeline(original, name="orig")
    with pytest.raises(AssertionError) as info:
        api.register_model(pipeline, name="new", support_hpo=support_hpo)
    assert info.value.args == (message,)
    assert registries(api) == before
    assert pipeline.estimator is original and pipeline.name == "orig"
    assert vars(original) == attributes


def test_protocol_checks_hold_with_assertions_disabled():
    """`python -O` drops assert statements; the registration checks must stay."""
    code = "\n".join(
        [
            "from sklearn.base import BaseEstimator",
            "from zeka.workflow import workbench",
            "class Reg(BaseEstimator):",
            "    def __sklearn_tags__(self):",
            "        tags = super().__sklearn_tags__(); tags.estimator_type = 'regressor'; return tags",
            "class Pipe:",
            "    estimator, name = Reg(), 'p'",
            "    def get_data(self, **kw): return ([[1.0]], [1.0], None)",
            "class Data: task_type = 'regression'; scoring = {}",
            "workbench.get_model_name = lambda e: 'arbitrary'",
            "api = workbench.ModelAPI(Data(), model_list=[], model_item={})",
            "assert False, 'assertions are on'",
            "try:",
            "    api.register_model(Pipe())",
            "except AssertionError as e:",
            "    print('raised:', e, len(api.registered_pipeline))",
        ]
    )
    out = subprocess.run([sys.executable, "-O", "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout == "raised: Model does not include function predict 0\n"


def test_known_families_skip_validation_even_with_support_hpo(api):
    pipeline = real_pipeline(Bare(kind="regressor"))
    api.dataset.scoring = {}
    api.register_model(pipeline, support_hpo=True)
    assert api.get_model("ext") is pipeline and pipeline.estimator.kind == "regressor"


@pytest.mark.parametrize(
    "given, pipeline_name, key",
    [(None, "from_pipeline", "from_pipeline"), ("given", "old", "given"), (None, None, None)],
)
def test_registration_name(api, given, pipeline_name, key):
    pipeline = Pipeline(estimator=scored_estimator(), name=pipeline_name)
    api.register_model(pipeline, name=given)
    assert pipeline.name == key
    assert list(api.registered_pipeline) == [key] and list(api.training_record) == [key]
    assert api.registered_pipeline[key] is pipeline


def test_first_registration_scores_once_with_nan_time(api):
    pipeline = Pipeline(estimator=scored_estimator(), log=api.dataset.log)
    api.register_model(pipeline, name="m")
    record = api.training_record["m"]
    assert list(record)[:4] == ["test_MSE", "test_R2", "train_MSE", "train_R2"]
    assert list(record)[-1] == "fit_time" and math.isnan(record["fit_time"])
    assert record["fit_time"] is np.nan
    replacement = Pipeline(estimator=scored_estimator(test=(5.0, 5.0)))
    api.register_model(replacement, name="m")
    assert api.training_record["m"] is record and api.get_model("m") is replacement
    assert api.get_leaderboard().loc[0, "Time"] == "nan"


def test_registering_a_trained_name_keeps_its_record(api):
    trained = Pipeline(estimator=scored_estimator(), log=api.dataset.log)
    api.singlerun(trained, "glm")
    record = api.training_record["glm"]
    scored = len(api.dataset.log)
    api.register_model(trained, name="glm")
    assert api.training_record["glm"] is record and not math.isnan(record["fit_time"])
    assert len(api.dataset.log) == scored  # not scored again
    assert api.registered_pipeline == {"glm": trained}
    assert list(api.get_leaderboard_registered().Model) == ["glm"]


@pytest.mark.parametrize("arbitrary_model", [False, True])
def test_regressor_without_score_gets_weighted_r2(api, monkeypatch, arbitrary_model):
    from sklearn.metrics import r2_score

    if arbitrary_model:
        monkeypatch.setattr(workbench, "get_model_name", lambda estimator: "arbitrary")
    estimator = Predicts(kind="regressor", column=arbitrary_model)
    pipeline = real_pipeline(estimator)
    api.dataset.scoring = {}
    api.register_model(pipeline)
    adapted = pipeline.estimator
    score = vars(adapted)["score"]
    assert isinstance(score, types.MethodType) and score.__self__ is adapted
    assert score.__func__.__qualname__ == "ModelAPI.register_model.<locals>.score"
    assert str(inspect.signature(score)) == "(X, y, sample_weight=None)"
    assert "score" not in vars(Predicts)
    prediction = np.asarray(estimator.predict(X_TEST)).ravel()
    assert adapted.score(X_TEST, Y_TEST, sample_weight=W_TEST) == pytest.approx(
        r2_score(Y_TEST, prediction, sample_weight=W_TEST)
    )
    assert adapted.score(X_TEST, Y_TEST) == pytest.approx(r2_score(Y_TEST, prediction))


def test_classifier_without_score_gets_weighted_accuracy(api):
    from sklearn.metrics import accuracy_score

    estimator = Predicts(kind="classifier")
    pipeline = real_pipeline(estimator)
    api.dataset.scoring = {}
    api.register_model(pipeline)
    x, y = np.array([[0, 1], [1, 1], [2, 0], [0, 0]]), np.array([1, 2, 0, 0])
    expected = accuracy_score(y, estimator.predict(x), sample_weight=W_TEST)
    assert 0 < expected < 1
    assert estimator.score(x, y, W_TEST) == pytest.approx(expected)
    assert estimator.score.__func__.__qualname__ == "ModelAPI.register_model.<locals>.score"


def test_estimator_of_no_kind_gets_no_score(api):
    estimator = Predicts(kind=None)
    api.dataset.scoring = {}
    api.register_model(real_pipeline(estimator))
    assert not hasattr(estimator, "score")
    assert vars(estimator)["__sklearn_is_fitted__"] is workbench.__sklearn_is_fitted__


def test_fitted_mark_satisfies_check_is_fitted(api):
    from sklearn.utils.validation import check_is_fitted

    with_fit, without_fit = Fits(kind="regressor"), Predicts(kind="regressor")
    api.dataset.scoring = {}
    api.register_model(real_pipeline(with_fit), name="a")
    api.register_model(real_pipeline(without_fit), name="b")
    for estimator in (with_fit, without_fit):
        assert vars(estimator)["__sklearn_is_fitted__"] is workbench.__sklearn_is_fitted__
    check_is_fitted(with_fit)
    assert "is_fitted_" not in vars(with_fit)
    # check_is_fitted rejects an object without fit: it is marked fitted by attribute instead
    assert vars(without_fit)["is_fitted_"] is True


class SaysUnfitted(Fits):
    def __sklearn_is_fitted__(self):
        return False


def test_estimator_reporting_unfitted_is_left_alone(api):
    estimator = SaysUnfitted(kind="regressor")
    api.dataset.scoring = {}
    api.register_model(real_pipeline(estimator))
    assert "__sklearn_is_fitted__" not in vars(estimator) and "is_fitted_" not in vars(estimator)


class FaultyLookups(Predicts):
    """Looking up score or __sklearn_is_fitted__ fails with something else than
    AttributeError until the attribute is set on the instance."""

    def __getattr__(self, name):
        if name in ("score", "__sklearn_is_fitted__"):
            raise RuntimeError("lookup of " + name)
        raise AttributeError(name)


def test_attribute_lookup_errors_count_as_missing(api):
    estimator = FaultyLookups(kind="regressor")
    api.dataset.scoring = {}
    api.register_model(real_pipeline(estimator))
    assert isinstance(vars(estimator)["score"], types.MethodType)
    assert vars(estimator)["__sklearn_is_fitted__"] is workbench.__sklearn_is_fitted__


@pytest.mark.parametrize("failure", ["scorer", "get_data", "registry"])
def test_failed_registration_leaves_the_registries_unchanged(api, arbitrary, failure):
    r2_api(api).register_model(real_pipeline(Fits(kind="regressor"), name="kept"))
    before = registries(api)
    pipeline = real_pipeline(Fits(kind="regressor"), name="new")
    if failure == "scorer":
        api.dataset.scoring["broken"] = lambda **kw: 1 / 0
        expected = ZeroDivisionError
    elif failure == "get_data":
        pipeline.data["test"] = ("x", "y")
        expected = ValueError
    else:

        class Frozen(dict):
            def __setitem__(self, key, value):
                raise TypeError("read-only registry")

        api.registered_pipeline = Frozen(api.registered_pipeline)
        expected = TypeError
    with pytest.raises(expected):
        api.register_model(pipeline)
    assert registries(api) == before


def test_register_without_pipeline(api):
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'estimator'"):
        api.register_model()


# --------------------------------------------------------------------------- registered parameters
def test_model_config_lists_get_params_pairs(api):
    estimator = Fits(kind="regressor", n_classes=4)
    api.dataset.scoring = {}
    api.register_model(real_pipeline(estimator), name="m")
    config = api.get_model_config("m")
    assert config == [[k, v] for k, v in estimator.get_params().items()]
    assert all(type(pair) is list for pair in config)


def test_model_config_without_get_params_lists_instance_attributes(api):
    from sklearn.utils import Tags, TargetTags

    class Plain:
        """Follows no protocol beyond carrying scikit-learn tags."""

        def __init__(self):
            self.alpha, self.beta = 1, [2]

        def __sklearn_tags__(self):
            return Tags(estimator_type=None, target_tags=TargetTags(required=False))

    estimator = Plain()
    api.dataset.scoring = {}
    api.register_model(Pipeline(estimator=estimator), name="p")
    config = api.get_model_config("p")
    assert config == [[k, v] for k, v in vars(estimator).items()]
    names = [k for k, _ in config]
    assert names[:2] == ["alpha", "beta"] and "__sklearn_is_fitted__" in names
    assert "is_fitted_" in names


def test_model_config_edge_cases(api):
    class NoParams(BaseEstimator):
        pass

    class BrokenParams(BaseEstimator):
        def get_params(self, deep=True):
            raise RuntimeError("params unavailable")

    api.dataset.scoring = {}
    api.registered_pipeline.update(
        empty=Pipeline(estimator=NoParams()), broken=Pipeline(estimator=BrokenParams())
    )
    assert api.get_model_config("empty") == []
    with pytest.raises(RuntimeError, match="params unavailable"):
        api.get_model_config("broken")
    api.singlerun(Pipeline(estimator=scored_estimator()), "trained")
    with pytest.raises(KeyError, match="trained"):
        api.get_model_config("trained")
