import numpy as np
import pytest
from sklearn.linear_model import LinearRegression, LogisticRegression
from sklearn.metrics import r2_score, roc_auc_score
from sklearn.neighbors import KNeighborsRegressor
from sklearn.utils.validation import check_is_fitted

from zeka.data.dataset import Dataset
from zeka.exceptions import ZekaWarning
from zeka.workflow.pipeline import ModelPipeline


@pytest.fixture(scope="module")
def housing():
    return Dataset.load("SimuHousing")


@pytest.fixture(scope="module")
def credit():
    return Dataset.load("SimuCredit_trim1")


@pytest.mark.parametrize(
    "name, estimator, score, floor",
    [
        ("SimuRegression", LinearRegression(), "R2", 0.5),
        ("SimuHousing", LinearRegression(), "R2", 0.7),
        ("SimuCredit_trim2", LogisticRegression(max_iter=1000), "AUC", 0.7),
        ("BreastCancer", LogisticRegression(max_iter=1000), "AUC", 0.95),
    ],
)
def test_pipeline_trains_end_to_end(name, estimator, score, floor):
    dataset = Dataset.load(name)
    pipeline = ModelPipeline(dataset=dataset, estimator=estimator)
    raw = pipeline.get_raw_data(train=True)
    assert len(raw) == 3
    assert pipeline.fit(*raw) is pipeline
    check_is_fitted(pipeline.estimator)
    train, test = pipeline.get_data(train=True), pipeline.get_data(test=True)
    assert len(train) == len(test) == 3
    # fitted on the training split, the pipeline sees what the dataset holds
    expected = dataset.get_data(train=True) + dataset.get_data(test=True)
    for mine, theirs in zip(train + test, expected):
        np.testing.assert_allclose(mine, theirs)
    x, y, w = test
    scorer = dataset.scoring[score]
    assert scorer(estimator=pipeline.estimator, X=x, y_true=y, sample_weight=w) > floor


def test_predictions_on_raw_covariates(credit):
    pipeline = ModelPipeline(dataset=credit, estimator=LogisticRegression(max_iter=1000))
    pipeline.fit(*pipeline.get_raw_data(train=True))
    raw_x, y, _ = pipeline.get_raw_data(test=True)
    x, _, _ = pipeline.get_data(test=True)
    np.testing.assert_array_equal(pipeline.predict(raw_x), pipeline.estimator.predict(x))
    proba = pipeline.predict_proba(raw_x)
    np.testing.assert_allclose(proba, pipeline.estimator.predict_proba(x))
    assert roc_auc_score(y, proba[:, 1]) > 0.65


def test_name_and_references(housing):
    estimator = LinearRegression()
    pipeline = ModelPipeline(dataset=housing, estimator=estimator)
    assert pipeline.name == "LinearRegression"
    assert pipeline.dataset is housing and pipeline.estimator is estimator
    assert ModelPipeline(dataset=housing, estimator=estimator, name="ols").name == "ols"
    assert "LinearRegression" in repr(pipeline)


def test_fit_on_a_subset_refits_the_preprocessing_not_the_dataset(housing):
    before = housing.train_x.copy()
    raw_x, y, w = housing.get_raw_data(train=True)
    pipeline = ModelPipeline(dataset=housing, estimator=LinearRegression())
    pipeline.fit(raw_x.iloc[:300], y[:300], w[:300])
    np.testing.assert_array_equal(housing.train_x, before)
    x, _, _ = pipeline.get_data(train=True)
    area = housing.feature_names.index("Area")
    # standardised with the statistics of the 300 rows it was fitted on
    assert abs(x[:300, area].mean()) < 1e-9
    assert abs(x[:, area].mean()) > 1e-6
    np.testing.assert_allclose(pipeline.estimator.predict(x), pipeline.predict(raw_x))


def test_estimator_fitted_elsewhere_uses_the_dataset_preprocessing(housing):
    x, y, _ = housing.get_data(train=True)
    estimator = LinearRegression().fit(x, y)
    pipeline = ModelPipeline(dataset=housing, estimator=estimator)
    test_x, test_y, _ = pipeline.get_data(test=True)
    assert test_x is housing.test_x
    raw_x, _, _ = pipeline.get_raw_data(test=True)
    assert r2_score(test_y, pipeline.predict(raw_x)) > 0.7


def test_sample_weights_reach_the_estimator(housing):
    raw_x, y, _ = housing.get_raw_data(train=True)
    weights = np.zeros(len(y))
    weights[::2] = 1.0
    weighted = ModelPipeline(dataset=housing, estimator=LinearRegression())
    weighted.fit(raw_x, y, weights)
    halved = LinearRegression().fit(weighted.get_data(train=True)[0][::2], y[::2])
    np.testing.assert_allclose(weighted.estimator.coef_, halved.coef_, rtol=1e-6, atol=1e-8)


def test_weights_an_estimator_cannot_take(housing):
    raw_x, y, w = housing.get_raw_data(train=True)
    pipeline = ModelPipeline(dataset=housing, estimator=KNeighborsRegressor())
    pipeline.fit(raw_x, y, w)  # uniform weights: nothing is lost, no warning
    check_is_fitted(pipeline.estimator)
    with pytest.warns(ZekaWarning, match="KNeighborsRegressor does not take sample weights"):
        pipeline.fit(raw_x, y, np.linspace(1, 2, len(y)))


@pytest.mark.parametrize("kwargs", [{}, {"train": True, "test": True}])
def test_a_split_must_be_chosen(housing, kwargs):
    pipeline = ModelPipeline(dataset=housing, estimator=LinearRegression())
    with pytest.raises(ValueError, match="one split"):
        pipeline.get_data(**kwargs)
    with pytest.raises(ValueError, match="one split"):
        pipeline.get_raw_data(**kwargs)


def test_workbench_trains_and_ranks_a_pipeline(credit):
    workbench = pytest.importorskip("zeka.workflow.workbench", exc_type=ImportError)
    api = workbench.ModelAPI(credit, model_list=[], model_item={})
    pipeline = api.make_pipeline(LogisticRegression(max_iter=1000))
    assert isinstance(pipeline, ModelPipeline)
    api.singlerun(pipeline, "logit")
    board = api.get_leaderboard(rank_metric="AUC")
    assert list(board["Model"]) == ["logit"]
    assert float(board["test_AUC"].iloc[0]) > 0.65
