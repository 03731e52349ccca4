"""No public entry point changes what it is given, except where that is its job.

Each case builds fresh inputs, deep-copies them, makes the call (successful or
failing) and compares the inputs with their copies by content: frames with
``equals`` and their dtypes, arrays exactly, objects by their attributes or
their pickled state, anything else by joblib's content hash.
"""

import copy

import joblib
import numpy as np
import pandas as pd
import pytest
from sklearn.ensemble import GradientBoostingClassifier
from sklearn.linear_model import LinearRegression

from zeka.config import estimator_settings as es
from zeka.data.causality.core import conditional_independence_test
from zeka.data.dataset import Dataset
from zeka.data.outlier_detection.novelty import OneClassSVM
from zeka.data.quality_scan.quality_scan import DataIntegrityCheck
from zeka.data.tabular_prep import DataPreprocessor
from zeka.data.variable_screen import FeatureSelection
from zeka.explainer.shap import SHAP
from zeka.workflow.workbench import ModelAPI


def same(a, b, seen=None):
    seen = set() if seen is None else seen
    if type(a) is not type(b):
        return False
    if isinstance(a, (pd.DataFrame, pd.Series)):
        return a.equals(b) and a.index.equals(b.index) and str(a.dtypes) == str(b.dtypes)
    if isinstance(a, np.ndarray) and a.dtype == object:
        return a.shape == b.shape and same(list(a.flat), list(b.flat), seen)
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and np.array_equal(a, b, equal_nan=a.dtype.kind in "fc")
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y, seen) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k], seen) for k in a)
    if hasattr(a, "__dict__") and not isinstance(a, type):
        if id(a) in seen:
            return True
        seen.add(id(a))
        return same(vars(a), vars(b), seen)
    own_state = getattr(type(a), "__getstate__", None)
    if own_state is not None and own_state is not getattr(object, "__getstate__", None):
        return same(a.__getstate__(), b.__getstate__(), seen)  # e.g. scikit-learn's Cython trees
    return joblib.hash(a) == joblib.hash(b)


def matrix(rows=40, seed=0):
    x = np.random.default_rng(seed).normal(size=(rows, 4))
    x[:, 1] = np.arange(rows) % 3
    return x


def dataset():
    frame = pd.DataFrame(matrix(), columns=list("abcd"))
    frame["y"] = frame["a"] - frame["c"]
    return Dataset(frame, target="y")


def fitted_preprocessor():
    obj = DataPreprocessor([0, 2, 3], [1], "minmax", "one_hot")
    obj.fit(matrix())
    return obj


def fitted_detector():
    obj = OneClassSVM()
    obj.fit(matrix())
    return obj


def api():
    return ModelAPI(dataset(), model_list=["glm"], model_item=es.model_param_items)


def trained():
    model_api = api()
    pipeline = model_api.model_dict["glm"]
    model_api.singlerun(pipeline, "glm")
    return model_api, pipeline


