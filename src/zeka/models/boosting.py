"""Gradient boosting of depth-1 ("xgb1") and depth-2 ("xgb2") trees on binned features.

Each round fits one tree to the gradient and hessian of the loss (squared error or
log-loss) by second-order histogram boosting: a leaf with gradient sum G and hessian sum H
gets the weight ``-T(G) / (H + reg_lambda)``, where T shrinks G towards zero by
``reg_alpha``; a split is made only if it lowers the regularised loss by more than
``gamma``; leaf weights are scaled by ``eta``. Monotonic features only get splits whose
leaf weights respect their direction, and below such a split the leaf weights are bounded
by the midpoint of the two, so that every tree, and so the sum, is monotone in them.
"""

import numpy as np

from . import _boost_tree
from ._base import (
    ZekaClassifier,
    ZekaEstimator,
    ZekaRegressor,
    bin_edges,
    bin_matrix,
    check_non_negative,
    check_positive_int,
    sigmoid,
)
from ._nn import single_blas_thread
from ._solvers import fit_penalized
from .trees import _as_arrays, _tree_predict

_MIN_CHILD_WEIGHT = 1.0
# histogram lanes, and the rows per bin from which the data takes them
_SUM_LANES = 4
_ROWS_PER_LANE_BIN = 64


class _Boosting(ZekaEstimator):
    # reg_lambda, the child-weight floor and the quantile bins count rows, as xgboost does
    _weights_in_rows = True

    def _fit(self, X, y, w):
        n_estimators = check_positive_int(self.n_estimators, "n_estimators")
        eta = check_non_negative(self.eta, "eta")
        gamma = check_non_negative(self.gamma, "gamma")
        alpha = check_non_negative(self.reg_alpha, "reg_alpha")
        lam = check_non_negative(self.reg_lambda, "reg_lambda")
        max_bin = check_positive_int(self.max_bin, "max_bin", minimum=2)
        max_depth = check_positive_int(self._max_depth(), "max_depth")
        signs = self._monotone_signs()
        self.monotone_constraints_ = signs
        edges = [
            bin_edges(X[:, j], max_bin, self._min_bin_fraction(), weights=w)
            for j in range(X.shape[1])
        ]
        bins = bin_matrix(X, edges)
        width = max(len(e) for e in edges) + 1
        logistic = self._logistic
        mean = np.average(y, weights=w)
        if logistic:
            mean = np.clip(mean, 1e-6, 1 - 1e-6)
            self.base_score_ = float(np.log(mean / (1 - mean)))
        else:
            self.base_score_ = float(mean)
        F = np.full(X.shape[0], self.base_score_)
        grower = _TreeGrower(bins, width, edges, signs, lam, alpha, gamma, max_depth)
        self.trees_ = []
        for _ in range(n_estimators):
            if logistic:
                p = sigmoid(F)
                g, h = w * (p - y), w * np.clip(p * (1 - p), 1e-12, None)
            else:
                g, h = w * (F - y), w  # the same hessian every round
            nodes, leaf_values = grower.grow(g, h, eta)
            self.trees_.append(_as_arrays(nodes))
            F += leaf_values
        self._after_boosting(X, y, w, lam, alpha, signs)

    def _min_bin_fraction(self):
        return 0.0

    def _after_boosting(self, X, y, w, lam, alpha, signs):
        pass

    def _raw_predict(self, X):
        out = np.full(X.shape[0], self.base_score_)
        for tree in self.trees_:
            out += _tree_predict(tree, X)
        return out


