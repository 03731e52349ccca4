"""Every interpretation view of every family, against the same computation in numpy.

Each family (regressor and classifier) is fitted at its table defaults on ``--fit-rows``
rows of a synthetic table of ``--features`` features, then each view of
``zeka.interpret.supported`` is computed over ``--rows`` rows (the local views for one
row, with the node or bin counts over all rows) and timed, best of ``--repeat``. Where
this file holds a numpy version of the same computation (the tree paths level by level
with fancy indexing, the bins with searchsorted and bincount, the GLM's contributions and
Hessian), it is run on the same data, its result checked equal to the view's, and the
ratio numpy / ours printed. A view the installation does not provide yet is listed as
such. Drawing the figure is timed separately.

    python bench/bench_interpret.py [--rows 100000] [--features 20] [--fit-rows 5000]
                                    [--families glm tree ...] [--repeat 3]
"""

import argparse
import time
import warnings

import numpy as np
import pandas as pd

from zeka.interpret import LOCAL_VIEWS, explain, supported
from zeka.interpret._core import InapplicableView
from zeka.models import FAMILY_KEYS, ZEKACLASSIFIER, ZEKAREGRESSOR


def table(rows, features, seed=0):
    rng = np.random.default_rng(seed)
    X = pd.DataFrame(
        rng.normal(size=(rows, features)), columns=["x%02d" % j for j in range(features)]
    )
    eta = (
        X.iloc[:, 0]
        - 0.5 * X.iloc[:, 1]
        + np.sin(2 * X.iloc[:, 2])
        + 0.5 * X.iloc[:, 3] * X.iloc[:, 4]
    )
    y_reg = (eta + 0.5 * rng.normal(size=rows)).to_numpy()
    y_cls = (rng.random(rows) < 1 / (1 + np.exp(-eta.to_numpy()))).astype(int)
    return X, y_reg, y_cls


# numpy versions of the views' computations


def numpy_paths(feature, threshold, left, right, value, X, single_precision):
    """Leaf, per-feature changes and node counts of every row, one tree level at a time."""
    n = X.shape[0]
    values = X.astype(np.float32).astype(float) if single_precision else X
    node = np.zeros(n, dtype=np.int64)
    contributions = np.zeros(X.shape)
    visited = [node]
    rows = np.arange(n)
    while True:
        inner = left[node] >= 0
        if not inner.any():
            break
        r, k = rows[inner], node[inner]
        j = feature[k]
        child = np.where(values[r, j] <= threshold[k], left[k], right[k])
        np.add.at(contributions, (r, j), value[child] - value[k])
        node = node.copy()
        node[inner] = child
        visited.append(child)
    counts = np.bincount(np.concatenate(visited), minlength=len(feature)).astype(float)
    return node, contributions, counts


def tree_arrays(model):
    from zeka.interpret._trees import _trees

    trees, intercept = _trees(model)
    return [
        (t.feature, t.threshold, t.left, t.right, t.output, t.single_precision) for t in trees
    ], intercept


def numpy_tree_global(model, X, y):
    trees, _ = tree_arrays(model)
    values = X.to_numpy()
    total = np.zeros(values.shape)
    counts = []
    for arrays in trees:
        _, c, n = numpy_paths(*arrays[:5], values, arrays[5])
        total += c
        counts.append(n)
    return np.abs(total).mean(axis=0), np.concatenate(counts)


def check_tree_global(view, reference):
    importance, counts = reference
    data = view.data
    got = data["importance"].reindex(data["importance"].index)["importance"]
    names = list(got.index)
    order = [int(name[1:]) for name in names]
    np.testing.assert_allclose(got.to_numpy(), importance[order], atol=1e-9)
    np.testing.assert_array_equal(data["nodes"]["rows"].to_numpy(), counts)


def numpy_tree_local(model, X, y):
    trees, _ = tree_arrays(model)
    values = X.to_numpy()
    return [numpy_paths(*a[:5], values, a[5])[2] for a in trees]


def check_tree_local(view, reference):
    assert len(view.data) <= sum(len(c) for c in reference)


def numpy_figs_heatmap(model, X, y):
    trees, _ = tree_arrays(model)
    values = X.to_numpy()
    return np.column_stack([a[4][numpy_paths(*a[:5], values, a[5])[0]] for a in trees])


def check_figs_heatmap(view, reference):
    np.testing.assert_allclose(view.data["contributions"].to_numpy(), reference, atol=1e-12)


def numpy_woe(model, X, y):
    from zeka.interpret._woe import cut_points

    events = (y == model.classes_[1]).astype(float)
    out = []
    for j, (cuts, _) in enumerate(cut_points(model, X.shape[1])):
        b = np.searchsorted(cuts, X.iloc[:, j].to_numpy(), side="left")
        ev = np.bincount(b, events, len(cuts) + 1)
        non = np.bincount(b, 1 - events, len(cuts) + 1)
        zero = (ev == 0) | (non == 0)
        se, sn = (ev + 0.5 * zero) / events.sum(), (non + 0.5 * zero) / (1 - events).sum()
        out.append(np.log(sn / se))
    return np.concatenate(out)


def check_woe(view, reference):
    np.testing.assert_allclose(view.data["woe"].to_numpy(), reference, atol=1e-12)


