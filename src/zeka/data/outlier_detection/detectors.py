"""Outlier detectors beside the one-class SVM, one per method of the outlier-detection table.

Every detector follows the one-class SVM's conventions:

- the constructor takes exactly the method's parameter keys, with the table's defaults;
  the booleans may also be given as the strings "True"/"False" that the widgets deliver;
- `standardization` (true by default) standardises the covariates with a `StandardScaler`
  fitted on the training rows (weighted by `sample_weight` when given), kept in `scaler_`;
- `fit(X, y=None, sample_weight=None)` stores the outlier scores of the training rows in
  `score` and returns the detector;
- `decision_function(X, scale=True)` returns outlier scores: **a larger score means a more
  outlying row**, for all eight detectors;
- `predict(X=None, scale=True, threshold=0.9)` labels rows `-1.0` (outlier) whose score is
  strictly above the `threshold` quantile of the scores being labelled, `1.0` otherwise;
- scikit-learn's `get_params`/`set_params`/`clone`, and pickling.

Covariates must be finite (NaN and infinite values are refused by scikit-learn's input check);
the caller's arrays are never modified.
"""

from __future__ import annotations

import math
from typing import Any, Optional

import numpy as np
import numpy.typing as npt
from sklearn.base import BaseEstimator
from sklearn.metrics.pairwise import euclidean_distances
from sklearn.preprocessing import StandardScaler
from sklearn.utils import check_array

from zeka.data.outlier_detection import _kernels

__all__ = ["IsolationForest", "CBLOF", "PCA", "KNN", "HBOS", "ECOD"]


def _flag(value: Any) -> bool:
    """A boolean parameter: the widgets' strings "True"/"False" as param_render reads them
    (only "True" is true), anything else by its truth value."""
    if isinstance(value, str):
        return value == "True"
    return bool(value)


def _weights(sample_weight: Any, n: int) -> Optional[np.ndarray]:
    if sample_weight is None:
        return None
    w = np.array(sample_weight, dtype=np.float64, copy=True).reshape(-1)
    if w.shape[0] != n:
        raise ValueError(f"sample_weight has {w.shape[0]} entries for {n} rows")
    if not np.all(np.isfinite(w)) or np.any(w < 0):
        raise ValueError("sample_weight must hold finite values >= 0")
    if not w.sum() > 0:
        raise ValueError("sample_weight must not be all zero")
    return w


class _Detector(BaseEstimator):
    """What every detector shares: input checks, standardisation, scores and labels."""

    standardization: Any
    scaler_: Optional[StandardScaler]
    score: Optional[npt.NDArray[np.float64]]

    # the smallest number of training rows the method can fit
    _min_rows = 1

    def _check(self, X: Any) -> np.ndarray:
        return check_array(X, dtype=np.float64, copy=False)

    def fit(self, X: Any, y: Any = None, sample_weight: Any = None) -> "_Detector":
        """Fit on the rows of X (y is ignored); returns the detector."""
        X = self._check(X)
        w = _weights(sample_weight, X.shape[0])
        if X.shape[0] < self._min_rows:
            raise ValueError(
                f"{type(self).__name__} needs at least {self._min_rows} training rows, "
                f"got {X.shape[0]}"
            )
        self._validate()
        if _flag(self.standardization):
            scaler = StandardScaler()
            scaler.fit(X, sample_weight=w)
            X = scaler.transform(X)
            self.scaler_ = scaler
        else:
            self.scaler_ = None
        self.n_features_in_ = X.shape[1]
        self.score = np.asarray(self._fit(np.ascontiguousarray(X), w), dtype=np.float64)
        return self

    def decision_function(self, X: Any, scale: bool = True) -> npt.NDArray[np.float64]:
        """Outlier scores of the rows of X: larger means more outlying."""
        if self.score is None:
            raise ValueError(f"this {type(self).__name__} is not fitted yet: call fit first")
        X = self._check(X)
        if X.shape[1] != self.n_features_in_:
            raise ValueError(
                f"X has {X.shape[1]} features, the detector was fitted on {self.n_features_in_}"
            )
        if _flag(self.standardization) and scale and self.scaler_ is not None:
            X = self.scaler_.transform(X)
        return np.asarray(self._score(np.ascontiguousarray(X)), dtype=np.float64)

    def predict(
        self, X: Any = None, scale: bool = True, threshold: float = 0.9
    ) -> npt.NDArray[np.float64]:
        """1.0 for inliers and -1.0 for outliers (the training rows when X is None): a row is
        an outlier when its score is strictly above the `threshold` quantile of the scores
        being labelled (1.0 flags none, 0.0 every row above the smallest score)."""
        if not (
            isinstance(threshold, (int, float, np.number))
            and not isinstance(threshold, bool)
            and 0 <= threshold <= 1
        ):
            raise ValueError(f"threshold must be a quantile level in [0, 1], got {threshold!r}")
        if X is None:
            if self.score is None:
                raise ValueError(f"this {type(self).__name__} is not fitted yet: call fit first")
            score = self.score
        else:
            score = self.decision_function(X, scale=scale)
        prediction = np.ones(score.shape)
        prediction[score > np.quantile(score, threshold)] = -1
        return prediction

    def __sklearn_is_fitted__(self) -> bool:
        return getattr(self, "score", None) is not None

    # subclasses
    def _validate(self) -> None:
        pass

    def _fit(self, X: np.ndarray, w: Optional[np.ndarray]) -> np.ndarray:
        raise NotImplementedError

    def _score(self, X: np.ndarray) -> np.ndarray:
        raise NotImplementedError