class _TreeGrower:
    """Grows one tree of a given depth from per-sample gradients and hessians."""

    def __init__(self, bins, width, edges, signs, lam, alpha, gamma, max_depth):
        self.bins, self.width, self.edges = bins, width, edges
        self.bins_by_feature = np.ascontiguousarray(bins.T, dtype=np.int64)
        self.signs, self.lam, self.alpha, self.gamma = signs, lam, alpha, gamma
        self.max_depth = max_depth
        self.cuts = np.array([len(e) for e in edges], dtype=np.int64)
        # partial histograms per bin on data large enough to pay for adding them up: a
        # feature of few bins then sums without waiting on each addition
        self.lanes = _SUM_LANES if bins.shape[0] >= _ROWS_PER_LANE_BIN * width else 1
        self._float_signs = np.asarray(signs, dtype=float)
        self._root_h = self._root_hist_h = None

    def grow(self, g, h, eta):
        """Return the node list and the contribution of the tree to each training row."""
        nodes = []
        contribution = np.zeros(len(g))
        rows = np.arange(len(g))
        self._grow_node(nodes, rows, g, h, 0, -np.inf, np.inf, eta, contribution)
        return nodes, contribution

    def _grow_node(self, nodes, rows, g, h, depth, lower, upper, eta, contribution, hist=None):
        index = len(nodes)
        G, H = g[rows].sum(), h[rows].sum()
        weight = float(np.clip(self._weight(G, H), lower, upper))
        nodes.append([-1, 0.0, -1, -1, eta * weight, depth])
        if depth >= self.max_depth or len(rows) < 2:
            contribution[rows] = eta * weight
            return
        if hist is None:
            hist = self._histograms(rows, g, h)
        split = self._best_split(hist, G, H, weight, lower, upper)
        if split is None:
            contribution[rows] = eta * weight
            return
        feature, cut, w_left, w_right = split
        goes_left = self.bins[rows, feature] <= cut
        sign = self.signs[feature]
        left_bounds, right_bounds = (lower, upper), (lower, upper)
        if sign != 0:
            mid = (w_left + w_right) / 2.0
            if sign > 0:
                left_bounds, right_bounds = (lower, min(upper, mid)), (max(lower, mid), upper)
            else:
                left_bounds, right_bounds = (max(lower, mid), upper), (lower, min(upper, mid))
        nodes[index][:4] = [feature, float(self.edges[feature][cut]), len(nodes), -1]
        left, right = rows[goes_left], rows[~goes_left]
        hist_left = hist_right = None
        if depth + 1 < self.max_depth:
            hist_left, hist_right = self._child_histograms(hist, left, right, g, h)
        self._grow_node(nodes, left, g, h, depth + 1, *left_bounds, eta, contribution, hist_left)
        nodes[index][3] = len(nodes)
        self._grow_node(nodes, right, g, h, depth + 1, *right_bounds, eta, contribution, hist_right)

    def _child_histograms(self, parent, left, right, g, h):
        """Histograms of both children: the smaller child's summed over its rows, the
        other's as the parent's minus it, which halves the rows gathered. A bin whose rows
        all went one way comes out exactly zero on the other side (the same sums in the
        same order cancel), so cuts beside an empty bin still tie exactly."""
        left_is_smaller = len(left) <= len(right)
        small = self._histograms(left if left_is_smaller else right, g, h)
        rest = (parent[0] - small[0], parent[1] - small[1])
        return (small, rest) if left_is_smaller else (rest, small)

    def _weight(self, G, H):
        return -_shrink(G, self.alpha) / (H + self.lam) if H + self.lam > 0 else 0.0

    def _histograms(self, rows, g, h):
        """Gradient and hessian sums per feature and bin; a bin of the same rows gets the
        same sums in every node, so a child's histogram by difference keeps exact
        zeros."""
        everything = len(rows) == self.bins_by_feature.shape[1]
        # a hessian that stays the same array from tree to tree (squared error) has the
        # same histogram at every root
        reuse = everything and h is self._root_h
        sums = _boost_tree.bin_sums(
            self.bins_by_feature,
            self.width,
            None if everything else rows,
            [g] if reuse else [g, h],
            self.lanes,
        )
        hist_g, hist_h = (sums[0], self._root_hist_h) if reuse else sums
        if everything:
            self._root_h, self._root_hist_h = h, hist_h
        return hist_g, hist_h

    def _best_split(self, hist, G, H, parent_weight, lower, upper):
        """(feature, cut, left weight, right weight) of the best allowed cut, or None."""
        return _boost_tree.best_split(
            hist[0],
            hist[1],
            self.cuts,
            self._float_signs,
            G,
            H,
            parent_weight,
            lower,
            upper,
            self.lam,
            self.alpha,
            self.gamma,
            _MIN_CHILD_WEIGHT,
        )


def _shrink(G, alpha):
    return np.sign(G) * np.maximum(np.abs(G) - alpha, 0.0)