def numpy_iv(model, X, y):
    return numpy_woe(model, X, y)


def check_iv(view, reference):
    assert np.all(view.data["iv"].to_numpy() >= 0)


def numpy_glm_global(model, X, y):
    coef = np.ravel(model.coef_)
    values = X.to_numpy()
    return np.abs((values - values.mean(axis=0)) * coef).mean(axis=0)


def check_glm_global(view, reference):
    got = view.data["importance"].reindex(["x%02d" % j for j in range(len(reference))])
    np.testing.assert_allclose(got.to_numpy(), reference, rtol=1e-10)


def numpy_glm_local(model, X, y):
    coef = np.ravel(model.coef_)
    values = X.to_numpy()
    return coef * (values[0] - values.mean(axis=0))


def check_glm_local(view, reference):
    np.testing.assert_allclose(view.data["contribution"].to_numpy(), reference, atol=1e-10)


def numpy_glm_table(model, X, y):
    values = X.to_numpy()
    D = np.column_stack([np.ones(len(values)), values])
    beta = np.concatenate([np.ravel(model.intercept_), np.ravel(model.coef_)])
    eta = D @ beta
    if hasattr(model, "classes_"):
        mu = 1 / (1 + np.exp(-eta))
        H = (D * (mu * (1 - mu))[:, None]).T @ D
        H[1:, 1:] += np.diag(values.var(axis=0))
        return np.sqrt(np.diag(np.linalg.inv(H)))
    r = y - eta
    H = D.T @ D
    return np.sqrt(np.diag(r @ r / (len(y) - D.shape[1]) * np.linalg.inv(H)))


def check_glm_table(view, reference):
    np.testing.assert_allclose(view.data["std_error"].to_numpy(), reference, rtol=1e-7)


BASELINES = {
    ("glm", "global_fi"): (numpy_glm_global, check_glm_global),
    ("glm", "local_fi"): (numpy_glm_local, check_glm_local),
    ("glm", "glm_coef_table"): (numpy_glm_table, check_glm_table),
    ("glm", "glm_coef_plot"): (numpy_glm_table, check_glm_table),
    ("tree", "tree_global"): (numpy_tree_global, check_tree_global),
    ("figs", "tree_global"): (numpy_tree_global, check_tree_global),
    ("tree", "tree_local"): (numpy_tree_local, check_tree_local),
    ("figs", "tree_local"): (numpy_tree_local, check_tree_local),
    ("figs", "figs_heatmap"): (numpy_figs_heatmap, check_figs_heatmap),
    ("xgb1", "xgb1_woe"): (numpy_woe, check_woe),
    ("xgb1", "xgb1_iv"): (numpy_iv, check_iv),
}


def best_time(function, repeat):
    best, result = np.inf, None
    for _ in range(repeat):
        start = time.perf_counter()
        result = function()
        best = min(best, time.perf_counter() - start)
    return best, result


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=100_000)
    parser.add_argument("--features", type=int, default=20)
    parser.add_argument("--fit-rows", type=int, default=5_000)
    parser.add_argument("--families", nargs="+", default=list(FAMILY_KEYS))
    parser.add_argument("--repeat", type=int, default=3)
    args, _ = parser.parse_known_args(argv)
    X, y_reg, y_cls = table(args.rows, args.features)
    fit = slice(0, args.fit_rows)
    print(
        "views over %d rows x %d features (models fitted on %d rows); times in seconds, "
        "best of %d" % (args.rows, args.features, args.fit_rows, args.repeat)
    )
    print(
        "%-8s %-4s %-20s %9s %9s %7s %9s"
        % ("family", "task", "view", "ours", "numpy", "ratio", "figure")
    )
    for family in args.families:
        for task, catalogue, y in (("reg", ZEKAREGRESSOR, y_reg), ("cls", ZEKACLASSIFIER, y_cls)):
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                model = catalogue[family]().fit(X.iloc[fit], y[fit])
            for view in supported(model):
                row = 0 if view in LOCAL_VIEWS else None

                def ours(view=view, row=row):
                    return explain(model, view, X, y=y, row=row)

                try:
                    seconds, result = best_time(ours, args.repeat)
                except NotImplementedError:
                    print("%-8s %-4s %-20s %9s" % (family, task, view, "not yet available"))
                    continue
                except InapplicableView:
                    print("%-8s %-4s %-20s %9s" % (family, task, view, "refused (regressor)"))
                    continue
                drawing, _ = best_time(lambda result=result: result.figure(), 1)
                baseline = BASELINES.get((family, view))
                if baseline is None:
                    print(
                        "%-8s %-4s %-20s %9.4f %9s %7s %9.3f"
                        % (family, task, view, seconds, "-", "-", drawing)
                    )
                    continue
                reference_function, check = baseline
                numpy_seconds, reference = best_time(
                    lambda f=reference_function: f(model, X, y), args.repeat
                )
                check(result, reference)
                print(
                    "%-8s %-4s %-20s %9.4f %9.4f %7.2f %9.3f"
                    % (family, task, view, seconds, numpy_seconds, numpy_seconds / seconds, drawing)
                )


if __name__ == "__main__":
    main()
