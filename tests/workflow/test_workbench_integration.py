"""ModelAPI with the package's real dataset object, ModelPipeline, metric tables and
catalogue, and with real scikit-learn estimators."""

import copy

import numpy as np
import pandas as pd
import pytest
from sklearn.linear_model import LinearRegression, LogisticRegression
from sklearn.utils.validation import check_is_fitted

from zeka.config import misc_settings
from zeka.config.estimator_settings import model_param_items, model_param_specific
from zeka.workflow import workbench

dataset_module = pytest.importorskip("zeka.data.dataset")
pipeline_module = pytest.importorskip("zeka.workflow.pipeline")

MODEL_NAMES = ["glm", "gam", "tree", "figs", "ebm", "reludnn", "xgb1", "xgb2", "gaminet"]


def frame(task_type, rows=160, seed=0):
    rng = np.random.default_rng(seed)
    data = pd.DataFrame(
        {
            "x0": rng.normal(size=rows),
            "x1": rng.uniform(-1, 1, size=rows),
            "x2": rng.normal(size=rows),
        }
    )
    signal = 1.5 * data.x0 - data.x1**2 + 0.5 * data.x2
    if task_type == "regression":
        data["y"] = signal + rng.normal(scale=0.3, size=rows)
    else:
        data["y"] = (signal + rng.normal(scale=0.5, size=rows) > 0).astype(int)
    return data


@pytest.fixture(params=["regression", "classification"])
def dataset(request):
    return dataset_module.Dataset(frame(request.param), "y", task_type=request.param)


def fitted_sklearn_model(dataset):
    x, y, w = dataset.get_data(train=True)
    model = LinearRegression() if dataset.task_type == "regression" else LogisticRegression()
    return model.fit(x, y, sample_weight=w)


def expected_cells(estimator, dataset):
    """The leaderboard texts of an estimator, computed with the dataset's scorers."""
    cells = []
    for split in ("test", "train"):
        x, y, w = dataset.get_data(**{split: True})
        for scorer in dataset.scoring.values():
            cells.append(format(scorer(estimator, x, y, sample_weight=w) * scorer._sign, ".4f"))
    return cells


def snapshot(dataset):
    return (
        dataset.raw_data.copy(),
        [a.copy() for a in dataset.get_data(train=True)],
        [a.copy() for a in dataset.get_data(test=True)],
    )


def assert_untouched(dataset, before):
    raw, train, test = before
    pd.testing.assert_frame_equal(dataset.raw_data, raw)
    for now, then in zip(dataset.get_data(train=True) + dataset.get_data(test=True), train + test):
        np.testing.assert_array_equal(now, then)


def test_registered_sklearn_model_is_scored_with_the_real_metric_tables(dataset):
    metrics = (
        misc_settings.REG_METRICS
        if dataset.task_type == "regression"
        else misc_settings.CLS_METRICS
    )
    assert list(dataset.scoring) == list(metrics)
    api = workbench.ModelAPI(dataset, model_list=[], model_item=model_param_items)
    raw_data, test_x = dataset.raw_data, dataset.get_data(test=True)[0]
    before = snapshot(dataset)
    model = fitted_sklearn_model(dataset)
    pipeline = api.make_pipeline(model)
    assert isinstance(pipeline, pipeline_module.ModelPipeline)
    api.register_model(pipeline, name="sk")

    assert api.get_model("sk") is pipeline and pipeline.estimator is model
    check_is_fitted(model)
    record = api.training_record["sk"]
    assert np.isnan(record["fit_time"])
    board = api.get_leaderboard_registered(rank_metric=list(dataset.scoring)[0])
    assert list(board.iloc[0]) == ["sk"] + expected_cells(model, dataset) + ["nan"]
    assert api.get_model_config("sk") == [[k, v] for k, v in model.get_params().items()]
    # nothing passed in was copied or changed
    assert dataset.raw_data is raw_data and dataset.get_data(test=True)[0] is test_x
    assert_untouched(dataset, before)


