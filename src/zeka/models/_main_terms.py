"""Main-effect terms of explainable boosting: one score table per feature over its bins."""

import numpy as np

# a cut must leave each side at least this share of the node's hessian (also for pairs)
_MIN_HESSIAN_SHARE = 0.005


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
        gain = np.where(
            valid, GL**2 / np.maximum(HL, 1e-300) + GR**2 / np.maximum(HR, 1e-300), -np.inf
        )
    else:
        gain = np.where(valid, rng.random_sample(valid.shape), -np.inf)
    cut = np.argmax(gain, axis=-1)[..., None]
    has_cut = np.isfinite(np.take_along_axis(gain, cut, axis=-1))

    def at_cut(a):
        return np.take_along_axis(a, cut, axis=-1)

    left = np.where(has_cut, -at_cut(GL) / np.maximum(at_cut(HL), 1e-300), 0.0)
    right = np.where(has_cut, -at_cut(GR) / np.maximum(at_cut(HR), 1e-300), 0.0)
    return np.where(np.arange(n_bins) <= cut, left, right)