# id -> a function returning (the callable, its arguments)
CASES = {
    "DataPreprocessor()": lambda: (DataPreprocessor, ([0, 2, 3], [1])),
    "DataPreprocessor.fit_transform": lambda: (
        DataPreprocessor([0, 2], [1]).fit_transform,
        (matrix(),),
    ),
    "DataPreprocessor.fit": lambda: (
        DataPreprocessor([0, 2], [1], None, "ordinal").fit,
        (matrix(),),
    ),
    "DataPreprocessor.transform": lambda: (fitted_preprocessor().transform, (matrix(7, 1),)),
    "DataPreprocessor.fit_transform bad": lambda: (
        DataPreprocessor([0], [9]).fit_transform,
        (matrix(),),
    ),
    "OneClassSVM.fit": lambda: (
        OneClassSVM(standardization=True).fit,
        (matrix(), None, np.linspace(0.5, 2, 40)),
    ),
    "OneClassSVM.fit refused": lambda: (
        OneClassSVM(nu=1.0).fit,
        (matrix(), None, np.linspace(0.5, 2, 40)),
    ),
    "OneClassSVM.decision_function": lambda: (fitted_detector().decision_function, (matrix(5),)),
    "OneClassSVM.predict": lambda: (fitted_detector().predict, (matrix(5), True, 0.5)),
    "ModelAPI()": lambda: (ModelAPI, (dataset(), ["glm", "tree"], es.model_param_items)),
    "ModelAPI() bad": lambda: (ModelAPI, (dataset(), ["nope"], es.model_param_items)),
    "ModelAPI.make_pipeline": lambda: (api().make_pipeline, (LinearRegression(),)),
    "ModelAPI.evaluate": lambda: (lambda made: (made[0].evaluate, (made[1],)))(trained()),
    "ModelAPI.get_leaderboard": lambda: (trained()[0].get_leaderboard, ("MSE",)),
    "param_render": lambda: (es.param_render, ("gaminet", "max_epochs", [1, 2])),
    "model_param_specific bad": lambda: (
        es.model_param_specific,
        (copy.deepcopy(es.model_param_items), object()),
    ),
    "model_param_specific missing model": lambda: (
        es.model_param_specific,
        ({k: dict(v) for k, v in es.model_param_items.items() if k != "gaminet"}, dataset()),
    ),
    "conditional_independence_test": lambda: (
        conditional_independence_test,
        (matrix()[:, :2], matrix(seed=1)[:, :1], matrix(seed=2)[:, 2:]),
    ),
    "conditional_independence_test bad": lambda: (
        conditional_independence_test,
        (matrix(), matrix(7), None),
    ),
}


def screening(method):
    """variable_screen of a selector holding x, y and an estimator; the call
    takes them as its arguments so that they are the inputs compared."""
    x, y = matrix(), matrix(seed=3)[:, 0]

    def call(x, y, estimator):
        FeatureSelection(
            method, estimator=estimator, X=x, y=y, feature_names=list("abcd")
        ).variable_screen()

    return call, (x, y, LinearRegression().fit(x, y))


def explaining(then):
    """A SHAP explainer fitted on a background, then `then(explainer, row)`;
    the estimator, the background and the row are the inputs compared."""
    x = matrix(30)
    y = (x[:, 0] > 0).astype(int)

    def call(estimator, background, row):
        explainer = SHAP(estimator, list("abcd"), masker_sample_size=10, sample_size=5)
        explainer.fit(background)
        then(explainer, row)

    return call, (GradientBoostingClassifier(n_estimators=5).fit(x, y), x, x[3])


CASES["SHAP.global_explain_data"] = lambda: explaining(lambda s, row: s.global_explain_data())
CASES["SHAP.local_explain_data"] = lambda: explaining(lambda s, row: s.local_explain_data(row))
CASES["SHAP.local_explain_data bad"] = lambda: explaining(
    lambda s, row: s.local_explain_data(row[:2])
)


def integrity(frame, meta_info):
    check = DataIntegrityCheck(frame, meta_info)
    for name in ["single_column_check", "duplicated_samples", "highly_correlated_features"]:
        getattr(check, name)()


def messy_frame():
    frame = pd.DataFrame(
        {
            "t": ["1.5", "w", None, "%%", "x" * 90] * 4,
            "c": pd.Categorical(list("ab") * 10),
            "n": np.arange(20.0),
        }
    )
    frame.index.name = "index"
    return frame


CASES["DataIntegrityCheck checks"] = lambda: (
    integrity,
    (messy_frame(), {"t": "categorical", "c": "categorical", "n": "numerical"}),
)
CASES["DataIntegrityCheck bad meta_info"] = lambda: (integrity, (messy_frame(), []))


for method in ["pfi", "cor", "rit", "dcor"]:
    CASES[f"FeatureSelection.variable_screen {method}"] = lambda method=method: screening(method)


@pytest.mark.parametrize("make_call", CASES.values(), ids=CASES.keys())
def test_inputs_are_left_as_they_were(make_call):
    call, args = make_call()
    saved = copy.deepcopy(args)
    try:
        call(*args)
    except Exception as error:  # noqa: BLE001 - failing calls must leave their inputs alone too
        assert not isinstance(error, TypeError) or "argument" not in str(error)  # a real call
    assert same(saved, args)
