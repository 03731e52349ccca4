"""Explainable boosting ("ebm"): cyclic boosting of per-feature and pairwise lookup tables.

Every feature is cut into at most ``max_bins`` quantile bins, and the model is an intercept
plus one table of scores per feature (and per selected pair of features, on at most
``max_interaction_bins`` bins each). Training cycles through the features round after
round; each visit fits a small tree on that feature alone (a single cut for a feature, a
cut on one feature then one cut per side on the other for a pair) to the loss gradient and
adds it, shrunk by a learning rate, to the feature's table. In the first 500 rounds the
cut is drawn at random among the allowed ones instead of the best: the many small random
steps build smooth shapes, which the greedy rounds after them then sharpen where the data
ask for it (on small noisy data greedy cuts from the first round carve the noise into
staircases).

``outer_bags`` models are trained on different random splits into a fitting part and a
validation part (used for early stopping: a bag stops once its validation loss has not
improved by ``early_stopping_tolerance`` times the loss of the intercept-only model for
``early_stopping_rounds`` rounds, and keeps its best tables); with ``inner_bags`` > 0
every update is the average of that many updates on bootstrap resamples of the fitting
part. The final tables are the
average over the outer bags, each centred to mean zero on the training data. After the
main effects, the ``interactions`` pairs whose pairwise tree most improves the averaged
model are boosted the same way. All bags run side by side as rows of arrays.
"""

from itertools import combinations

import numpy as np

from . import _pair_gain
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

_LEARNING_RATE = 0.1
_VALIDATION_SHARE = 0.15
_MIN_HESSIAN_SHARE = 0.005
_SMOOTHING_ROUNDS = 500


