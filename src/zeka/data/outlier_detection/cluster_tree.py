"""The distribution-splitting tree ("cbtree")."""

from __future__ import annotations

import heapq
from typing import Any

import numpy as np

from zeka.data.outlier_detection import _kernels
from zeka.data.outlier_detection.detectors import _Detector, _flag

DISTANCES = ("ReconstErr", "Euclidean", "PSI", "WD1", "KS")
# bins per feature of the split search (weighted quantile bins of the training rows)
BINS = 32
# share of the variance the principal subspace of the "ReconstErr" measure explains
SUBSPACE_VARIANCE = 0.9
# added to the bin shares of the population stability index
PSI_FLOOR = 1e-4


def _weighted_edges(values: np.ndarray, weights: np.ndarray, bins: int) -> np.ndarray:
    """The inner bin edges of one feature: the distinct weighted quantiles at 1/bins, ...,
    (bins-1)/bins (the smallest value whose running weight reaches the level), below the
    largest value."""
    order = np.argsort(values, kind="stable")
    v = values[order]
    running = np.cumsum(weights[order])
    levels = running[-1] * np.arange(1, bins) / bins
    at = np.searchsorted(running, levels * (1 - 1e-12), side="left")
    edges = np.unique(v[np.minimum(at, len(v) - 1)])
    return edges[edges < v[-1]]


def _residual_shares(mean_a, cov_a, mean_b, cov_b):
    """How much worse the rows of group b are reconstructed than those of group a by a's
    principal subspace (its leading components explaining SUBSPACE_VARIANCE of its
    variance): (E_b - E_a) / (E_b + E_a), at least 0, for the mean squared residuals E_a of a
    and E_b of b; batched over the leading axes (means (..., p), covariances (..., p, p))."""
    values, vectors = np.linalg.eigh(cov_a)
    values = np.clip(values[..., ::-1], 0.0, None)
    vectors = vectors[..., ::-1]
    total = values.sum(axis=-1, keepdims=True)
    with np.errstate(invalid="ignore", divide="ignore"):
        share = np.cumsum(values, axis=-1) / total
    # a component is left out once the ones before it explain enough
    before = np.concatenate([np.zeros_like(share[..., :1]), share[..., :-1]], axis=-1)
    dropped = before >= SUBSPACE_VARIANCE - 1e-12
    e_a = (values * dropped).sum(axis=-1)
    delta = mean_b - mean_a
    spread_b = np.einsum("...ki,...kl,...li->...i", vectors, cov_b, vectors)
    offset_b = np.einsum("...k,...ki->...i", delta, vectors) ** 2
    e_b = ((spread_b + offset_b) * dropped).sum(axis=-1)
    with np.errstate(invalid="ignore", divide="ignore"):
        ratio = (e_b - e_a) / (e_b + e_a)
    return np.where(np.isfinite(ratio), np.clip(ratio, 0.0, None), 0.0)


def _reconstruction_distance(weight_a, mean_a, cov_a, weight_b, mean_b, cov_b):
    """The "ReconstErr" distance of two groups: the residual share of the smaller group
    under the subspace of the larger one (whose subspace, estimated from more rows, fits
    its own rows less in excess of new ones)."""
    a_larger = weight_a >= weight_b
    pick = a_larger[..., None]
    big_mean = np.where(pick, mean_a, mean_b)
    small_mean = np.where(pick, mean_b, mean_a)
    big_cov = np.where(pick[..., None], cov_a, cov_b)
    small_cov = np.where(pick[..., None], cov_b, cov_a)
    return _residual_shares(big_mean, big_cov, small_mean, small_cov)


def _moments(weight, total, product):
    """Mean and covariance from a weight, a weighted sum and a weighted product sum."""
    with np.errstate(invalid="ignore", divide="ignore"):
        mean = total / weight[..., None]
        cov = product / weight[..., None, None] - mean[..., :, None] * mean[..., None, :]
    bad = ~(weight > 0)
    mean[bad] = 0.0
    cov[bad] = 0.0
    return mean, cov


