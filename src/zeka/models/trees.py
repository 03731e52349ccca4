"""Single pruned decision trees ("tree") and greedy sums of small trees ("figs")."""

import numpy as np
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

from ._base import (
    ZekaClassifier,
    ZekaEstimator,
    ZekaRegressor,
    check_positive_int,
    first_best,
    sigmoid,
)

# criteria of older scikit-learn releases, by their current names
_REGRESSION_CRITERIA = {"mse": "squared_error", "mae": "absolute_error"}
_CLASSIFICATION_CRITERIA = ("gini", "entropy", "log_loss")
# smallest leaf of a FIGS tree, in sample weight (weights have mean one, so about rows)
_FIGS_MIN_LEAF = 5.0


class _Tree(ZekaEstimator):
    """A CART tree limited by depth and leaf size and pruned by cost complexity."""

    def _fit(self, X, y, w):
        self.estimator_ = self._tree_class(
            criterion=self._criterion(),
            max_depth=self.max_depth,
            min_samples_leaf=self.min_samples_leaf,
            ccp_alpha=self.ccp_alpha,
            random_state=0,
        )
        self.estimator_.fit(X, y, sample_weight=w)

    @property
    def tree_(self):
        return self.estimator_.tree_


class TreeRegressor(ZekaRegressor, _Tree):
    """Regression tree.

    The parameter table offers the classification criteria (default "gini") until it is
    adapted to a regression task; a classification criterion therefore means the default
    regression criterion, "squared_error", here. Older names ("mse", "mae") are accepted
    for their current equivalents.
    """

    _tree_class = DecisionTreeRegressor

    def __init__(self, criterion="gini", max_depth=5, min_samples_leaf=5, ccp_alpha=0.0):
        self.criterion = criterion
        self.max_depth = max_depth
        self.min_samples_leaf = min_samples_leaf
        self.ccp_alpha = ccp_alpha

    def _criterion(self):
        if self.criterion in _CLASSIFICATION_CRITERIA:
            return "squared_error"
        return _REGRESSION_CRITERIA.get(self.criterion, self.criterion)

    def _raw_predict(self, X):
        return self.estimator_.predict(X)


class TreeClassifier(ZekaClassifier, _Tree):
    """Classification tree; ``predict_proba`` gives the class shares of the leaf."""

    _tree_class = DecisionTreeClassifier

    def __init__(self, criterion="gini", max_depth=5, min_samples_leaf=5, ccp_alpha=0.0):
        self.criterion = criterion
        self.max_depth = max_depth
        self.min_samples_leaf = min_samples_leaf
        self.ccp_alpha = ccp_alpha

    def _criterion(self):
        return self.criterion

    def _probabilities(self, X):
        p1 = self.estimator_.predict_proba(X)[:, 1]
        return 1.0 - p1, p1

    def _raw_predict(self, X):
        p = np.clip(self._probabilities(X)[1], 1e-12, 1 - 1e-12)
        return np.log(p / (1 - p))


class _FIGS(ZekaEstimator):
    """Fast interpretable greedy-tree sums.

    The model is a sum of trees grown together: each of the ``max_iter`` steps makes the
    single split, among all leaves of all trees and the root of a new tree, that most
    lowers the loss, and gives the two new leaves the parent's value plus a Newton step
    for the rows they hold. For regression the loss is the squared error, so a split is
    chosen on the partial residual of its tree (the target minus every other tree) and
    its leaves get the mean of that residual. A leaf is split only above depth
    ``max_depth``, and only into leaves of at least five rows' weight. Growth stops early
    when no split lowers the loss.
    """

    # the smallest leaf counts rows, so an integer weight must count as that many rows
    _weights_in_rows = True

    def __init__(self, max_depth=5, max_iter=100):
        self.max_depth = max_depth
        self.max_iter = max_iter

    def _fit(self, X, y, w):
        max_depth = check_positive_int(self.max_depth, "max_depth")
        max_iter = check_positive_int(self.max_iter, "max_iter")
        order = np.argsort(X, axis=0, kind="stable")
        self.intercept_ = self._base_score(y, w)
        trees = []  # each tree: list of nodes [feature, threshold, left, right, value, depth]
        leaf_of = []  # per tree: node index of every sample
        total = np.full(X.shape[0], self.intercept_)
        everyone = np.ones(X.shape[0], bool)
        self.n_splits_ = 0
        for _ in range(max_iter):
            g, h = self._gradients(total, y, w)
            # the root of a new tree, whose leaves start from zero
            best = None
            cand = _best_split(X, g, h, w, everyone, order, self._leaf_ridge)
            if cand is not None:
                best = (cand[0], None, None) + cand[1:]
            for t, nodes in enumerate(trees):
                for node, spec in enumerate(nodes):
                    if spec[0] >= 0 or spec[5] >= max_depth:
                        continue
                    cand = _best_split(X, g, h, w, leaf_of[t] == node, order, self._leaf_ridge)
                    if cand is not None and (best is None or cand[0] > best[0]):
                        best = (cand[0], t, node) + cand[1:]
            if best is None or best[0] <= 1e-12 * max(1.0, _loss_scale(g, h)):
                break
            _, t, node, feature, threshold, left_step, right_step = best
            if t is None:
                trees.append([[-1, 0.0, -1, -1, 0.0, 0]])
                leaf_of.append(np.zeros(X.shape[0], dtype=np.intp))
                t, node = len(trees) - 1, 0
            nodes = trees[t]
            depth, value = nodes[node][5] + 1, nodes[node][4]
            nodes.append([-1, 0.0, -1, -1, value + left_step, depth])
            nodes.append([-1, 0.0, -1, -1, value + right_step, depth])
            nodes[node][:4] = [feature, threshold, len(nodes) - 2, len(nodes) - 1]
            in_node = leaf_of[t] == node
            goes_left = in_node & (X[:, feature] <= threshold)
            leaf_of[t][goes_left] = len(nodes) - 2
            leaf_of[t][in_node & ~goes_left] = len(nodes) - 1
            total[goes_left] += left_step
            total[in_node & ~goes_left] += right_step
            self.n_splits_ += 1
        self.trees_ = [_as_arrays(nodes) for nodes in trees]
        self.n_iter_ = max(self.n_splits_, 1)

    def _sum_of_trees(self, X):
        out = np.full(X.shape[0], self.intercept_)
        for tree in self.trees_:
            out += _tree_predict(tree, X)
        return out