def test_column_predicting_regressor_is_adapted_and_scored(monkeypatch):
    dataset = dataset_module.Dataset(frame("regression"), "y", task_type="regression")
    x, y, w = dataset.get_data(train=True)
    model = LinearRegression().fit(x, y.reshape(-1, 1))
    monkeypatch.setattr(workbench, "get_model_name", lambda estimator: "arbitrary")
    api = workbench.ModelAPI(dataset, model_list=[], model_item={})
    pipeline = api.make_pipeline(model)
    api.register_model(pipeline, name="column")

    adapted = pipeline.estimator
    test_x = dataset.get_data(test=True)[0]
    assert adapted is not model and model.predict(test_x).shape == (len(test_x), 1)
    np.testing.assert_array_equal(adapted.predict(test_x), model.predict(test_x).ravel())
    assert list(api.get_leaderboard().iloc[0])[1:-1] == expected_cells(adapted, dataset)


def test_three_class_logistic_regression_is_refused(monkeypatch):
    dataset = dataset_module.Dataset(frame("classification"), "y", task_type="classification")
    x, _, _ = dataset.get_data(train=True)
    model = LogisticRegression().fit(x, np.arange(len(x)) % 3)
    monkeypatch.setattr(workbench, "get_model_name", lambda estimator: "arbitrary")
    api = workbench.ModelAPI(dataset, model_list=[], model_item={})
    with pytest.raises(
        AssertionError, match="^Num of model predict_proba output columns should be 2$"
    ):
        api.register_model(api.make_pipeline(model), name="three")
    assert api.registered_pipeline == {} and api.training_record == {}


def test_singlerun_trains_a_pipeline_and_ranks_it_with_a_registered_one(dataset):
    api = workbench.ModelAPI(dataset, model_list=[], model_item={})
    before = snapshot(dataset)
    model = LinearRegression() if dataset.task_type == "regression" else LogisticRegression()
    pipeline = api.make_pipeline(model)
    api.singlerun(pipeline, "trained")
    check_is_fitted(model)
    api.register_model(api.make_pipeline(fitted_sklearn_model(dataset)), name="registered")
    board = api.get_leaderboard()
    assert list(board.Model) == ["trained", "registered"]
    assert list(board.iloc[0])[1:-1] == expected_cells(model, dataset)
    assert float(board.Time.iloc[0]) >= 0 and board.Time.iloc[1] == "nan"
    assert list(api.get_leaderboard_registered().Model) == ["registered"]
    assert_untouched(dataset, before)


# --------------------------------------------------------------------------- the catalogue
def catalogue():
    models = pytest.importorskip("zeka.models")
    if not hasattr(models, "ZEKAREGRESSOR"):
        pytest.skip("the model catalogue zeka.models is not available yet")
    return models


# Shorter training than the interactive defaults; every other setting stays the table's.
QUICK = {
    "gaminet": {"max_epochs": [20, 20, 20], "n_jobs": 1},
    "reludnn": {"max_epochs": 20},
    "ebm": {"max_rounds": 200, "outer_bags": 2},
    "xgb1": {"n_estimators": 20},
    "xgb2": {"n_estimators": 20},
    "gam": {"max_iter": 20},
    "figs": {"max_iter": 20},
}


def test_every_family_trains_scores_and_ranks(dataset):
    models = catalogue()
    table = model_param_specific(copy.deepcopy(model_param_items), dataset)
    api = workbench.ModelAPI(dataset, model_list=MODEL_NAMES, model_item=table)
    assert list(api.model_dict) == MODEL_NAMES
    catalogue_of_task = (
        models.ZEKAREGRESSOR if dataset.task_type == "regression" else models.ZEKACLASSIFIER
    )
    for name, pipeline in api.model_dict.items():
        assert isinstance(pipeline.estimator, catalogue_of_task[name])
        assert models.get_model_name(pipeline.estimator) != "arbitrary"

    api.model_config = api.model_config_setting(QUICK)
    for name, pipeline in api.model_prepare().items():
        api.singlerun(pipeline, name)
    metric = list(dataset.scoring)[0]
    board = api.get_leaderboard(rank_metric=metric)
    assert sorted(board.Model) == sorted(MODEL_NAMES)
    for _, row in board.iterrows():
        estimator = api.custom_model_dict[row.Model].estimator
        assert list(row)[1:-1] == expected_cells(estimator, dataset)
    raw = [api.training_record[name]["test_" + metric] for name in board.Model]
    assert raw == sorted(raw, reverse=True)