# "if"


class IsolationForest(_Detector):
    """Isolation forest: rows that random axis-parallel cuts isolate in few steps are outlying.

    The forest is scikit-learn's `IsolationForest`; the score is the negated
    `score_samples` (the mean normalised path length turned into an anomaly score), so a
    larger score is more outlying.

    Parameters
    ----------
    n_estimators : number of trees.
    max_samples : rows drawn for each tree (at most the number of training rows).
    max_features : share of the features drawn for each tree, in (0, 1].
    bootstrap : draw the rows with replacement.
    standardization : standardise the covariates first.
    random_state : seed of the forest.

    Sample weights are handed to scikit-learn's forest; since each tree draws its own
    sub-sample of rows, a row of weight 2 is not the same as two copies of the row.
    """

    def __init__(
        self,
        n_estimators: int = 100,
        max_samples: int = 256,
        max_features: float = 1.0,
        bootstrap: Any = False,
        standardization: Any = True,
        random_state: int = 0,
    ) -> None:
        self.n_estimators = n_estimators
        self.max_samples = max_samples
        self.max_features = max_features
        self.bootstrap = bootstrap
        self.standardization = standardization
        self.random_state = random_state
        self.scaler_ = None
        self.score = None

    def _fit(self, X, w):
        from sklearn.ensemble import IsolationForest as _Forest

        samples = self.max_samples
        if isinstance(samples, (int, np.integer)) and not isinstance(samples, bool):
            samples = int(min(samples, X.shape[0]))
        self.estimator_ = _Forest(
            n_estimators=self.n_estimators,
            max_samples=samples,
            max_features=self.max_features,
            bootstrap=_flag(self.bootstrap),
            random_state=self.random_state,
        ).fit(X, sample_weight=w)
        return self._score(X)

    def _score(self, X):
        return -self.estimator_.score_samples(X)


# "cb"

_CLUSTERING = {"kmeans": "kmeans", "KMeans": "kmeans", "gmm": "gmm"}
_CLUSTERING["Gaussian Mixture Model"] = "gmm"
# a size ratio between neighbouring clusters (sorted by size) at least this large also
# separates large from small clusters
_SIZE_RATIO = 5.0


