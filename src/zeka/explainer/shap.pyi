"""SHAP explanations of a fitted estimator: data and plots."""

from typing import Any, Callable, Literal, Sequence

import numpy as np
import numpy.typing as npt
import pandas as pd
from matplotlib.figure import Figure
from sklearn.base import is_classifier as is_classifier
from sklearn.base import is_regressor as is_regressor

from zeka.exceptions import ZekaError as ZekaError
from zeka.exceptions import ZekaInfo as ZekaInfo
from zeka.exceptions import ZekaWarning as ZekaWarning
from zeka.explainer.utils import scatter_ as scatter_
from zeka.plots import scale_plot_ticks as scale_plot_ticks
from zeka.utils import TestDataResult as TestDataResult

# A feature named by its label or its position; a list selects its first entry
# (a "scatter" plot colours by the second).
_Feature = str | int | list[Any]

class SHAP:
    estimator: Any
    feature_names: Sequence[str] | npt.NDArray[np.str_] | None
    random_state: int | None
    # The estimator's predict (regressor) or predict_proba (classifier); absent otherwise.
    predict_func: Callable[..., Any]
    masker_sample_size: int | None
    sample_size: int | None
    # Set by fit.
    x: npt.NDArray[Any] | pd.DataFrame | None
    shap_explainer: Any
    shap_tag: Literal["other", "kernel"] | None
    # Set by global_explain_data: a shap.Explanation.
    shap_val: Any
    def __init__(
        self,
        estimator: Any,
        feature_names: Sequence[str] | npt.NDArray[np.str_] | None = None,
        masker_sample_size: int | None = 500,
        sample_size: int | None = 500,
        random_state: int | None = 0,
    ) -> None: ...
    def fit(self, x: npt.NDArray[Any] | pd.DataFrame) -> None:
        """Store the background data x and build the explainer; returns None."""
    def global_explain_data(self, features: _Feature | None = None) -> TestDataResult:
        """Result "global_shap": value holds "feature", "sample_size", "feature_names", "shap_values"."""
    def get_global_explain(self, features: _Feature | None) -> TestDataResult:
        """The last global explanation again, with the selected feature of `features`."""
    def local_explain_data(self, x: npt.NDArray[Any]) -> TestDataResult:
        """Result "local_shap": value holds "feature_names", "feature_values", "shap_values"."""
    @staticmethod
    def plot_shap(
        explain_result: TestDataResult,
        plot_type: str,
        max_show: int = 10,
        scaler: Any = None,
        figsize: tuple[float, float] = ...,
    ) -> Figure:
        """Draw a result ("scatter", "waterfall", "bar" or "beeswarm"), show it and return the figure."""
