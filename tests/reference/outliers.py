"""Plain numpy definitions of the outlier detectors' per-row scores, for the kernel and
detector tests to compare with."""

import numpy as np


def histogram_scores(x, edges, log_density, tol):
    """Sum over features of -log density of each value's bin; np.digitize finds the bin."""
    n, d = x.shape
    bins = log_density.shape[1]
    out = np.zeros(n)
    for j in range(d):
        e, ld = edges[j], log_density[j]
        at = np.digitize(x[:, j], e, right=False)  # e[at-1] <= x < e[at]
        for r in range(n):
            if at[r] == 0:
                inside = e[0] - x[r, j] <= tol * (e[1] - e[0])
                out[r] -= ld[0] if inside else ld.min()
            elif at[r] == bins + 1:
                inside = x[r, j] - e[-1] <= tol * (e[-1] - e[-2])
                out[r] -= ld[-1] if inside else ld.min()
            else:
                out[r] -= ld[at[r] - 1]
    return out


def hbos(train, test, n_bins, alpha, tol, weights=None):
    d = train.shape[1]
    edges = np.empty((d, n_bins + 1))
    log_density = np.empty((d, n_bins))
    for j in range(d):
        hist, edges[j] = np.histogram(train[:, j], bins=n_bins, weights=weights, density=True)
        log_density[j] = np.log(hist + alpha)
    return histogram_scores(test, edges, log_density, tol)


def ecod(train, test, weights=None):
    """Sum over features of -log of the smaller of the two weighted tail shares, floored at
    the smallest row share."""
    w = np.ones(len(train)) if weights is None else np.asarray(weights, float)
    total = w.sum()
    floor = w[w > 0].min() / total
    out = np.zeros(len(test))
    for j in range(train.shape[1]):
        col = train[:, j]
        for r, v in enumerate(test[:, j]):
            left = w[col <= v].sum() / total
            right = w[col >= v].sum() / total
            out[r] -= np.log(max(min(left, right), floor))
    return out


def knn(train, test, k, method, weights=None, leave_self_out=False):
    """Aggregate of the k nearest training distances by brute force, a row of weight w
    standing for w copies (integer weights)."""
    w = np.ones(len(train), dtype=int) if weights is None else np.asarray(weights).astype(int)
    out = np.empty(len(test))
    for r, row in enumerate(test):
        dist = np.sqrt(((train - row) ** 2).sum(axis=1))
        counts = w.copy()
        if leave_self_out:
            counts[r] -= 1
        units = np.sort(np.repeat(dist, counts))[:k]
        out[r] = {"mean": np.mean, "largest": np.max, "median": np.median}[method](units)
    return out