class CBLOF(_Detector):
    """Cluster-based local outlier factor.

    The rows are clustered (K-means or a Gaussian mixture); clusters are sorted by size and
    split into large and small ones: the large clusters are the fewest biggest ones that hold
    at least ``1 - clustering_threshold`` of the rows, or, where a neighbouring pair of
    sorted clusters differs in size by a factor of 5 or more, the clusters before that step
    (the first boundary meeting both rules, else the first meeting the share rule, else the
    first meeting the ratio rule; with none, every cluster is large). A row of a large
    cluster scores its distance to the cluster's centre, a row of a small cluster its
    distance to the nearest centre of a large cluster; with `use_weights` the distance is
    multiplied by the size of the row's cluster.

    Parameters
    ----------
    n_clusters : number of clusters (at most the number of training rows).
    clustering_method : "kmeans" or "gmm" (also their display names "KMeans" and
        "Gaussian Mixture Model").
    clustering_threshold : share of rows, in [0, 1), that small clusters may hold together.
    use_weights : weight the distances by cluster size.
    standardization : standardise the covariates first.
    random_state : seed of the clustering.

    The centres are K-means' own, or the weighted means of the rows of each mixture
    component. Sample weights weight K-means (`KMeans.fit`'s sample_weight) and the cluster
    sizes; scikit-learn's Gaussian mixture takes no weights, so with "gmm" they enter the
    sizes and centres only. A row of weight 2 equals two copies of it whenever the clustering
    comes out the same (K-means' seeding draws rows, so it may not).
    """

    def __init__(
        self,
        n_clusters: int = 10,
        clustering_method: str = "kmeans",
        clustering_threshold: float = 0.1,
        use_weights: Any = False,
        standardization: Any = True,
        random_state: int = 0,
    ) -> None:
        self.n_clusters = n_clusters
        self.clustering_method = clustering_method
        self.clustering_threshold = clustering_threshold
        self.use_weights = use_weights
        self.standardization = standardization
        self.random_state = random_state
        self.scaler_ = None
        self.score = None

    def _validate(self):
        if self.clustering_method not in _CLUSTERING:
            raise ValueError(
                "clustering_method must be 'kmeans' or 'gmm' (or 'KMeans', 'Gaussian Mixture "
                f"Model'), got {self.clustering_method!r}"
            )
        if not 0 <= self.clustering_threshold < 1:
            raise ValueError(
                f"clustering_threshold must lie in [0, 1), got {self.clustering_threshold!r}"
            )

    def _fit(self, X, w):
        k = int(self.n_clusters)
        if k < 1 or X.shape[0] < k:
            raise ValueError(
                f"CBLOF needs at least n_clusters={self.n_clusters} training rows, got {X.shape[0]}"
            )
        if _CLUSTERING[self.clustering_method] == "kmeans":
            from sklearn.cluster import KMeans

            model = KMeans(n_clusters=k, random_state=self.random_state, n_init=1)
            model.fit(X, sample_weight=w)
            labels = model.labels_
        else:
            from sklearn.mixture import GaussianMixture

            model = GaussianMixture(n_components=k, random_state=self.random_state)
            labels = model.fit(X).predict(X)
        self.clustering_ = model
        weights = np.ones(X.shape[0]) if w is None else w
        sizes = np.bincount(labels, weights=weights, minlength=k)
        if hasattr(model, "cluster_centers_"):
            centres = np.array(model.cluster_centers_, dtype=np.float64)
        else:  # the mixture's clusters: the weighted means of their rows
            centres = np.array(model.means_, dtype=np.float64)
            for c in np.flatnonzero(sizes > 0):
                centres[c] = np.average(X[labels == c], axis=0, weights=weights[labels == c])
        self.cluster_sizes_ = sizes
        self.cluster_centers_ = centres
        order = np.argsort(-sizes, kind="stable")
        boundary = self._boundary(sizes[order], weights.sum())
        self.large_clusters_ = np.sort(order[:boundary])
        return self._scores_of(X, labels)

    def _boundary(self, sorted_sizes, total):
        share = 1.0 - self.clustering_threshold
        k = len(sorted_sizes)
        cumulative = np.cumsum(sorted_sizes)
        by_share, by_ratio = [], []
        with np.errstate(divide="ignore", invalid="ignore"):
            for b in range(1, k):
                if cumulative[b - 1] >= total * share:
                    by_share.append(b)
                if sorted_sizes[b - 1] / sorted_sizes[b] >= _SIZE_RATIO:
                    by_ratio.append(b)
        both = sorted(set(by_share) & set(by_ratio))
        for candidates in (both, by_share, by_ratio):
            if candidates:
                return candidates[0]
        return k

    def _scores_of(self, X, labels):
        large = np.zeros(len(self.cluster_sizes_), dtype=bool)
        large[self.large_clusters_] = True
        distances = euclidean_distances(X, self.cluster_centers_)
        own = distances[np.arange(len(X)), labels]
        to_large = distances[:, self.large_clusters_].min(axis=1)
        distance = np.where(large[labels], own, to_large)
        if _flag(self.use_weights):
            distance = distance * self.cluster_sizes_[labels]
        return distance

    def _score(self, X):
        return self._scores_of(X, self.clustering_.predict(X))