class _EBM(ZekaEstimator):
    _family = "ebm"
    # bins are weighted quantiles, so an integer weight must count as that many rows
    _weights_in_rows = True

    def __init__(self, interactions=10, outer_bags=8, inner_bags=0, max_bins=256,
                 feature_names=None, max_interaction_bins=32, max_rounds=5000,
                 early_stopping_rounds=50, early_stopping_tolerance=0.0001, random_state=0):
        self.interactions = interactions
        self.outer_bags = outer_bags
        self.inner_bags = inner_bags
        self.max_bins = max_bins
        self.feature_names = feature_names
        self.max_interaction_bins = max_interaction_bins
        self.max_rounds = max_rounds
        self.early_stopping_rounds = early_stopping_rounds
        self.early_stopping_tolerance = early_stopping_tolerance
        self.random_state = random_state

    def _fit(self, X, y, w):
        n_pairs = check_positive_int(self.interactions, "interactions", minimum=0)
        n_bags = max(1, check_positive_int(self.outer_bags, "outer_bags", minimum=0))
        n_inner = check_positive_int(self.inner_bags, "inner_bags", minimum=0)
        max_bins = check_positive_int(self.max_bins, "max_bins", minimum=2)
        pair_bins = check_positive_int(self.max_interaction_bins, "max_interaction_bins",
                                       minimum=2)
        max_rounds = check_positive_int(self.max_rounds, "max_rounds", minimum=0)
        patience = check_positive_int(self.early_stopping_rounds, "early_stopping_rounds",
                                      minimum=0)
        tolerance = check_non_negative(self.early_stopping_tolerance, "early_stopping_tolerance")
        if self.feature_names is not None and len(self.feature_names) != X.shape[1]:
            raise ValueError("feature_names has %d names for %d features"
                             % (len(self.feature_names), X.shape[1]))
        rng = np.random.RandomState(self.random_state)
        # the smoothing cuts draw from their own stream, seeded before the bags take a
        # number of draws that depends on the row count: n rows of weight 2 and 2n rows
        # of weight 1 then get the same cuts
        cut_rng = np.random.RandomState(rng.randint(2 ** 31 - 1))
        n, p = X.shape
        # without early stopping a validation part would only take rows away from fitting
        fit_w, val_w = _bag_weights(w, n_bags, n_inner, rng, hold_out=patience > 0)
        loss = LogLoss() if self._logistic else SquaredLoss()
        intercepts = np.array([loss.base_score(y, fw.sum(axis=0)) for fw in fit_w])
        F = np.repeat(intercepts[:, None], n, axis=1)
        run = _CyclicBooster(y, fit_w, val_w, loss, max_rounds, patience, tolerance, cut_rng)

        self.bin_edges_ = [bin_edges(X[:, j], max_bins, weights=w) for j in range(p)]
        bins = bin_matrix(X, self.bin_edges_)
        main_terms = [_MainTerm(bins[:, j], len(self.bin_edges_[j]) + 1) for j in range(p)]
        F = run.boost(F, main_terms)
        self.n_rounds_ = [run.rounds_]

        self.pairs_, self.pair_edges_, pair_terms = [], [], []
        if n_pairs > 0 and p > 1:
            pair_edges = [bin_edges(X[:, j], pair_bins, weights=w) for j in range(p)]
            pair_index = bin_matrix(X, pair_edges)
            ranked = rank_pairs(pair_index, pair_edges, y, w, loss, F.mean(axis=0))
            self.pairs_ = ranked[:n_pairs]
            pair_terms = [
                _PairTerm(pair_index[:, j], pair_index[:, k], len(pair_edges[j]) + 1,
                          len(pair_edges[k]) + 1)
                for j, k in self.pairs_
            ]
            self.pair_edges_ = [(pair_edges[j], pair_edges[k]) for j, k in self.pairs_]
            run.boost(F, pair_terms)
            self.n_rounds_.append(run.rounds_)
        self._finish(intercepts, main_terms, pair_terms, w)

    def _finish(self, intercepts, main_terms, pair_terms, w):
        """Average the bags and centre every table on the training rows."""
        intercept = intercepts.mean()
        self.term_scores_, importances = [], []
        for term in main_terms + pair_terms:
            table = term.table.mean(axis=0)
            scores = term.lookup(table[None])[0]
            shift = w @ scores / w.sum()
            self.term_scores_.append(table - shift)
            importances.append(float(w @ np.abs(scores - shift) / w.sum()))
            intercept += shift
        self.intercept_ = float(intercept)
        names = self._names()
        self.term_names_ = names + ["%s & %s" % (names[j], names[k]) for j, k in self.pairs_]
        self.term_features_ = [(j,) for j in range(len(main_terms))] + list(self.pairs_)
        # mean absolute contribution of each term over the training rows
        self.term_importances_ = dict(zip(self.term_names_, importances))

    def _names(self):
        if self.feature_names is not None:
            return [str(name) for name in self.feature_names]
        names = getattr(self, "feature_names_in_", None)
        if names is not None:
            return [str(name) for name in names]
        return ["X%d" % j for j in range(self.n_features_in_)]

    def _raw_predict(self, X):
        out = np.full(X.shape[0], self.intercept_)
        bins = bin_matrix(X, self.bin_edges_)
        p = X.shape[1]
        for j in range(p):
            out += self.term_scores_[j][bins[:, j]]
        for (j, k), (edges_j, edges_k), table in zip(self.pairs_, self.pair_edges_,
                                                     self.term_scores_[p:]):
            bj = np.searchsorted(edges_j, X[:, j], side="left")
            bk = np.searchsorted(edges_k, X[:, k], side="left")
            out += table[bj, bk]
        return out


def _bag_weights(w, n_bags, n_inner, rng, hold_out=True):
    """Per outer bag: fitting weights (one row per inner bag) and validation weights."""
    n = len(w)
    n_val = int(round(_VALIDATION_SHARE * n)) if hold_out and n >= 20 else 0
    fit_w = np.empty((n_bags, max(n_inner, 1), n))
    val_w = np.zeros((n_bags, n))
    for b in range(n_bags):
        val = np.zeros(n, dtype=bool)
        val[rng.permutation(n)[:n_val]] = True
        val_w[b] = np.where(val, w, 0.0)
        base = np.where(val, 0.0, w)
        if n_inner == 0:
            fit_w[b, 0] = base
            continue
        fit_rows = np.flatnonzero(~val)
        for k in range(n_inner):
            counts = np.bincount(rng.choice(fit_rows, len(fit_rows)), minlength=n)
            fit_w[b, k] = base * counts
    return fit_w, val_w


class SquaredLoss:
    def base_score(self, y, weights):
        return np.average(y, weights=weights)

    def gradients(self, F, y):
        return F - y, np.ones_like(F)

    def loss(self, F, y):
        return 0.5 * (F - y) ** 2


