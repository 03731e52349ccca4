"""Pair terms of the additive models: pairwise score tables, the small trees fitted to
them and the ranking of candidate pairs."""

from itertools import combinations

import numpy as np

from . import _pair_gain
from ._main_terms import _MIN_HESSIAN_SHARE


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
    gain = gain - total_g**2 / np.maximum(total_h, 1e-300)
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
    split = np.where(
        (HL > floor) & (HR > floor),
        GL**2 / np.maximum(HL, 1e-300) + GR**2 / np.maximum(HR, 1e-300),
        -np.inf,
    ).max(axis=-1)
    whole = np.where(
        H[..., 0] > floor[..., 0], G[..., 0] ** 2 / np.maximum(H[..., 0], 1e-300), -np.inf
    )
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
    sides = [
        (top_g.cumsum(axis=1), top_h.cumsum(axis=1)),
        (bottom_g.cumsum(axis=1), bottom_h.cumsum(axis=1)),
    ]
    floor = floor[:, 0]
    columns = np.arange(C)[None, :]
    leaves = []
    for g, h in sides:
        GL, HL = g[:, :-1], h[:, :-1]
        G, H = g[:, -1:], h[:, -1:]
        GR, HR = G - GL, H - HL
        score = np.where(
            (HL > floor) & (HR > floor),
            GL**2 / np.maximum(HL, 1e-300) + GR**2 / np.maximum(HR, 1e-300),
            -np.inf,
        )
        whole = np.where(H > floor, G**2 / np.maximum(H, 1e-300), -np.inf)
        c = np.argmax(score, axis=1)[:, None]
        split = np.take_along_axis(score, c, 1) > whole
        left = np.where(
            split,
            -np.take_along_axis(GL, c, 1) / np.maximum(np.take_along_axis(HL, c, 1), 1e-300),
            0.0,
        )
        right = np.where(
            split,
            -np.take_along_axis(GR, c, 1) / np.maximum(np.take_along_axis(HR, c, 1), 1e-300),
            0.0,
        )
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
