"""The detectors against pyod's implementations of the same methods, on the same
standardised data with matched parameters and seeds: rank correlation of the training
scores and agreement of the top-10% flags, on three real datasets.

pyod's PCA score is not one of the table's score types (it sums the distances of a row to
the component vectors, weighted by the variance shares), so "pca" is compared with
scikit-learn's PCA in test_detectors.py instead."""

import numpy as np
import pytest
from scipy.stats import spearmanr
from sklearn.cluster import KMeans
from sklearn.datasets import load_breast_cancer
from sklearn.preprocessing import StandardScaler

from zeka.data.datasets.credit import credit_trim2
from zeka.data.outlier_detection import DETECTORS

pytest.importorskip("pyod")

from pyod.models.cblof import CBLOF  # noqa: E402
from pyod.models.ecod import ECOD  # noqa: E402
from pyod.models.hbos import HBOS  # noqa: E402
from pyod.models.iforest import IForest  # noqa: E402
from pyod.models.knn import KNN  # noqa: E402


def credit():
    frame = credit_trim2().select_dtypes("number").drop(columns=["Default"])
    return frame.to_numpy(float)[:800]


def cancer():
    return load_breast_cancer().data


def star98():
    import statsmodels.api as sm

    return sm.datasets.star98.load_pandas().data.select_dtypes("number").to_numpy(float)


DATASETS = {"credit": credit, "breast cancer": cancer, "star98": star98}
_cache = {}


def standardised(name):
    if name not in _cache:
        _cache[name] = StandardScaler().fit_transform(DATASETS[name]())
    return _cache[name]


def pairs(n):
    """(key, our parameters, pyod's detector) with the same parameters and seeds."""
    return [
        ("if", {}, IForest(n_estimators=100, max_samples=min(256, n), random_state=0)),
        (
            "cb",
            {},
            CBLOF(
                n_clusters=10,
                clustering_estimator=KMeans(n_clusters=10, random_state=0, n_init=1),
                random_state=0,
            ),
        ),
        ("knn", dict(score_method="mean"), KNN(n_neighbors=5, method="mean")),
        ("knn", dict(score_method="largest"), KNN(n_neighbors=5, method="largest")),
        ("knn", dict(score_method="median"), KNN(n_neighbors=5, method="median")),
        ("hbos", {}, HBOS(n_bins=10, alpha=0.1, tol=0.5)),
        ("ecod", {}, ECOD()),
    ]


def top_tenth(scores):
    return scores > np.quantile(scores, 0.9)


@pytest.mark.parametrize("name", list(DATASETS))
def test_scores_rank_and_flag_as_pyods(name):
    x = standardised(name)
    for key, params, peer in pairs(len(x)):
        ours = DETECTORS[key](standardization=False, **params).fit(x).score
        theirs = peer.fit(x).decision_scores_
        rho = spearmanr(ours, theirs)[0]
        agree = (top_tenth(ours) == top_tenth(theirs)).mean()
        assert rho >= 0.99 and agree >= 0.95, (key, params, rho, agree)
