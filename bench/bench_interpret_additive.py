"""The model-own views of the additive families and the ReLU network on a large frame:
each view computed with the native loops of ``zeka.interpret._terms`` against the same
computation with numpy in their place (searchsorted and fancy indexing for the step
terms, bincount for the cell sums, a vectorised sweep for the purification, batched
matrix products for the local linear models), in the same run, results compared.

Models are fitted on the first ``--fit-rows`` rows (fitting is not what is timed); the
views are computed over all ``--rows`` rows, the local ones for row 0. Every time is the
best of ``--repeat`` runs.

    python bench/bench_interpret_additive.py [--rows N] [--features P] [--fit-rows N]
        [--families gam,xgb1,...] [--repeat R]
"""

import argparse
import time

import numpy as np
import pandas as pd

from zeka.interpret import _effects, _reludnn, _terms, explain, supported
from zeka.models import ZEKACLASSIFIER, ZEKAREGRESSOR

FAMILIES = ["gam", "xgb1", "xgb2", "ebm", "gaminet", "reludnn"]
FAST = {
    "ebm": dict(outer_bags=2, max_rounds=500, interactions=10),
    "gaminet": dict(max_epochs=[30, 30, 30], interact_num=10),
    "reludnn": dict(max_epochs=30),
}


class NumpyTerms:
    """The functions of ``_terms`` written with numpy."""

    @staticmethod
    def _cells(X, axes, edges):
        out = np.empty((len(X), len(axes)), dtype=np.int64)
        for t, ((fa, sa, ca), (fb, sb, cb)) in enumerate(axes):
            cell = np.searchsorted(edges[sa : sa + ca], X[:, fa], side="left")
            if fb >= 0:
                cell = cell * (cb + 1) + np.searchsorted(edges[sb : sb + cb], X[:, fb], side="left")
            out[:, t] = cell
        return out

    @staticmethod
    def step_cells(X, axes, edges, tables, table_start):
        return NumpyTerms._cells(X, axes, edges)

    @staticmethod
    def step_values(X, axes, edges, tables, table_start):
        return tables[NumpyTerms._cells(X, axes, edges) + table_start]

    @staticmethod
    def step_counts(X, axes, edges, tables, table_start):
        cells = NumpyTerms._cells(X, axes, edges) + table_start
        return np.bincount(cells.ravel(), minlength=len(tables)).astype(np.float64)

    @staticmethod
    def step_summary(X, axes, edges, tables, table_start):
        values = NumpyTerms.step_values(X, axes, edges, tables, table_start)
        contributions = np.zeros((len(X), X.shape[1]))
        for t, ((fa, _, _), (fb, _, _)) in enumerate(axes):
            if fb >= 0:
                contributions[:, fa] += 0.5 * values[:, t]
                contributions[:, fb] += 0.5 * values[:, t]
            else:
                contributions[:, fa] += values[:, t]
        return contributions, values.sum(axis=0), np.abs(values).sum(axis=0)

    @staticmethod
    def cell_sums(cells, values, width):
        sums = np.column_stack(
            [np.bincount(cells, values[:, v], minlength=width) for v in range(values.shape[1])]
        )
        return sums.reshape(width, values.shape[1]), np.bincount(cells, minlength=width) * 1.0

    @staticmethod
    def purify(table, weights, tol, max_iter):
        f = table.copy()
        rows, cols = np.zeros(f.shape[0]), np.zeros(f.shape[1])
        wr, wc = weights.sum(1), weights.sum(0)
        sweeps = 0
        while sweeps < max_iter:
            sweeps += 1
            r = np.divide((weights * f).sum(1), wr, out=np.zeros(len(wr)), where=wr > 0)
            f -= r[:, None]
            rows += r
            c = np.divide((weights * f).sum(0), wc, out=np.zeros(len(wc)), where=wc > 0)
            f -= c[None, :]
            cols += c
            if max(np.abs(r).max(initial=0), np.abs(c).max(initial=0)) <= tol:
                break
        constant = 0.0
        for effect, marginal in ((rows, wr), (cols, wc)):
            if marginal.sum() > 0:
                mean = marginal @ effect / marginal.sum()
                effect -= mean
                constant += mean
        return f, rows, cols, constant, sweeps

    @staticmethod
    def relu_local_linear(Z, weights, biases):
        a, masks = Z, []
        for W, b in zip(weights[:-1], biases[:-1]):
            z = a @ W + b
            masks.append(z > 0)
            a = np.where(masks[-1], z, 0.0)
        out = (a @ weights[-1] + biases[-1])[:, 0]
        delta = np.broadcast_to(weights[-1][:, 0], (len(Z), weights[-1].shape[0]))
        for W, m in zip(weights[-2::-1], masks[::-1]):
            delta = (delta * m) @ W.T
        bits = np.packbits(np.hstack(masks), axis=1)
        _, region = np.unique(bits, axis=0, return_inverse=True)
        return out, np.ascontiguousarray(delta), region.ravel().astype(np.int64)


