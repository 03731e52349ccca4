"""A typed tour of zeka's native modules: what each main entry point takes and returns.

tests/test_typing.py checks this file with ``mypy --strict`` and also runs it,
so the annotations below are the values the modules really return. Run it
yourself with ``python tests/typing/example.py``.
"""

from __future__ import annotations

from typing import Any

import matplotlib

matplotlib.use("Agg")  # draw without a display

import matplotlib.pyplot as plt
import numpy as np
import numpy.typing as npt
import pandas as pd
from matplotlib.figure import Figure
from pandas.io.formats.style import Styler
from sklearn.linear_model import LinearRegression

from zeka.config.estimator_settings import (
    NEED_RENDER_PARAMS,
    model_name_items,
    model_param_items,
    model_param_specific,
    param_render,
)
from zeka.config.misc_settings import DATASET_NAMES, METRICS
from zeka.data.causality.core import conditional_independence_test
from zeka.data.dataset import Dataset, load_dataset, load_frame
from zeka.data.outlier_detection.novelty import OneClassSVM
from zeka.data.quality_scan.correlation import correlation_ratio, symmetric_theil_u_correlation
from zeka.data.quality_scan.quality_scan import DataIntegrityCheck
from zeka.data.quality_scan.utils import format_list, is_string_column, string_baseform
from zeka.data.tabular_prep import DataPreprocessor
from zeka.data.variable_screen import FeatureSelection
from zeka.explainer.shap import SHAP
from zeka.utils import TestDataResult
from zeka.workflow.pipeline import ModelPipeline
from zeka.workflow.workbench import ModelAPI


def settings(dataset: Dataset) -> None:
    """Parameter tables, their adaptation to a dataset, and widget value conversion."""
    display_name: str = model_name_items["glm"]  # "GLM"
    # Each entry: [widget class name, widget arguments, label, default].
    glm_entries: dict[str, list[Any]] = model_param_items["glm"]
    adapted = model_param_specific(model_param_items, dataset)
    assert adapted is model_param_items  # changed in place and returned
    convertible: list[str] = NEED_RENDER_PARAMS["gaminet"]
    epochs: Any = param_render("gaminet", "max_epochs", "100, 200")  # [100, 200]
    assert display_name == "GLM" and glm_entries and "max_epochs" in convertible
    assert epochs == [100, 200]
    # Scorers by short name; greater is better, _sign turns losses back.
    auc_sign: int = METRICS["AUC"]._sign
    assert auc_sign == 1 and "Diabetes" in DATASET_NAMES


def workflow(dataset: Dataset) -> None:
    """Train a catalogue model, register one built elsewhere, rank them."""
    api = ModelAPI(dataset, model_list=["glm"], model_item=model_param_items)
    prepared: dict[str, ModelPipeline] = api.model_dict
    api.singlerun(prepared["glm"], "glm")  # returns None; the record is kept
    train_x, train_y, _ = dataset.get_data(train=True)
    api.register_model(api.make_pipeline(LinearRegression().fit(train_x, train_y)), name="ols")
    record: dict[str, Any] = api.evaluate(api.get_model("ols"))  # "test_MSE", ..., "train_R2"
    parameters: list[list[Any]] = api.get_model_config("ols")  # [[name, value], ...]
    board: pd.DataFrame | None = api.get_leaderboard(rank_metric="MSE")  # None: nothing trained
    assert board is not None and sorted(board["Model"]) == ["glm", "ols"]
    assert "test_MSE" in record and parameters