# "pca"


class PCA(_Detector):
    """Principal-component outlier scores.

    The principal axes are those of the (weighted) covariance of the training rows; the
    first components whose share of the variance reaches `cumulative_variance` are kept.
    The score is either the Mahalanobis distance in the retained space (squared component
    scores divided by the components' variances, summed) or the reconstruction error (the
    squared distance of a row from its projection onto the retained space).

    Parameters
    ----------
    cumulative_variance : share of the variance the retained components explain, in (0, 1].
    d_reduction_method : "pca", or "sparse_pca" (scikit-learn's `SparsePCA` with that many
        components, fitted on the centred rows; its component scores come from its
        `transform`, the reconstruction from its components).
    score_type : "mahalanobis" or "reconstruction_error".
    tol : components whose variance is at most `tol` times the largest are left out of the
        Mahalanobis distance (a variance of zero always is).
    alpha : sparsity penalty of the sparse PCA.
    standardization : standardise the covariates first.
    random_state : seed of the sparse PCA.

    With "pca", a row of weight 2 gives the same scores as two copies of it (weighted mean
    and covariance); the sparse PCA takes the weights as a scaling of the centred rows,
    which is not the same as copies.
    """

    def __init__(
        self,
        cumulative_variance: float = 0.9,
        d_reduction_method: str = "pca",
        score_type: str = "mahalanobis",
        tol: float = 0.0,
        alpha: float = 0.1,
        standardization: Any = True,
        random_state: int = 0,
    ) -> None:
        self.cumulative_variance = cumulative_variance
        self.d_reduction_method = d_reduction_method
        self.score_type = score_type
        self.tol = tol
        self.alpha = alpha
        self.standardization = standardization
        self.random_state = random_state
        self.scaler_ = None
        self.score = None

    def _validate(self):
        if self.d_reduction_method not in ("pca", "sparse_pca"):
            raise ValueError(
                f"d_reduction_method must be 'pca' or 'sparse_pca', got {self.d_reduction_method!r}"
            )
        if self.score_type not in ("mahalanobis", "reconstruction_error"):
            raise ValueError(
                "score_type must be 'mahalanobis' or 'reconstruction_error', "
                f"got {self.score_type!r}"
            )
        if not 0 < self.cumulative_variance <= 1:
            raise ValueError(
                f"cumulative_variance must lie in (0, 1], got {self.cumulative_variance!r}"
            )

    def _fit(self, X, w):
        weights = np.ones(X.shape[0]) if w is None else w
        total = weights.sum()
        mean = weights @ X / total
        centred = X - mean
        cov = (centred * weights[:, None]).T @ centred / total
        values, vectors = np.linalg.eigh(cov)
        order = np.argsort(-values, kind="stable")
        values = np.clip(values[order], 0.0, None)
        vectors = vectors[:, order]
        share = np.cumsum(values) / values.sum() if values.sum() > 0 else np.ones(len(values))
        k = int(np.searchsorted(share, self.cumulative_variance - 1e-12) + 1)
        k = min(max(k, 1), X.shape[1])
        self.mean_ = mean
        self.n_components_ = k
        if self.d_reduction_method == "pca":
            self.components_ = vectors[:, :k].T.copy()
            variances = values[:k]
        else:
            from sklearn.decomposition import SparsePCA

            scaled = centred * np.sqrt(weights / weights.mean())[:, None]
            self.sparse_ = SparsePCA(
                n_components=k, alpha=self.alpha, random_state=self.random_state
            ).fit(scaled)
            self.components_ = np.array(self.sparse_.components_, dtype=np.float64)
            z = self._project(X)
            variances = weights @ (z**2) / total
        self.variances_ = variances
        top = variances.max() if len(variances) else 0.0
        self.kept_ = variances > max(self.tol * top, 0.0)
        return self._score(X)

    def _project(self, X):
        centred = X - self.mean_
        if self.d_reduction_method == "pca":
            return centred @ self.components_.T
        return self.sparse_.transform(X - self.mean_ + self.sparse_.mean_)

    def _score(self, X):
        z = self._project(X)
        if self.score_type == "mahalanobis":
            return (z[:, self.kept_] ** 2 / self.variances_[self.kept_]).sum(axis=1)
        residual = (X - self.mean_) - z @ self.components_
        return (residual**2).sum(axis=1)


