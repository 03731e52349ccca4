"""Tree and FIGS views: paths add up to the prediction and follow scikit-learn's own paths;
node counts and importances equal a row-by-row walk."""

import numpy as np
import pandas as pd
import pytest

from reference.interpret import tree_walk
from zeka.interpret import explain
from zeka.models import FIGSClassifier, FIGSRegressor, TreeClassifier, TreeRegressor


@pytest.fixture(scope="module")
def frame():
    rng = np.random.default_rng(1)
    X = pd.DataFrame(rng.normal(size=(250, 5)), columns=["v%d" % j for j in range(5)])
    y = X["v0"] * X["v1"] + np.sin(3 * X["v2"]) + 0.3 * rng.normal(size=250)
    return X, y.to_numpy()


MODELS = [
    (TreeRegressor, {}),
    (TreeClassifier, {}),
    (FIGSRegressor, {"max_iter": 20}),
    (FIGSClassifier, {"max_iter": 20}),
]


def fitted(cls, kwargs, frame):
    X, y = frame
    target = y if cls in (TreeRegressor, FIGSRegressor) else y > np.median(y)
    return cls(**kwargs).fit(X, target)


def raw_output(model, X):
    return model.decision_function(X) if hasattr(model, "classes_") else model.predict(X)


@pytest.mark.parametrize("cls, kwargs", MODELS, ids=lambda v: getattr(v, "__name__", ""))
def test_paths_add_up_to_the_raw_output(cls, kwargs, frame):
    X = frame[0]
    model = fitted(cls, kwargs, frame)
    raw = raw_output(model, X)
    for r in range(0, len(X), 25):
        view = explain(model, "tree_local", X, row=r)
        assert view.data["contribution"].sum() + view.base == pytest.approx(raw[r], abs=1e-9)
        # scikit-learn's trees compare the value rounded to float32
        value = view.data["value"].to_numpy()
        if cls in (TreeRegressor, TreeClassifier):
            value = value.astype(np.float32)
        went_left = (view.data["direction"] == "<=").to_numpy()
        np.testing.assert_array_equal(went_left, value <= view.data["threshold"].to_numpy())


@pytest.mark.parametrize("cls", [TreeRegressor, TreeClassifier])
def test_the_path_is_scikit_learns_decision_path(cls, frame):
    X = frame[0]
    model = fitted(cls, {}, frame)
    inner = model.estimator_
    paths = inner.decision_path(X.to_numpy()).toarray()
    nodes = explain(model, "tree_global", X).data["nodes"]
    # rows per node over X: the decision path's column sums, and the training counts
    np.testing.assert_array_equal(nodes["rows"], paths.sum(axis=0))
    np.testing.assert_array_equal(nodes["rows"], inner.tree_.n_node_samples)
    for r in (0, 17, 99):
        view = explain(model, "tree_local", X, row=r)
        visited = np.flatnonzero(paths[r])
        assert len(view.data) == len(visited) - 1
        assert list(view.data["feature"]) == [
            X.columns[inner.tree_.feature[k]] for k in visited[:-1]
        ]
        np.testing.assert_allclose(view.data["rows"], inner.tree_.n_node_samples[visited[1:]])
        if cls is TreeClassifier:
            np.testing.assert_allclose(
                view.data["probability"].iloc[-1], model.predict_proba(X.iloc[[r]])[0, 1]
            )


@pytest.mark.parametrize("cls, kwargs", MODELS, ids=lambda v: getattr(v, "__name__", ""))
def test_node_counts_and_importance_equal_a_walk(cls, kwargs, frame):
    X = frame[0]
    model = fitted(cls, kwargs, frame)
    view = explain(model, "tree_global", X)
    nodes, importance = view.data["nodes"], view.data["importance"]
    if hasattr(model, "trees_"):
        trees = model.trees_
        outputs = [t["value"] for t in trees]
        single = False
    else:
        t = model.tree_
        trees = [
            {
                "feature": t.feature,
                "threshold": t.threshold,
                "left": t.children_left,
                "right": t.children_right,
            }
        ]
        p = (
            np.clip(t.value[:, 0, 1] / t.value[:, 0].sum(axis=1), 1e-12, 1 - 1e-12)
            if (cls is TreeClassifier)
            else None
        )
        outputs = [np.log(p / (1 - p)) if p is not None else t.value[:, 0, 0]]
        single = True
    total = np.zeros(X.shape)
    counts = []
    for tree, output in zip(trees, outputs):
        _, contributions, count = tree_walk(
            tree["feature"],
            tree["threshold"],
            tree["left"],
            tree["right"],
            output,
            X.to_numpy(),
            single_precision=single,
        )
        total += contributions
        counts.append(count)
    np.testing.assert_array_equal(nodes["rows"], np.concatenate(counts))
    np.testing.assert_allclose(
        importance.loc[list(X.columns), "importance"], np.abs(total).mean(axis=0), atol=1e-12
    )


@pytest.mark.parametrize("cls", [FIGSRegressor, FIGSClassifier])
def test_figs_heatmap_holds_every_trees_part_of_every_row(cls, frame):
    X = frame[0]
    model = fitted(cls, {"max_iter": 20}, frame)
    view = explain(model, "figs_heatmap", X)
    parts, trees = view.data["contributions"], view.data["trees"]
    assert parts.shape == (len(X), len(model.trees_))
    np.testing.assert_allclose(parts.sum(axis=1) + view.base, raw_output(model, X), atol=1e-12)
    np.testing.assert_allclose(trees["importance"], parts.abs().mean(axis=0).to_numpy())
    assert trees["splits"].sum() == model.n_splits_


@pytest.mark.parametrize("cls, kwargs", MODELS, ids=lambda v: getattr(v, "__name__", ""))
def test_figures_have_labelled_axes(cls, kwargs, frame):
    X = frame[0]
    model = fitted(cls, kwargs, frame)
    from zeka.interpret import supported

    for view in supported(model):
        figure = explain(model, view, X, row=3 if view == "tree_local" else None).figure()
        axes = [ax for ax in figure.axes if ax.get_visible() and ax.axison]
        for ax in axes:
            if ax.get_label() == "<colorbar>":
                continue
            assert ax.get_xlabel(), view