def integrity(frame: pd.DataFrame) -> None:
    """Integrity checks of a raw table: frames, styled tables, one message string."""
    check = DataIntegrityCheck(frame, meta_info=None)
    nulls: pd.DataFrame = check.null_ratio()  # column "Null Ratio"
    mixed: pd.DataFrame = check.mixed_data_type()
    report: Styler = check.single_column_check()
    duplicates: pd.DataFrame | str = check.duplicated_samples()  # str for an empty table
    assert list(nulls.columns) == ["Null Ratio"] and len(mixed) == frame.shape[1]
    assert isinstance(report, Styler) and not isinstance(duplicates, str)
    # The sibling helpers the checks use.
    base: str = string_baseform("  Yes!  ", remove_special_characters=True)  # "yes"
    text: bool = is_string_column(pd.Series(["a", "b", 1]))
    labels: str = format_list(list(range(8)), max_items=3)
    theil_u: float = symmetric_theil_u_correlation(
        np.array([0.0, 1.0, 1.0]), np.array([1.0, 0.0, 0.0])
    )
    eta: float = correlation_ratio(np.array([0.0, 0.0, 1.0]), np.array([1.0, 2.0, 9.0]))
    assert base == "yes" and text and labels.startswith("[0, 1, 2")
    assert theil_u == 1.0 and 0.0 <= eta <= 1.0


def preparation_and_screening(dataset: Dataset) -> None:
    """Preprocessing, feature selection, the independence test and outliers."""
    x: npt.NDArray[np.float64] = np.asarray(dataset.train_x, dtype=np.float64)
    y: npt.NDArray[np.float64] = np.asarray(dataset.train_y, dtype=np.float64).reshape(-1, 1)

    prep = DataPreprocessor([0, 2, 3], [1], normalize_strategy="minmax", encode_strategy="ordinal")
    matrix: npt.NDArray[Any] = prep.fit_transform(x[:, :4])
    prep.fit(x[:, :4])  # returns None, not self: no chaining prep.fit(x).transform(x)
    assert matrix.shape == (len(x), 4) and prep.c_hot_f == {1: 1}

    screen = FeatureSelection(
        method="cor",
        threshold=0.2,
        X=x,
        y=y,
        feature_names=list(dataset.feature_names),
        target_name="target",
    )
    scores, selected = screen.variable_screen()  # scores by column, selected positions best first
    assert isinstance(scores, np.ndarray) and scores.dtype == np.float64  # "cor": an array
    assert all(isinstance(i, np.intp) and abs(scores[i]) > 0.2 for i in selected)

    p_value, statistic = conditional_independence_test(x[:, [0]], y, method="rit", num_f2=5, seed=0)
    assert isinstance(p_value, float) and 0.0 <= p_value <= 1.0 and statistic >= 0.0

    detector = OneClassSVM(nu=0.1)
    detector.fit(x)  # returns the fitted scikit-learn estimator
    outlier_scores: npt.NDArray[np.float64] = detector.decision_function(x)  # larger: more outlying
    labels: npt.NDArray[np.float64] = detector.predict(threshold=0.9)  # 1.0 inlier, -1.0 outlier
    assert outlier_scores.shape == labels.shape == (len(x),)
    assert outlier_scores.dtype == labels.dtype == np.float64


def explanation(dataset: Dataset) -> None:
    """SHAP values of a fitted model, as data and as figures."""
    train_x, train_y, _ = dataset.get_data(train=True)
    model = LinearRegression().fit(train_x, train_y)
    explainer = SHAP(model, feature_names=list(dataset.feature_names), sample_size=50)
    explainer.fit(train_x)  # returns None
    global_result: TestDataResult = explainer.global_explain_data(features="bmi")
    local_result: TestDataResult = explainer.local_explain_data(np.asarray(train_x)[0])
    bar: Figure = SHAP.plot_shap(global_result, "bar", max_show=5)
    waterfall: Figure = SHAP.plot_shap(local_result, "waterfall", figsize=(6, 4))
    assert global_result.key == "global_shap" and local_result.key == "local_shap"
    assert isinstance(bar, Figure) and isinstance(waterfall, Figure)
    plt.close("all")


def main() -> None:
    dataset = load_dataset("Diabetes")
    settings(dataset)
    workflow(dataset)
    integrity(load_frame("SimuCredit_raw"))
    preparation_and_screening(dataset)
    explanation(dataset)
    print("typed example: every entry point returned what its annotation says")


if __name__ == "__main__":
    main()