class LogLoss:
    def base_score(self, y, weights):
        mean = np.clip(np.average(y, weights=weights), 1e-6, 1 - 1e-6)
        return np.log(mean / (1 - mean))

    def gradients(self, F, y):
        p = sigmoid(F)
        return p - y, np.clip(p * (1 - p), 1e-12, None)

    def loss(self, F, y):
        return np.logaddexp(0.0, F) - y * F


class _CyclicBooster:
    """Round-robin boosting of a list of terms for all bags at once, with early stopping."""

    def __init__(self, y, fit_w, val_w, loss, max_rounds, patience, tolerance, rng):
        self.y, self.fit_w, self.val_w, self.loss = y, fit_w, val_w, loss
        self.rng = rng
        self.max_rounds, self.patience, self.tolerance = max_rounds, patience, tolerance
        self.n_bags, self.n_inner = fit_w.shape[:2]
        self.has_validation = val_w.sum() > 0
        self.scale = None

    def boost(self, F, terms):
        """Boost ``terms`` (their tables are updated in place) and return the new scores."""
        for term in terms:
            term.allocate(self.n_bags)
        if not terms:
            return F
        active = np.ones(self.n_bags, dtype=bool)
        best = self._validation_loss(F)
        if self.scale is None:
            # progress is measured against the loss of the starting model: relative to the
            # current loss, a bag whose validation rows are separable would improve forever
            self.scale = np.abs(best)
        best_state = [(F[b].copy(), [t.table[b].copy() for t in terms]) for b in range(self.n_bags)]
        stale = np.zeros(self.n_bags, dtype=int)
        self.rounds_ = 0
        for round_ in range(self.max_rounds):
            rng = self.rng if round_ < _SMOOTHING_ROUNDS else None
            for term in terms:
                g, h = self.loss.gradients(F, self.y)
                G = self.fit_w * g[:, None, :]
                H = self.fit_w * h[:, None, :]
                update = _LEARNING_RATE * term.fit_update(G, H, rng).mean(axis=1)
                update[~active] = 0.0
                term.table += update
                F = F + term.lookup(update)
            self.rounds_ += 1
            if not (self.patience and self.has_validation):
                continue
            current = self._validation_loss(F)
            improved = active & (current < best - self.tolerance * self.scale)
            for b in np.flatnonzero(improved):
                best_state[b] = (F[b].copy(), [t.table[b].copy() for t in terms])
            best = np.where(improved, current, best)
            stale = np.where(improved, 0, stale + 1)
            active &= stale < self.patience
            if not active.any():
                break
        if self.patience and self.has_validation:
            for b, (scores, tables) in enumerate(best_state):
                F[b] = scores
                for term, table in zip(terms, tables):
                    term.table[b] = table
        return F

    def _validation_loss(self, F):
        total = self.val_w.sum(axis=1)
        return (self.val_w * self.loss.loss(F, self.y)).sum(axis=1) / np.maximum(total, 1e-12)


class _MainTerm:
    """Score table of one feature over its bins, one row per bag."""

    def __init__(self, bins, n_bins):
        self.bins, self.n_bins = bins, n_bins

    def allocate(self, n_bags):
        self.table = np.zeros((n_bags, self.n_bins))

    def lookup(self, tables):
        return tables[:, self.bins]

    def fit_update(self, G, H, rng=None):
        """Best single cut per (bag, inner bag), or a random one with ``rng``; returns
        Newton steps by bin."""
        B, K, n = G.shape
        offsets = (np.arange(B * K) * self.n_bins)[:, None]
        index = (offsets + self.bins[None, :]).ravel()
        size = B * K * self.n_bins
        hist_g = np.bincount(index, G.ravel(), size).reshape(B, K, self.n_bins)
        hist_h = np.bincount(index, H.ravel(), size).reshape(B, K, self.n_bins)
        return _best_cut(hist_g, hist_h, rng)