class _XGB1(_Boosting):
    """Boosted stumps: an additive model of step functions, one per feature.

    ``min_bin_size`` is the smallest share of the training rows a bin should hold (it caps
    the number of bins at ``1 / min_bin_size``). With ``refit_method="glm"`` the step
    heights found by boosting are refitted jointly by a penalised linear (logistic) model
    on the step indicators, with signs kept to the monotonic directions; with ``"xgb"`` the
    boosted heights are kept. The refit's ridge penalty on the heights is chosen by the data:
    the one of a log-spaced grid with the smallest generalised cross-validation score (for
    the logistic model, scored on the working model of each Newton step until the choice
    settles), never below ``reg_lambda`` per row; ``reg_alpha`` per row adds a lasso
    penalty. The chosen penalty is kept in ``refit_penalty_``. Left unpenalised, a hundred
    indicators fitted to a few hundred rows chase the noise.
    ``feature_names`` name the columns for the monotonicity lists (a data frame's column
    labels serve otherwise); ``feature_types`` is kept for reference.
    """

    def __init__(
        self,
        feature_names=None,
        feature_types=None,
        n_estimators=100,
        eta=0.3,
        gamma=0,
        reg_alpha=0,
        reg_lambda=1,
        refit_method="glm",
        min_bin_size=0.01,
        max_bin=256,
        mono_increasing_list=[],
        mono_decreasing_list=[],
    ):
        self.feature_names = feature_names
        self.feature_types = feature_types
        self.n_estimators = n_estimators
        self.eta = eta
        self.gamma = gamma
        self.reg_alpha = reg_alpha
        self.reg_lambda = reg_lambda
        self.refit_method = refit_method
        self.min_bin_size = min_bin_size
        self.max_bin = max_bin
        self.mono_increasing_list = mono_increasing_list
        self.mono_decreasing_list = mono_decreasing_list

    def _max_depth(self):
        return 1

    def _min_bin_fraction(self):
        fraction = check_non_negative(self.min_bin_size, "min_bin_size")
        if fraction > 1:
            raise ValueError("min_bin_size must be at most 1, got %r" % self.min_bin_size)
        return fraction

    def _after_boosting(self, X, y, w, lam, alpha, signs):
        if self.refit_method not in ("glm", "xgb"):
            raise ValueError("refit_method must be 'glm' or 'xgb', got %r" % self.refit_method)
        # the stumps as one step function per feature: intercept + sum c * [x_j > t]
        steps = {}
        intercept = self.base_score_
        for tree in self.trees_:
            if tree["feature"][0] < 0:
                intercept += tree["value"][0]
                continue
            key = (int(tree["feature"][0]), float(tree["threshold"][0]))
            left, right = tree["value"][tree["left"][0]], tree["value"][tree["right"][0]]
            intercept += left
            steps[key] = steps.get(key, 0.0) + right - left
        keys = sorted(steps)
        features = np.array([k[0] for k in keys], dtype=np.intp)
        thresholds = np.array([k[1] for k in keys])
        heights = np.array([steps[k] for k in keys])
        if self.refit_method == "glm" and keys:
            Z = (X[:, features] > thresholds).astype(float)
            n = w.sum()  # weights count rows
            sign = signs[features]
            bounds = None
            if np.any(sign != 0):
                bounds = (np.where(sign > 0, 0.0, -np.inf), np.where(sign < 0, 0.0, np.inf))
            # small dense products: a BLAS thread pool costs more than it saves here
            with single_blas_thread():
                ridge = _refit_ridge(Z, y, w, lam / n, self._logistic)
                # the solver takes weights of mean one
                intercept, heights, _ = fit_penalized(
                    Z,
                    y,
                    w / w.mean(),
                    ridge * np.eye(len(keys)),
                    l1=alpha / n,
                    logistic=self._logistic,
                    bounds=bounds,
                )
            self.refit_penalty_ = ridge
        self.intercept_ = float(intercept)
        self.step_features_, self.step_thresholds_, self.step_heights_ = (
            features,
            thresholds,
            heights,
        )

    def _raw_predict(self, X):
        Z = X[:, self.step_features_] > self.step_thresholds_
        return self.intercept_ + Z @ self.step_heights_


# penalties tried by the refit, relative to the mean eigenvalue of the indicators' Gram matrix
_RIDGE_GRID = np.logspace(-6, 2, 33)
_RIDGE_SETTLE_STEPS = 20
# each degree of freedom counts 1.4 times in the GCV score, the usual guard against the
# undersmoothing GCV is prone to (the step thresholds were also chosen on the same rows)
_GCV_GAMMA = 1.4


