"""Ranking candidate feature pairs: the native scorer against the numpy one it replaced.

``rank_pairs`` on the problems gaminet and ebm meet: breast cancer (the 364 fitting rows of
a 455-row training split, 30 features, 435 pairs, 32 bins) and a synthetic regression of
20,000 rows and 20 features (190 pairs, 32 bins). The baseline is the numpy ranking as it
was (pairs scored 256 at a time as one stack of padded histograms by ``_pair_tree``). Both
rankings are checked equal first. Prints the time of each (best of the repeats) and the
ratio (numpy / native).

    python bench/bench_pair_gain.py [--repeat R]
"""

import argparse
import time
from itertools import combinations

import numpy as np
from sklearn.datasets import load_breast_cancer

from zeka.models import _losses, _pair_terms
from zeka.models._base import bin_edges, bin_matrix


def rank_pairs_numpy(bins, edges, y, w, loss, F, candidates=None, chunk=256):
    """The numpy ranking: chunks of pairs as stacks of histograms padded to one size."""
    g, h = loss.gradients(F, y)
    wg, wh = w * g, w * h
    if candidates is None:
        candidates = combinations(range(bins.shape[1]), 2)
    candidates = [tuple(pair) for pair in candidates]
    sizes = np.array([len(e) + 1 for e in edges])
    side = int(sizes.max()) if len(sizes) else 1
    gains = []
    for start in range(0, len(candidates), chunk):
        part = np.array(candidates[start : start + chunk], dtype=np.intp).reshape(-1, 2)
        L = len(part)
        cells = (np.arange(L)[:, None] * side + bins[:, part[:, 0]].T) * side + bins[
            :, part[:, 1]
        ].T
        size = L * side * side
        hist_g = np.bincount(cells.ravel(), np.tile(wg, L), size).reshape(L, side, side)
        hist_h = np.bincount(cells.ravel(), np.tile(wh, L), size).reshape(L, side, side)
        gain = _pair_terms._pair_tree(hist_g, hist_h, with_steps=False)[0]
        gain[(sizes[part[:, 0]] < 2) | (sizes[part[:, 1]] < 2)] = -np.inf
        gains.extend(gain.tolist())
    order = sorted(range(len(candidates)), key=lambda i: -gains[i])
    return [candidates[i] for i in order if np.isfinite(gains[i])]


def breast_cancer():
    X, y = load_breast_cancer(return_X_y=True)
    X, y = X[:364], y[:364].astype(float)
    return X, y, _losses.LogLoss()


def synthetic(rows=20000, features=20):
    rng = np.random.default_rng(0)
    X = rng.normal(size=(rows, features))
    y = X[:, 0] * X[:, 1] + np.sin(X[:, 2]) * X[:, 3] + X[:, 4] + rng.normal(size=rows)
    return X, y, _losses.SquaredLoss()


def problem(X, y, loss):
    w = np.ones(len(y))
    edges = [bin_edges(X[:, j], 32, weights=w) for j in range(X.shape[1])]
    F = np.full(len(y), loss.base_score(y, w))
    return bin_matrix(X, edges), edges, y, w, loss, F


def best_time(function, repeat):
    best = np.inf
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - start)
    return best


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeat", type=int, default=7)
    options = parser.parse_args(argv)
    for name, make in [("breast cancer", breast_cancer), ("20,000 x 20", synthetic)]:
        args = problem(*make())
        ranking = _pair_terms.rank_pairs(*args)
        assert ranking == rank_pairs_numpy(*args), name
        numpy_time = best_time(lambda: rank_pairs_numpy(*args), options.repeat)
        native_time = best_time(lambda: _pair_terms.rank_pairs(*args), options.repeat)
        print(
            "%-14s %4d pairs  numpy %8.2f ms  native %6.2f ms  (x%5.1f)"
            % (name, len(ranking), numpy_time * 1e3, native_time * 1e3, numpy_time / native_time),
            flush=True,
        )


if __name__ == "__main__":
    main()