def _best_cut(hist_g, hist_h, rng=None):
    n_bins = hist_g.shape[-1]
    if n_bins < 2:
        return np.zeros(hist_g.shape)
    GL = np.cumsum(hist_g, axis=-1)[..., :-1]
    HL = np.cumsum(hist_h, axis=-1)[..., :-1]
    G, H = hist_g.sum(axis=-1, keepdims=True), hist_h.sum(axis=-1, keepdims=True)
    GR, HR = G - GL, H - HL
    floor = _MIN_HESSIAN_SHARE * H
    valid = (HL > floor) & (HR > floor)
    if rng is None:
        gain = np.where(valid, GL ** 2 / np.maximum(HL, 1e-300) + GR ** 2 / np.maximum(HR, 1e-300),
                        -np.inf)
    else:
        gain = np.where(valid, rng.random_sample(valid.shape), -np.inf)
    cut = np.argmax(gain, axis=-1)[..., None]
    has_cut = np.isfinite(np.take_along_axis(gain, cut, axis=-1))

    def at_cut(a):
        return np.take_along_axis(a, cut, axis=-1)

    left = np.where(has_cut, -at_cut(GL) / np.maximum(at_cut(HL), 1e-300), 0.0)
    right = np.where(has_cut, -at_cut(GR) / np.maximum(at_cut(HR), 1e-300), 0.0)
    return np.where(np.arange(n_bins) <= cut, left, right)


class _PairTerm:
    """Score table of a pair of features over their coarse bins, one per bag."""

    def __init__(self, bins_a, bins_b, n_a, n_b):
        self.bins_a, self.bins_b, self.n_a, self.n_b = bins_a, bins_b, n_a, n_b
        self.cell = bins_a * n_b + bins_b

    def allocate(self, n_bags):
        self.table = np.zeros((n_bags, self.n_a, self.n_b))

    def lookup(self, tables):
        return tables.reshape(tables.shape[0], -1)[:, self.cell]

    def fit_update(self, G, H, rng=None):
        B, K, n = G.shape
        cells = self.n_a * self.n_b
        index = ((np.arange(B * K) * cells)[:, None] + self.cell[None, :]).ravel()
        hist_g = np.bincount(index, G.ravel(), B * K * cells).reshape(B * K, self.n_a, self.n_b)
        hist_h = np.bincount(index, H.ravel(), B * K * cells).reshape(B * K, self.n_a, self.n_b)
        return _pair_tree(hist_g, hist_h)[1].reshape(B, K, self.n_a, self.n_b)


def _pair_tree(hist_g, hist_h, with_steps=True):
    """Best tree of a cut on one axis then one cut per side on the other axis.

    ``hist_g``/``hist_h`` have shape (L, A, C). Returns the gain over no split, shape (L,),
    and the Newton step of every cell, shape (L, A, C) (None without ``with_steps``).
    """
    L, A, C = hist_g.shape
    if A < 2 or C < 2:
        return np.full(L, -np.inf), np.zeros((L, A, C))
    # two-dimensional prefix sums serve both orientations
    PG = hist_g.cumsum(axis=1).cumsum(axis=2)
    PH = hist_h.cumsum(axis=1).cumsum(axis=2)
    total_g, total_h = PG[:, -1, -1], PH[:, -1, -1]
    floor = _MIN_HESSIAN_SHARE * total_h[:, None, None]
    gain_rows, a_rows = _best_first_cut(PG, PH, floor)
    gain_cols, a_cols = _best_first_cut(PG.transpose(0, 2, 1), PH.transpose(0, 2, 1), floor)
    by_columns = gain_cols > gain_rows
    gain = np.where(by_columns, gain_cols, gain_rows)
    gain = gain - total_g ** 2 / np.maximum(total_h, 1e-300)
    if not with_steps:
        return gain, None
    steps_rows = _cell_steps(hist_g, hist_h, a_rows, floor)
    steps_cols = _cell_steps(hist_g.transpose(0, 2, 1), hist_h.transpose(0, 2, 1), a_cols, floor)
    steps = np.where(by_columns[:, None, None], steps_cols.transpose(0, 2, 1), steps_rows)
    steps = np.where(np.isfinite(gain)[:, None, None], steps, 0.0)
    return gain, steps


def _best_first_cut(PG, PH, floor):
    """Score of the best tree for each first cut along axis 1, maximised over that cut."""
    top = _side_score(PG[:, :-1, :], PH[:, :-1, :], floor)
    bottom = _side_score(PG[:, -1:, :] - PG[:, :-1, :], PH[:, -1:, :] - PH[:, :-1, :], floor)
    score = top + bottom
    a = np.argmax(score, axis=1)
    return score[np.arange(len(a)), a], a