class _Measure:
    """A distance between the distributions of two weighted groups of rows, computed from
    their per-feature bin weights (and value or error sums), averaged over features."""

    def __init__(self, name: str, bin_means: np.ndarray, spread: np.ndarray):
        self.name = name
        self.bin_means = bin_means  # (d, BINS): weighted mean value of each bin
        self.spread = spread  # (d,): each feature's standard deviation (1 where 0)

    def per_feature(self, pa, pb, sa=None, sb=None):
        """Distances of each feature's distribution between groups a and b.

        pa, pb: (..., d, BINS) weights per bin, normalised to shares; sa, sb: (..., d) mean
        values (for "Euclidean"). Returns (..., d)."""
        if self.name == "KS":
            return np.abs(np.cumsum(pa - pb, axis=-1)).max(axis=-1)
        if self.name == "WD1":
            gaps = np.diff(self.bin_means, axis=-1) / self.spread[:, None]
            gaps = np.where(np.isfinite(gaps), gaps, 0.0)
            return (np.abs(np.cumsum(pa - pb, axis=-1))[..., :-1] * gaps).sum(axis=-1)
        if self.name == "PSI":
            a, b = pa + PSI_FLOOR, pb + PSI_FLOOR
            return ((a - b) * np.log(a / b)).sum(axis=-1)
        return ((sa - sb) / self.spread) ** 2

    def combine(self, per_feature, axis=-1):
        value = per_feature.mean(axis=axis)
        return np.sqrt(value) if self.name == "Euclidean" else value


