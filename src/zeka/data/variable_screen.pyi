"""Feature selection by importance, correlation or dependence scores."""

from typing import Any, Callable, Literal, Sequence

import numpy as np
import numpy.typing as npt
from sklearn.base import is_regressor as is_regressor
from sklearn.inspection import permutation_importance as permutation_importance

from zeka.data.causality.core import conditional_independence_test as conditional_independence_test

# The scores of one method: an array for "pfi" and "cor", a list for "rit" and "dcor".
_Scores = npt.NDArray[np.float64] | list[float]

# Permutation importance, correlation, independence-test p-value, distance correlation.
_Method = Literal["pfi", "cor", "rit", "dcor"]

class FeatureSelection:
    method: _Method
    algorithm: str | Callable[[npt.NDArray[Any], npt.NDArray[Any]], float]
    threshold: float
    estimator: Any
    X: npt.NDArray[Any] | None
    y: npt.NDArray[Any] | None
    feature_names: list[str] | None
    target_name: str | None
    random_state: int | None
    # Set by every selection.
    cut_point: int
    def __init__(
        self,
        method: _Method = "pfi",
        algorithm: str | Callable[[npt.NDArray[Any], npt.NDArray[Any]], float] = "pearson",
        estimator: Any = None,
        threshold: float = 1,
        X: npt.NDArray[Any] | None = None,
        y: npt.NDArray[Any] | None = None,
        feature_names: list[str] | None = None,
        target_name: str | None = None,
        random_state: int | None = 0,
    ) -> None: ...
    def _cal_pfi(self) -> npt.NDArray[np.float64]: ...
    def _cal_corr(
        self, algorithm: str | Callable[[npt.NDArray[Any], npt.NDArray[Any]], float] = "pearson"
    ) -> npt.NDArray[np.float64]: ...
    def _cal_rit(self) -> list[float]: ...
    def _cal_distcorr(self) -> list[float]: ...
    def _compute_feature_ind(
        self,
        fi: Sequence[float] | npt.NDArray[np.float64],
        method: str = "accumulated",
        select_larger: bool = True,
    ) -> list[np.intp]: ...
    def variable_screen(self) -> tuple[_Scores, list[np.intp]]:
        """The scores of self.method and the positions of the selected features, best first."""