def _loss_scale(g, h):
    """Sum of g^2 / h: for the squared error, the weighted sum of squared residuals."""
    positive = h > 0
    return float(np.sum(g[positive] ** 2 / h[positive]))


def _best_split(X, g, h, w, mask, order, ridge=0.0):
    """Best split of the samples in ``mask`` by the second-order loss reduction.

    ``g`` and ``h`` are the weighted gradient and hessian of each sample; a side's Newton
    step is ``-sum(g) / (sum(h) + ridge)`` and its reduction ``sum(g)^2 / (sum(h) + ridge)``
    (for the squared error without ridge, exactly the fall in the sum of squares).
    Returns ``(gain, feature, threshold, left step, right step)`` or None.
    """
    n_in = int(mask.sum())
    if n_in < 2:
        return None
    # per feature, the masked samples in increasing order of that feature
    idx = order.T[mask[order].T].reshape(X.shape[1], n_in)
    ws, gs, hs = w[idx], -g[idx], h[idx]
    xs = np.take_along_axis(X.T, idx, axis=1)
    cw = np.cumsum(ws, axis=1)[:, :-1]
    cg, ch = np.cumsum(gs, axis=1)[:, :-1], np.cumsum(hs, axis=1)[:, :-1]
    tw = ws.sum(axis=1, keepdims=True)
    tg, th = gs.sum(axis=1, keepdims=True), hs.sum(axis=1, keepdims=True) + ridge
    rh = th - ch
    ch = ch + ridge
    valid = (
        (xs[:, 1:] > xs[:, :-1])
        & (cw >= _FIGS_MIN_LEAF)
        & (tw - cw >= _FIGS_MIN_LEAF)
        & (ch > 0)
        & (rh > 0)
    )
    with np.errstate(divide="ignore", invalid="ignore"):
        gain = cg**2 / ch + (tg - cg) ** 2 / rh - tg**2 / th
    gain = np.where(valid, gain, -np.inf)
    flat = first_best(gain)
    feature, pos = divmod(flat, gain.shape[1])
    if not np.isfinite(gain[feature, pos]):
        return None
    threshold = (xs[feature, pos] + xs[feature, pos + 1]) / 2.0
    left = cg[feature, pos] / ch[feature, pos]
    right = (tg[feature, 0] - cg[feature, pos]) / rh[feature, pos]
    return float(gain[feature, pos]), int(feature), float(threshold), float(left), float(right)


def _as_arrays(nodes):
    columns = list(zip(*nodes))
    return {
        "feature": np.asarray(columns[0], dtype=np.intp),
        "threshold": np.asarray(columns[1], dtype=float),
        "left": np.asarray(columns[2], dtype=np.intp),
        "right": np.asarray(columns[3], dtype=np.intp),
        "value": np.asarray(columns[4], dtype=float),
        "depth": np.asarray(columns[5], dtype=np.intp),
    }


def _tree_predict(tree, X):
    node = np.zeros(X.shape[0], dtype=np.intp)
    rows = np.arange(X.shape[0])
    for _ in range(int(tree["depth"].max()) + 1):
        feature = tree["feature"][node]
        inner = feature >= 0
        if not inner.any():
            break
        go_left = X[rows[inner], feature[inner]] <= tree["threshold"][node[inner]]
        node[inner] = np.where(go_left, tree["left"][node[inner]], tree["right"][node[inner]])
    return tree["value"][node]


class FIGSRegressor(ZekaRegressor, _FIGS):
    """Sum of trees fitted to the target by least squares."""

    _leaf_ridge = 0.0

    def _base_score(self, y, w):
        return 0.0

    def _gradients(self, F, y, w):
        return w * (F - y), w

    def _raw_predict(self, X):
        return self._sum_of_trees(X)


class FIGSClassifier(ZekaClassifier, _FIGS):
    """Sum of trees on the log-odds scale, grown by the log-loss.

    The trees start from the log-odds of the weighted class share and their sum goes
    through the logistic function, so probabilities are finite, strictly between 0 and 1,
    and each leaf value reads as a change in log-odds. A leaf's Newton step divides by its
    hessian plus one, as if it also held four rows at even odds: a leaf of rows the model
    already gets right has almost no hessian, and one wrong row there would otherwise get
    an unbounded step.
    """

    _leaf_ridge = 1.0

    def _base_score(self, y, w):
        share = np.clip(np.average(y, weights=w), 1e-6, 1 - 1e-6)
        return float(np.log(share / (1 - share)))

    def _gradients(self, F, y, w):
        p = sigmoid(F)
        return w * (p - y), w * np.clip(p * (1 - p), 1e-12, None)

    def _raw_predict(self, X):
        return self._sum_of_trees(X)
