"""Metric tables (short name to scikit-learn scorer) and the names of the built-in datasets."""

from typing import Any, Protocol

from sklearn.metrics import get_scorer as get_scorer

class _Scorer(Protocol):
    """A scikit-learn scorer: ``scorer(estimator, X, y)``, greater is better."""

    _sign: int
    def __call__(self, estimator: Any, X: Any, y_true: Any, sample_weight: Any = ...) -> Any: ...

REG_METRICS_ADDITIVE: dict[str, _Scorer]
CLS_METRICS_ADDITIVE: dict[str, _Scorer]
REG_METRICS: dict[str, _Scorer]
CLS_METRICS: dict[str, _Scorer]
METRICS: dict[str, _Scorer]
DATASET_NAMES: dict[str, str]