def make_data(rows, features, seed=0):
    rng = np.random.RandomState(seed)
    X = pd.DataFrame(
        rng.normal(size=(rows, features)), columns=["x%02d" % j for j in range(features)]
    )
    X["x03"] = rng.randint(0, 4, rows).astype(float)
    f = X.x00 + np.sin(2 * X.x01) + X.x02 * X.x04 + 0.3 * X.x03 + 0.5 * X.x05 * X.x06
    return X, f.to_numpy(), rng


def timed(function, repeat):
    best, result = np.inf, None
    for _ in range(repeat):
        start = time.perf_counter()
        result = function()
        best = min(best, time.perf_counter() - start)
    return best, result


def same(a, b):
    if isinstance(a, dict):
        return all(same(a[k], b[k]) for k in a)
    if "region" in getattr(a, "index", pd.Index([])).names:
        # regions are numbered by size; ties may be ordered differently
        return np.allclose(np.sort(a.to_numpy(), axis=0), np.sort(b.to_numpy(), axis=0))
    return np.allclose(a.select_dtypes("number"), b.select_dtypes("number"), atol=1e-9, rtol=1e-9)


def run(family, task, X, y, fit_rows, repeat):
    catalogue = ZEKAREGRESSOR if task == "regression" else ZEKACLASSIFIER
    est = catalogue[family](**FAST.get(family, {})).fit(X.iloc[:fit_rows], y[:fit_rows])
    lines = []
    for view in supported(est):
        if view.startswith("xgb1_"):
            continue
        row = 0 if view.startswith("local") else None

        def compute():
            return explain(est, view, X, y=y, row=row).data

        native_time, native = timed(compute, repeat)
        _effects._terms = _reludnn._terms = NumpyTerms
        try:
            numpy_time, reference = timed(compute, repeat)
        finally:
            _effects._terms = _reludnn._terms = _terms
        lines.append(
            "%-8s %-14s %-19s %9.3f %9.3f %7.2fx  %s"
            % (
                family,
                task,
                view,
                native_time,
                numpy_time,
                numpy_time / native_time,
                "same" if same(native, reference) else "DIFFERENT",
            )
        )
        print(lines[-1], flush=True)
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=100_000)
    parser.add_argument("--features", type=int, default=20)
    parser.add_argument("--fit-rows", type=int, default=5_000)
    parser.add_argument("--families", default=",".join(FAMILIES))
    parser.add_argument("--tasks", default="regression,classification")
    parser.add_argument("--repeat", type=int, default=2)
    args = parser.parse_args()
    X, f, rng = make_data(args.rows, args.features)
    targets = {
        "regression": f + 0.3 * rng.normal(size=len(f)),
        "classification": (f + rng.normal(size=len(f)) > 0).astype(int),
    }
    print(
        "%d rows x %d features; views over every row, models fitted on %d rows"
        % (args.rows, args.features, min(args.fit_rows, args.rows))
    )
    print(
        "%-8s %-14s %-19s %9s %9s %8s" % ("family", "task", "view", "native s", "numpy s", "ratio")
    )
    for family in args.families.split(","):
        for task in args.tasks.split(","):
            run(family, task, X, targets[task], args.fit_rows, args.repeat)


if __name__ == "__main__":
    main()
