"""Outlier detection with a one-class support-vector machine."""

from typing import Any, Callable, Literal

import numpy as np
import numpy.typing as npt
from sklearn.preprocessing import StandardScaler as StandardScaler
from sklearn.svm import OneClassSVM as sklearn_OneClassSVM

class OneClassSVM:
    estimator: sklearn_OneClassSVM
    standardization: bool
    # None until a fit with standardisation.
    scaler_: StandardScaler | None
    # Outlier scores of the training rows (larger is more outlying); None until fitted.
    score: npt.NDArray[np.float64] | None
    def __init__(
        self,
        kernel: Literal["linear", "poly", "rbf", "sigmoid", "precomputed"]
        | Callable[..., Any] = "rbf",
        degree: int = 3,
        gamma: Literal["scale", "auto"] | float = "scale",
        coef0: float = 0.0,
        tol: float = 0.001,
        nu: float = 0.5,
        shrinking: bool = True,
        cache_size: float = 200,
        verbose: bool = False,
        max_iter: int = -1,
        standardization: bool = True,
    ) -> None: ...
    def fit(
        self, X: npt.ArrayLike, y: Any = None, sample_weight: npt.ArrayLike | None = None
    ) -> sklearn_OneClassSVM:
        """Fit on X; returns the fitted inner scikit-learn estimator, not this wrapper."""
    def decision_function(self, X: npt.ArrayLike, scale: bool = True) -> npt.NDArray[np.float64]:
        """Outlier scores of the rows of X: larger means more outlying."""
    def predict(
        self, X: npt.ArrayLike | None = None, scale: bool = True, threshold: float = 0.9
    ) -> npt.NDArray[np.float64]:
        """1.0 for inliers and -1.0 for outliers (the training rows when X is None)."""
    # scikit-learn's estimator conventions.
    def get_params(self, deep: bool = True) -> dict[str, Any]: ...
    def set_params(self, **params: Any) -> OneClassSVM: ...
    def __sklearn_is_fitted__(self) -> bool: ...
    def __sklearn_tags__(self) -> Any: ...