class CBTree(_Detector):
    """Outlier scores from a shallow tree that splits where the distributions differ most.

    The tree cuts the training rows, one feature at a time, at the cut where the two sides
    differ most in the distributions of the *other* features, by `distance_measure` (each a
    distance between the two sides' distributions, averaged over the features other than
    the cut one):

    - "KS": the Kolmogorov-Smirnov distance of the binned distributions;
    - "WD1": the first Wasserstein distance, in standard deviations of the feature;
    - "PSI": the population stability index of the bin shares;
    - "Euclidean": the root mean square of the difference of the means, in standard
      deviations;
    - "ReconstErr": how much worse the smaller side's rows are reconstructed than the larger
      side's own by the larger side's principal subspace (the leading components explaining
      90% of its variance): (E_small - E_large) / (E_small + E_large) of the mean squared
      residuals, at least 0; it sees a group that leaves the correlation structure of the
      rest, not a shift along it.

    Candidate cuts are the weighted quantile bin edges (32 bins per feature). Leaves are
    split best-first (the leaf whose best cut has the largest distance first) while the
    depth stays within `max_depth`, the number of leaves within `max_leaves`, both sides
    keep at least `min_samples_leaf` rows (of weight) and the distance reaches
    `min_distance`; a cut that no longer separates the distributions by `min_distance` is
    noise and the tree stops there. Such a tree puts a sub-population whose joint
    distribution differs from the rest into leaves of its own.

    A row's score is its leaf's distance from the rest of the training rows (all features,
    the same measure) times ``1 - share of the rows in the leaf`` (a small leaf far from the
    rest is outlying, the bulk is not), plus, to order the rows within a leaf without
    reordering the leaves, a term below half the smallest gap between two leaves' scores that
    grows with the row's standardised distance from its leaf's mean. A new row further from
    its leaf's mean than every training row of the leaf adds the excess distance (in standard
    deviations), so that rows far outside the training data score high.

    Parameters
    ----------
    max_depth : the largest depth of a leaf.
    max_leaves : the largest number of leaves.
    distance_measure : "ReconstErr", "Euclidean", "PSI", "WD1" or "KS".
    min_distance : the smallest distance of a cut.
    min_samples_leaf : the smallest weight of rows on either side of a cut.
    standardization : standardise the covariates first.

    A row of weight 2 gives the same tree and scores as two copies of it.
    """

    def __init__(
        self,
        max_depth: int = 4,
        max_leaves: int = 10,
        distance_measure: str = "ReconstErr",
        min_distance: float = 0.2,
        min_samples_leaf: int = 50,
        standardization: Any = True,
    ) -> None:
        self.max_depth = max_depth
        self.max_leaves = max_leaves
        self.distance_measure = distance_measure
        self.min_distance = min_distance
        self.min_samples_leaf = min_samples_leaf
        self.standardization = standardization
        self.scaler_ = None
        self.score = None

    def _validate(self):
        if self.distance_measure not in DISTANCES:
            raise ValueError(
                f"distance_measure must be one of {', '.join(DISTANCES)}, "
                f"got {self.distance_measure!r}"
            )
        for name in ("max_depth", "max_leaves", "min_samples_leaf"):
            if int(getattr(self, name)) < 1:
                raise ValueError(f"{name} must be at least 1, got {getattr(self, name)!r}")

    # fitting

    def _space(self, X):
        """The coordinates the tree works in: decorrelated for the distribution measures."""
        if self.whitening_ is None:
            return X
        return (X - self.centre_) @ self.whitening_

    def _codes(self, X):
        codes = np.empty(X.shape, dtype=np.int64)
        for j, edges in enumerate(self.edges_):
            codes[:, j] = np.searchsorted(edges, X[:, j], side="left")
        return codes

    def _fit(self, X, w):
        n, d = X.shape
        weights = np.ones(n) if w is None else w
        keep = weights > 0
        Xk, wk = X[keep], weights[keep]
        self.centre_ = wk @ Xk / wk.sum()
        self.whitening_ = None
        if self.distance_measure != "ReconstErr":
            centred = Xk - self.centre_
            values, vectors = np.linalg.eigh((centred * wk[:, None]).T @ centred / wk.sum())
            scale = np.zeros_like(values)
            usable = values > 1e-12 * max(values.max(), 0.0)
            scale[usable] = 1.0 / np.sqrt(values[usable])
            self.whitening_ = (vectors * scale) @ vectors.T
            Xk = self._space(Xk)
        self.edges_ = [_weighted_edges(Xk[:, j], wk, BINS) for j in range(d)]
        codes = self._codes(Xk)
        total = wk.sum()
        mean = wk @ Xk / total
        spread = np.sqrt(wk @ (Xk - mean) ** 2 / total)
        spread = np.where(spread > 0, spread, 1.0)
        bin_means = np.zeros((d, BINS))
        for j in range(d):
            wsum = np.bincount(codes[:, j], weights=wk, minlength=BINS)
            vsum = np.bincount(codes[:, j], weights=wk * Xk[:, j], minlength=BINS)
            used = wsum > 0
            bin_means[j, used] = vsum[used] / wsum[used]
            # unused bins (past the feature's last) repeat the last mean: no gap
            last = np.flatnonzero(used).max()
            bin_means[j, last + 1 :] = bin_means[j, last]
        self.spread_ = spread
        measure = _Measure(self.distance_measure, bin_means, spread)
        self._grow(Xk, wk, codes, measure)
        leaf_of = self._leaves_of(codes)
        self._score_leaves(Xk, wk, leaf_of)
        r = self._spreads(Xk, leaf_of)
        self.leaf_reach_ = {
            int(leaf): float(r[leaf_of == leaf].max()) for leaf in np.unique(leaf_of)
        }
        scores = np.empty(n)
        scores[keep] = self._row_scores(Xk, leaf_of)
        if not keep.all():
            scores[~keep] = self._score(X[~keep])
        return scores

    def _best_cut(self, Xk, wk, codes, rows, measure):
        """(distance, feature, bin) of the node's best cut, or None. Rows whose bin of the
        cut feature is at most the cut bin go left."""
        d = Xk.shape[1]
        rows = np.ascontiguousarray(rows, dtype=np.int64)
        counts, sums = _kernels.cross_tables(
            codes, BINS, rows, wk, Xk if measure.name == "Euclidean" else None
        )
        # weight per (cut feature j, bin b); the node's total
        per_bin = counts[np.arange(d), :, np.arange(d), :].sum(axis=-1)
        node_total = per_bin[0].sum()
        nl = np.cumsum(per_bin, axis=1)  # (j, b): weight on the left of a cut after bin b
        nr = node_total - nl
        valid = (nl >= self.min_samples_leaf) & (nr >= self.min_samples_leaf)
        if not valid.any():
            return None
        if measure.name == "ReconstErr":
            distance = self._reconstruction_cuts(Xk, wk, codes, rows)
        else:
            left = np.cumsum(counts, axis=1)  # (j, b, l, c)
            right = left[:, -1:] - left
            with np.errstate(invalid="ignore", divide="ignore"):
                pa = np.nan_to_num(left / nl[:, :, None, None])
                pb = np.nan_to_num(right / nr[:, :, None, None])
                sa = sb = None
                if sums is not None:
                    cs = np.cumsum(sums, axis=1)
                    sa = np.nan_to_num(cs / nl[:, :, None])
                    sb = np.nan_to_num((cs[:, -1:] - cs) / nr[:, :, None])
            per = np.nan_to_num(measure.per_feature(pa, pb, sa, sb))  # (j, b, l)
            if d > 1:  # the cut feature itself is left out
                per = per * ~np.eye(d, dtype=bool)[:, None, :]
                distance = measure.combine(per.sum(axis=-1, keepdims=True) / (d - 1))
            else:
                distance = measure.combine(per)
        distance = np.where(valid, distance, -np.inf)
        j, b = np.unravel_index(np.argmax(distance), distance.shape)
        return float(distance[j, b]), int(j), int(b)

    def _reconstruction_cuts(self, Xk, wk, codes, rows):
        """The "ReconstErr" distance of every cut (j, b) of the node: from the weight, the
        weighted sums and product sums of the rows per bin of j, over the other features."""
        d = Xk.shape[1]
        X, w = Xk[rows], wk[rows]
        distance = np.zeros((d, BINS))
        for j in range(d):
            others = np.flatnonzero(np.arange(d) != j) if d > 1 else np.array([j])
            code = codes[rows, j]
            order = np.argsort(code, kind="stable")
            xs = X[order][:, others]
            ws = w[order]
            bounds = np.searchsorted(code[order], np.arange(BINS + 1), side="left")
            weight = np.zeros(BINS)
            total = np.zeros((BINS, len(others)))
            product = np.zeros((BINS, len(others), len(others)))
            for b in range(BINS):
                lo, hi = bounds[b], bounds[b + 1]
                if hi > lo:
                    seg, sw = xs[lo:hi], ws[lo:hi]
                    weight[b] = sw.sum()
                    total[b] = sw @ seg
                    product[b] = (seg * sw[:, None]).T @ seg
            wl, tl, pl = np.cumsum(weight), np.cumsum(total, axis=0), np.cumsum(product, axis=0)
            mean_l, cov_l = _moments(wl, tl, pl)
            mean_r, cov_r = _moments(wl[-1] - wl, tl[-1] - tl, pl[-1] - pl)
            distance[j] = _reconstruction_distance(wl, mean_l, cov_l, wl[-1] - wl, mean_r, cov_r)
        return distance

    def _grow(self, Xk, wk, codes, measure):
        # nodes: feature, bin (rows with code <= bin go left), left, right children; -1 = leaf
        self.tree_feature_ = [-1]
        self.tree_bin_ = [-1]
        self.tree_children_ = [(-1, -1)]
        depth = {0: 0}
        rows_of = {0: np.arange(Xk.shape[0])}
        heap: list = []
        counter = 0

        def consider(node):
            nonlocal counter
            if depth[node] >= int(self.max_depth):
                return
            if wk[rows_of[node]].sum() < 2 * self.min_samples_leaf:
                return
            cut = self._best_cut(Xk, wk, codes, rows_of[node], measure)
            if cut is not None and cut[0] >= self.min_distance:
                heapq.heappush(heap, (-cut[0], counter, node, cut[1], cut[2]))
                counter += 1

        consider(0)
        leaves = 1
        while heap and leaves < int(self.max_leaves):
            _, _, node, j, b = heapq.heappop(heap)
            rows = rows_of.pop(node)
            goes_left = codes[rows, j] <= b
            children = []
            for side in (rows[goes_left], rows[~goes_left]):
                child = len(self.tree_feature_)
                self.tree_feature_.append(-1)
                self.tree_bin_.append(-1)
                self.tree_children_.append((-1, -1))
                depth[child] = depth[node] + 1
                rows_of[child] = side
                children.append(child)
            self.tree_feature_[node] = j
            self.tree_bin_[node] = b
            self.tree_children_[node] = (children[0], children[1])
            leaves += 1
            for child in children:
                consider(child)
        self.tree_feature_ = np.array(self.tree_feature_)
        self.tree_bin_ = np.array(self.tree_bin_)
        self.tree_children_ = np.array(self.tree_children_, dtype=np.int64).reshape(-1, 2)
        self.n_leaves_ = leaves

    def _leaves_of(self, codes):
        node = np.zeros(codes.shape[0], dtype=np.int64)
        while True:
            inner = self.tree_feature_[node] >= 0
            if not inner.any():
                return node
            at = node[inner]
            f = self.tree_feature_[at]
            left = codes[np.flatnonzero(inner), f] <= self.tree_bin_[at]
            node[inner] = np.where(left, self.tree_children_[at, 0], self.tree_children_[at, 1])

    def _score_leaves(self, Xk, wk, leaf_of):
        """Each leaf's score: the Mahalanobis distance (under the covariance of all training
        rows) between the leaf's mean and the mean of the other rows, times one minus the
        leaf's share of the rows."""
        total = wk.sum()
        sum_all = wk @ Xk
        mean = sum_all / total
        centred = Xk - mean
        cov = (centred * wk[:, None]).T @ centred / total
        precision = np.linalg.pinv(cov, hermitian=True)
        self.leaf_score_ = {}
        self.leaf_mean_ = {}
        for leaf in np.unique(leaf_of):
            inside = leaf_of == leaf
            wl = wk[inside].sum()
            sl = wk[inside] @ Xk[inside]
            self.leaf_mean_[int(leaf)] = sl / wl
            rest = total - wl
            if rest <= 0:
                self.leaf_score_[int(leaf)] = 0.0
                continue
            delta = sl / wl - (sum_all - sl) / rest
            self.leaf_score_[int(leaf)] = float(np.sqrt(max(delta @ precision @ delta, 0.0))) * (
                1.0 - wl / total
            )
        distinct = np.unique(list(self.leaf_score_.values()))
        gaps = np.diff(distinct)
        gaps = gaps[gaps > 0]
        self.within_scale_ = 0.5 * float(gaps.min()) if len(gaps) else 1.0

    def _spreads(self, X, leaf_of):
        """Each row's root mean square distance from its leaf's mean, in standard deviations."""
        means = np.array([self.leaf_mean_[int(leaf)] for leaf in leaf_of]).reshape(X.shape)
        return np.sqrt((((X - means) / self.spread_) ** 2).mean(axis=1))

    def _row_scores(self, X, leaf_of):
        base = np.array([self.leaf_score_[int(leaf)] for leaf in leaf_of])
        reach = np.array([self.leaf_reach_[int(leaf)] for leaf in leaf_of])
        r = self._spreads(X, leaf_of)
        inside = np.minimum(r, reach)
        # beyond the farthest training row of its leaf a row adds the excess distance
        return base + self.within_scale_ * inside / (1.0 + inside) + np.maximum(r - reach, 0.0)

    def _score(self, X):
        Z = self._space(X)
        return self._row_scores(Z, self._leaves_of(self._codes(Z)))

    def leaf_of(self, X: Any, scale: bool = True) -> np.ndarray:
        """The leaf (node number) each row of X falls into."""
        X = self._check(X)
        if _flag(self.standardization) and scale and self.scaler_ is not None:
            X = self.scaler_.transform(X)
        return self._leaves_of(self._codes(self._space(X)))