def _refit_ridge(Z, y, w, floor, logistic):
    """Ridge penalty for the refit of the step heights, chosen by generalised cross-validation.

    For the logistic model the choice is made on the weighted least-squares problem of each
    Newton step (performance iteration) until it stops changing.
    """
    if not logistic:
        return _gcv_ridge(_WeightedGram(Z, y, w, w.sum()), floor)
    mean = np.clip(np.average(y, weights=w), 1e-6, 1 - 1e-6)
    b0, beta = np.log(mean / (1 - mean)), np.zeros(Z.shape[1])
    ridge = None
    for _ in range(_RIDGE_SETTLE_STEPS):
        eta = b0 + Z @ beta
        mu = sigmoid(eta)
        h = np.clip(mu * (1.0 - mu), 1e-10, None)
        gram = _WeightedGram(Z, eta + (y - mu) / h, w * h, w.sum())
        new = _gcv_ridge(gram, floor)
        b0, beta = gram.solve(new)
        if ridge is not None and abs(np.log(new / ridge)) < 1e-3:
            return new
        ridge = new
    return ridge


class _WeightedGram:
    """A weighted least-squares problem with an intercept, reduced to centred moments;
    ``n`` is the number of rows the weights stand for."""

    def __init__(self, Z, z, v, n):
        self.n = n
        self.zbar = v @ z / v.sum()
        self.Zbar = v @ Z / v.sum()
        Zc = Z - self.Zbar
        self.A = (Zc * v[:, None]).T @ Zc / n
        self.c = Zc.T @ (v * (z - self.zbar)) / n
        self.total = v @ (z - self.zbar) ** 2 / n

    def solve(self, ridge):
        """Intercept and coefficients of the ridge fit."""
        beta = np.linalg.solve(self.A + ridge * np.eye(len(self.c)), self.c)
        return self.zbar - self.Zbar @ beta, beta


def _gcv_ridge(gram, floor):
    """Penalty of the grid (never below ``floor``) minimising RSS / (1 - gamma df / n)^2."""
    n = gram.n
    d, V = np.linalg.eigh(gram.A)
    d = np.clip(d, 0.0, None)
    proj = V.T @ gram.c
    grid = np.maximum(_RIDGE_GRID * max(d.mean(), 1e-12), floor)
    best, best_score = grid[-1], np.inf
    for ridge in grid:
        if ridge <= 0:
            continue
        shrink = 1.0 / (d + ridge)
        # RSS / n = total - 2 b'c + b'Ab with b = (A + ridge)^-1 c, in the eigenbasis
        rss = gram.total - 2.0 * proj**2 @ shrink + (d * proj**2) @ shrink**2
        df = _GCV_GAMMA * (1.0 + d @ shrink)
        if df >= n:
            continue
        score = max(rss, 0.0) / (1.0 - df / n) ** 2
        if score < best_score:
            best, best_score = ridge, score
    return float(best)


class _XGB2(_Boosting):
    """Boosted trees of depth two: main effects and pairwise interactions.

    ``feature_names`` name the columns for the monotonicity lists (a data frame's column
    labels serve otherwise); ``feature_types`` is kept for reference.
    """

    def __init__(
        self,
        feature_names=None,
        feature_types=None,
        max_depth=2,
        n_estimators=100,
        eta=0.3,
        gamma=0,
        reg_alpha=0,
        reg_lambda=1,
        max_bin=256,
        mono_increasing_list=[],
        mono_decreasing_list=[],
    ):
        self.feature_names = feature_names
        self.feature_types = feature_types
        self.max_depth = max_depth
        self.n_estimators = n_estimators
        self.eta = eta
        self.gamma = gamma
        self.reg_alpha = reg_alpha
        self.reg_lambda = reg_lambda
        self.max_bin = max_bin
        self.mono_increasing_list = mono_increasing_list
        self.mono_decreasing_list = mono_decreasing_list

    def _max_depth(self):
        return self.max_depth


class XGB1Regressor(ZekaRegressor, _XGB1):
    _logistic = False


class XGB1Classifier(ZekaClassifier, _XGB1):
    _logistic = True


class XGB2Regressor(ZekaRegressor, _XGB2):
    _logistic = False


class XGB2Classifier(ZekaClassifier, _XGB2):
    _logistic = True