def _side_score(side_g, side_h, floor):
    """Best score of one side (prefix sums along the last axis), cut once or left whole."""
    GL, HL = side_g[..., :-1], side_h[..., :-1]
    G, H = side_g[..., -1:], side_h[..., -1:]
    GR, HR = G - GL, H - HL
    split = np.where((HL > floor) & (HR > floor),
                     GL ** 2 / np.maximum(HL, 1e-300) + GR ** 2 / np.maximum(HR, 1e-300),
                     -np.inf).max(axis=-1)
    whole = np.where(H[..., 0] > floor[..., 0], G[..., 0] ** 2 / np.maximum(H[..., 0], 1e-300),
                     -np.inf)
    return np.maximum(split, whole)


def _cell_steps(hist_g, hist_h, a, floor):
    """Newton steps of every cell for the tree whose first cut follows row ``a[l]``.

    Each side's column sums are prefix sums of its own per-column totals, not differences
    of two-dimensional prefix sums: a column empty on one side then adds exactly zero,
    so cuts on either side of it tie exactly and the first is taken, however the rows'
    sums were rounded (n rows of weight 2 and 2n rows of weight 1 cut alike).
    """
    L, A, C = hist_g.shape
    rows = np.arange(L)
    RG, RH = hist_g.cumsum(axis=1), hist_h.cumsum(axis=1)
    top_g, top_h = RG[rows, a], RH[rows, a]
    bottom_g, bottom_h = RG[:, -1] - top_g, RH[:, -1] - top_h
    sides = [(top_g.cumsum(axis=1), top_h.cumsum(axis=1)),
             (bottom_g.cumsum(axis=1), bottom_h.cumsum(axis=1))]
    floor = floor[:, 0]
    columns = np.arange(C)[None, :]
    leaves = []
    for g, h in sides:
        GL, HL = g[:, :-1], h[:, :-1]
        G, H = g[:, -1:], h[:, -1:]
        GR, HR = G - GL, H - HL
        score = np.where((HL > floor) & (HR > floor),
                         GL ** 2 / np.maximum(HL, 1e-300) + GR ** 2 / np.maximum(HR, 1e-300),
                         -np.inf)
        whole = np.where(H > floor, G ** 2 / np.maximum(H, 1e-300), -np.inf)
        c = np.argmax(score, axis=1)[:, None]
        split = np.take_along_axis(score, c, 1) > whole
        left = np.where(split, -np.take_along_axis(GL, c, 1)
                        / np.maximum(np.take_along_axis(HL, c, 1), 1e-300), 0.0)
        right = np.where(split, -np.take_along_axis(GR, c, 1)
                         / np.maximum(np.take_along_axis(HR, c, 1), 1e-300), 0.0)
        whole_step = np.where(H > 0, -G / np.maximum(H, 1e-300), 0.0)
        leaves.append(np.where(split, np.where(columns <= c, left, right), whole_step))
    top = np.arange(A)[None, :, None] <= a[:, None, None]
    return np.where(top, leaves[0][:, None, :], leaves[1][:, None, :])


def rank_pairs(bins, edges, y, w, loss, F, candidates=None, chunk=256):
    """Feature pairs ordered by the gain of a pairwise tree on the current gradients.

    The gain of a pair is what ``_pair_tree`` computes without steps on the pair's
    gradient and hessian histograms (the same sums in the same order), computed natively
    pair by pair by ``_pair_gain.pair_gains``; ``chunk`` is accepted for callers and no
    longer needed. Pairs of equal gain keep the order of ``candidates``; pairs without a
    finite gain (one feature constant, or no tree allowed) are left out.
    """
    g, h = loss.gradients(F, y)
    if candidates is None:
        candidates = combinations(range(bins.shape[1]), 2)
    candidates = [tuple(pair) for pair in candidates]
    gains = _pair_gain.pair_gains(
        np.ascontiguousarray(bins, dtype=np.int64),
        np.array([len(e) + 1 for e in edges], dtype=np.int64),
        np.array(candidates, dtype=np.int64).reshape(-1, 2),
        np.ascontiguousarray(w * g, dtype=np.float64),
        np.ascontiguousarray(w * h, dtype=np.float64),
        _MIN_HESSIAN_SHARE,
    ).tolist()
    # non-finite gains leave before sorting: a NaN key would unsettle the order of the rest
    kept = [i for i in range(len(candidates)) if np.isfinite(gains[i])]
    order = sorted(kept, key=lambda i: -gains[i])
    return [candidates[i] for i in order]


class EBMRegressor(ZekaRegressor, _EBM):
    _logistic = False


class EBMClassifier(ZekaClassifier, _EBM):
    _logistic = True