# "knn"


class KNN(_Detector):
    """Distance to the k nearest training rows.

    The score of a training row aggregates its distances to its `n_neighbors` nearest other
    training rows (the row itself left out); a new row's, to its nearest training rows.
    `score_method` "mean" averages them, "largest" takes the k-th distance, "median" their
    median. The neighbours are found by scikit-learn's `NearestNeighbors` with `algorithm`
    (`radius` is handed to it as well; k-nearest queries do not use it).

    Parameters
    ----------
    n_neighbors : k; the training rows must outnumber it.
    algorithm : "auto", "ball_tree", "kd_tree" or "brute".
    score_method : "mean", "largest" or "median".
    radius : handed to `NearestNeighbors`.
    standardization : standardise the covariates first.

    Sample weights count a neighbour as that many rows (a training row of weight w is its
    own neighbour w - 1 times), so a row of weight 2 gives the scores of two copies of it.
    Rows of weight 0 are left out of the neighbours.
    """

    def __init__(
        self,
        n_neighbors: int = 5,
        algorithm: str = "auto",
        score_method: str = "mean",
        radius: float = 1.0,
        standardization: Any = True,
    ) -> None:
        self.n_neighbors = n_neighbors
        self.algorithm = algorithm
        self.score_method = score_method
        self.radius = radius
        self.standardization = standardization
        self.scaler_ = None
        self.score = None

    _METHODS = {"mean": 0, "largest": 1, "median": 2}

    def _validate(self):
        if self.score_method not in self._METHODS:
            raise ValueError(
                f"score_method must be 'mean', 'largest' or 'median', got {self.score_method!r}"
            )
        if int(self.n_neighbors) < 1:
            raise ValueError(f"n_neighbors must be at least 1, got {self.n_neighbors!r}")

    def _fit(self, X, w):
        from sklearn.neighbors import NearestNeighbors

        k = int(self.n_neighbors)
        keep = np.ones(X.shape[0], dtype=bool) if w is None else w > 0
        weights = None if w is None else w[keep]
        available = keep.sum() - 1 if w is None else weights.sum() - weights.min()
        if w is None and X.shape[0] <= k or w is not None and available < k - 1e-9:
            raise ValueError(
                f"KNN needs more training rows than n_neighbors={self.n_neighbors}, "
                f"got {X.shape[0]}"
            )
        index_rows = X[keep]
        self.neighbors_ = NearestNeighbors(
            n_neighbors=k, algorithm=self.algorithm, radius=self.radius
        ).fit(index_rows)
        self.weights_ = weights
        self._queried = self._depth(len(index_rows) - 1)
        scores = np.empty(X.shape[0])
        # the indexed rows, each without itself
        dist, idx = self.neighbors_.kneighbors(None, n_neighbors=self._queried)
        own = None if weights is None else np.clip(weights - 1.0, 0.0, None)
        scores[keep] = self._aggregate(dist, idx, own)
        if not keep.all():
            scores[~keep] = self._score(X[~keep])
        return scores

    def _depth(self, limit):
        """How many neighbours to query so that their weights reach k."""
        k = int(self.n_neighbors)
        if self.weights_ is None:
            return min(k, limit)
        return int(min(limit, math.ceil(k / min(self.weights_.min(), 1.0)) + 1))

    def _aggregate(self, dist, idx, own):
        return _kernels.neighbour_scores(
            np.ascontiguousarray(dist, dtype=np.float64),
            None if self.weights_ is None else np.ascontiguousarray(self.weights_[idx]),
            own,
            float(self.n_neighbors),
            self._METHODS[self.score_method],
        )

    def _score(self, X):
        depth = self._depth(self.neighbors_.n_samples_fit_)
        dist, idx = self.neighbors_.kneighbors(X, n_neighbors=depth)
        return self._aggregate(dist, idx, None)


