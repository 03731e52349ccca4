"""Outlier detection: the eight methods of the outlier-detection parameter table.

`DETECTORS` maps each method key, in the table's order, to its detector class:
"if" `IsolationForest`, "cb" `CBLOF`, "pca" `PCA`, "cbtree" `CBTree`, "knn" `KNN`,
"hbos" `HBOS`, "novelty" `OneClassSVM` (module `novelty`), "ecod" `ECOD`. Every detector
scores rows so that a larger score means a more outlying row, and labels with
`predict(X, threshold)` by a quantile of the scores.
"""

from zeka.data.outlier_detection.cluster_tree import CBTree
from zeka.data.outlier_detection.detectors import CBLOF, ECOD, HBOS, KNN, PCA, IsolationForest
from zeka.data.outlier_detection.novelty import OneClassSVM

DETECTORS = {
    "if": IsolationForest,
    "cb": CBLOF,
    "pca": PCA,
    "cbtree": CBTree,
    "knn": KNN,
    "hbos": HBOS,
    "novelty": OneClassSVM,
    "ecod": ECOD,
}


def make_detector(key, **params):
    """The detector of method `key`, built with `params` (the method's parameter keys)."""
    try:
        detector_class = DETECTORS[key]
    except KeyError:
        raise KeyError(
            f"unknown outlier-detection method {key!r}; the methods are {', '.join(DETECTORS)}"
        ) from None
    return detector_class(**params)


__all__ = [
    "DETECTORS",
    "make_detector",
    "IsolationForest",
    "CBLOF",
    "PCA",
    "CBTree",
    "KNN",
    "HBOS",
    "OneClassSVM",
    "ECOD",
]