# "hbos"


class HBOS(_Detector):
    """Histogram-based outlier score.

    Each feature gets a histogram of `n_bins` equal-width bins over its training range (a
    density, weighted by `sample_weight`); a row scores the sum over features of
    ``-log(density of its bin + alpha)``. A value below the first or above the last bin edge
    by at most `tol` bin widths counts in that edge bin; a value further out gets the score
    of the emptiest bin.

    Parameters
    ----------
    n_bins : bins per feature.
    alpha : added to every density before its logarithm is taken.
    tol : how far (in bin widths) outside the training range a value still counts in the
        edge bin.
    standardization : standardise the covariates first.

    A row of weight 2 gives the same scores as two copies of it.
    """

    def __init__(
        self,
        n_bins: int = 10,
        alpha: float = 0.1,
        tol: float = 0.5,
        standardization: Any = True,
    ) -> None:
        self.n_bins = n_bins
        self.alpha = alpha
        self.tol = tol
        self.standardization = standardization
        self.scaler_ = None
        self.score = None

    def _validate(self):
        if int(self.n_bins) < 1:
            raise ValueError(f"n_bins must be at least 1, got {self.n_bins!r}")
        if not self.alpha > 0:
            raise ValueError(f"alpha must be > 0, got {self.alpha!r}")

    def _fit(self, X, w):
        b = int(self.n_bins)
        edges = np.empty((X.shape[1], b + 1))
        log_density = np.empty((X.shape[1], b))
        for j in range(X.shape[1]):
            hist, edges[j] = np.histogram(X[:, j], bins=b, weights=w, density=True)
            log_density[j] = np.log(hist + self.alpha)
        self.bin_edges_ = edges
        self.log_density_ = log_density
        return self._score(X)

    def _score(self, X):
        return _kernels.histogram_scores(X, self.bin_edges_, self.log_density_, float(self.tol))


# "ecod"


class ECOD(_Detector):
    """Empirical-cumulative-distribution outlier score.

    For each feature, the left tail probability of a value is the (weighted) share of
    training values at or below it and the right tail probability the share at or above it;
    a row scores the sum over features of the larger of ``-log(left)`` and ``-log(right)``.
    The tail probabilities are floored at the smallest row share (1/n unweighted), so a new
    value beyond the training range scores like the most extreme training value.

    Parameters
    ----------
    standardization : standardise the covariates first (the score depends on the ranks of
        the values only, so this changes nothing but is kept for the common interface).

    A row of weight 2 gives the same scores as two copies of it.
    """

    def __init__(self, standardization: Any = True) -> None:
        self.standardization = standardization
        self.scaler_ = None
        self.score = None

    def _fit(self, X, w):
        order = np.ascontiguousarray(np.argsort(X.T, axis=1, kind="stable"))
        self.sorted_ = np.ascontiguousarray(np.take_along_axis(X.T, order, axis=1))
        if w is None:
            self.cumulative_weights_ = None
            self.floor_ = 1.0 / X.shape[0]
        else:
            self.cumulative_weights_ = np.ascontiguousarray(np.cumsum(w[order], axis=1))
            self.floor_ = float(w[w > 0].min() / w.sum())
        # the training rows' scores from the sort order: no search per row
        return _kernels.training_tail_scores(
            self.sorted_, order.astype(np.int64, copy=False), self.cumulative_weights_, self.floor_
        )

    def _score(self, X):
        return _kernels.tail_scores(X, self.sorted_, self.cumulative_weights_, self.floor_)
