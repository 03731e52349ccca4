"""The interpretation interface: what it refuses, what it accepts, what it leaves alone."""

import pickle

import numpy as np
import pandas as pd
import pytest
from sklearn.exceptions import NotFittedError
from sklearn.linear_model import LinearRegression

from zeka.config import estimator_settings
from zeka.interpret import LOCAL_VIEWS, explain, panel_groups, supported
from zeka.interpret._core import global_view
from zeka.models import (
    ZEKACLASSIFIER,
    ZEKAREGRESSOR,
    FIGSClassifier,
    FIGSRegressor,
    GLMRegressor,
    TreeClassifier,
    TreeRegressor,
)


@pytest.fixture(scope="module")
def frame():
    rng = np.random.default_rng(0)
    X = pd.DataFrame(rng.normal(size=(150, 4)), columns=["a", "b", "c", "d"])
    y = X["a"] - 2 * X["b"] + rng.normal(size=150)
    return X, y.to_numpy()


@pytest.fixture(scope="module")
def models(frame):
    X, y = frame
    return {
        "glm": GLMRegressor().fit(X, y),
        "tree": TreeRegressor().fit(X, y),
        "figs": FIGSRegressor(max_iter=15).fit(X, y),
        "tree_clf": TreeClassifier().fit(X, y > 0),
        "figs_clf": FIGSClassifier(max_iter=15).fit(X, y > 0),
    }


def every_view(models):
    return [(key, view) for key, model in models.items() for view in supported(model)]


@pytest.mark.parametrize("family", list(estimator_settings.INTERPRET_SUPPORT))
def test_supported_reads_the_table(family, monkeypatch):
    for catalogue in (ZEKAREGRESSOR, ZEKACLASSIFIER):
        model = catalogue[family]()
        assert supported(model) == estimator_settings.INTERPRET_SUPPORT[family]
        groups = panel_groups(model)
        assert list(groups) == estimator_settings.INTERPRET_PANEL_SETTING[family]
        assert all(set(views) <= set(supported(model)) for views in groups.values())
    monkeypatch.setitem(estimator_settings.INTERPRET_SUPPORT, family, ["global_fi"])
    assert supported(ZEKAREGRESSOR[family]()) == ["global_fi"]


def test_global_view_is_global_fi_or_the_first_global_one():
    assert global_view(GLMRegressor()) == "global_fi"
    assert global_view(TreeRegressor()) == "tree_global"
    assert global_view(FIGSRegressor()) == "figs_heatmap"


@pytest.mark.parametrize("view", [3, None, ["global_fi"], b"global_fi"])
def test_a_view_that_is_not_a_string(models, frame, view):
    with pytest.raises(TypeError, match='"global_fi", "local_fi"'):
        explain(models["glm"], view, frame[0])


def test_a_view_the_family_does_not_list(models, frame):
    with pytest.raises(ValueError, match='supports "tree_global", "tree_local"'):
        explain(models["tree"], "global_fi", frame[0])


def test_an_estimator_outside_the_catalogue(frame):
    with pytest.raises(TypeError, match="only the catalogue"):
        supported(LinearRegression().fit(*frame))


@pytest.mark.parametrize("family", ["glm", "tree", "figs"])
def test_an_unfitted_model(frame, family):
    with pytest.raises(NotFittedError, match="not fitted"):
        explain(ZEKAREGRESSOR[family](), supported(ZEKAREGRESSOR[family]())[0], frame[0])


@pytest.mark.parametrize(
    "key, view", [("glm", "local_fi"), ("tree", "tree_local"), ("figs", "tree_local")]
)
def test_local_views_need_a_row_of_the_right_shape(models, frame, key, view):
    X = frame[0]
    with pytest.raises(ValueError, match="explains one row"):
        explain(models[key], view, X)
    with pytest.raises(ValueError, match="one value per feature"):
        explain(models[key], view, X, row=[1.0, 2.0, 3.0])
    with pytest.raises(IndexError, match="outside X"):
        explain(models[key], view, X, row=150)
    with pytest.raises(TypeError, match="position in X"):
        explain(models[key], view, X, row=1.5)
    with pytest.raises(ValueError, match="missing or infinite"):
        explain(models[key], view, X, row=[1.0, np.nan, 0.0, 0.0])
    # a position, the row as a Series, a one-row frame and a list give the same view
    by_position = explain(models[key], view, X, row=5)
    for row in (X.iloc[5], X.iloc[[5]], X.iloc[5].tolist(), X.iloc[5][::-1]):
        other = explain(models[key], view, X, row=row)
        pd.testing.assert_frame_equal(other.data, by_position.data)
        assert other.base == by_position.base


def test_a_global_view_takes_no_row(models, frame):
    with pytest.raises(ValueError, match="takes no row"):
        explain(models["glm"], "global_fi", frame[0], row=0)


def test_nan_and_text_in_X_are_refused(models, frame):
    X = frame[0].copy()
    X.iloc[3, 2] = np.nan
    with pytest.raises(ValueError, match="1 missing or infinite value.*in c"):
        explain(models["glm"], "global_fi", X)
    X = frame[0].astype({"b": object})
    X.iloc[0, 1] = "high"
    with pytest.raises(ValueError, match="column 'b' is not numeric"):
        explain(models["tree"], "tree_global", X)


def test_columns_are_read_by_name(models, frame):
    X, y = frame
    for key, view in every_view(models):
        row = 4 if view in LOCAL_VIEWS else None
        straight = explain(models[key], view, X, y=y, row=row)
        shuffled = explain(models[key], view, X[["c", "a", "d", "b"]], y=y, row=row)
        matrix = explain(models[key], view, X.to_numpy(), y=y, row=row)
        for other in (shuffled, matrix):
            if isinstance(straight.data, dict):
                for name in straight.data:
                    pd.testing.assert_frame_equal(straight.data[name], other.data[name])
            else:
                pd.testing.assert_frame_equal(straight.data, other.data, check_index_type=False)


def test_other_names_are_refused(models, frame):
    X = frame[0].rename(columns={"a": "A"})
    with pytest.raises(ValueError, match=r"missing \['a'\], unknown \['A'\]"):
        explain(models["glm"], "global_fi", X)
    with pytest.raises(ValueError, match="must have 4 columns"):
        explain(models["glm"], "global_fi", frame[0].to_numpy()[:, :3])


def test_an_unnamed_model_takes_the_frames_names(frame):
    X, y = frame
    model = TreeRegressor().fit(X.to_numpy(), y)
    nodes = explain(model, "tree_global", X).data["nodes"]
    assert set(nodes["feature"]) - {""} <= set(X.columns)
    nodes = explain(model, "tree_global", X.to_numpy()).data["nodes"]
    assert set(nodes["feature"]) - {""} <= {"X0", "X1", "X2", "X3"}


def test_nothing_passed_in_is_modified(models, frame):
    X, y = frame
    for key, view in every_view(models):
        model = models[key]
        before = (pickle.dumps(model), X.copy(), y.copy())
        row = X.iloc[7].copy()
        explain(model, view, X, y=y, row=row if view in LOCAL_VIEWS else None).figure()
        assert pickle.dumps(model) == before[0]
        pd.testing.assert_frame_equal(X, before[1])
        np.testing.assert_array_equal(y, before[2])
        pd.testing.assert_series_equal(row, X.iloc[7])


def test_a_view_outlives_a_refit(frame):
    X, y = frame
    model = TreeRegressor(max_depth=3).fit(X, y)
    view = explain(model, "tree_local", X, row=0)
    kept = view.data.copy()
    model.fit(X[["a", "b"]], -y)
    pd.testing.assert_frame_equal(view.data, kept)
    assert view.figure().axes
    with pytest.raises(ValueError, match="unknown"):
        explain(model, "tree_local", X, row=0)
    refreshed = explain(model, "tree_local", X[["a", "b"]], row=0)
    assert refreshed.data["contribution"].sum() + refreshed.base == pytest.approx(
        model.predict(X[["a", "b"]].iloc[[0]])[0]
    )


@pytest.mark.parametrize("key", ["glm", "tree", "figs"])
def test_models_of_one_row_and_of_constant_features(key):
    one = pd.DataFrame({"a": [1.0], "b": [2.0]})
    flat = pd.DataFrame({"a": np.ones(20), "b": np.full(20, 3.0)})
    for X, y in ((one, np.array([4.0])), (flat, np.arange(20.0))):
        model = ZEKAREGRESSOR[key]().fit(X, y)
        for view in supported(model):
            local = view in LOCAL_VIEWS
            result = explain(model, view, X, y=y, row=0 if local else None)
            assert result.figure() is not None
            if local:
                total = result.data["contribution"].sum() + result.base
                assert total == pytest.approx(model.predict(X.iloc[[0]])[0])


def test_sample_weight_only_where_a_view_takes_it(models, frame):
    X, y = frame
    with pytest.raises(ValueError, match="does not take sample_weight"):
        explain(models["tree"], "tree_global", X, sample_weight=np.ones(len(X)))
    with pytest.raises(ValueError, match="one value per row"):
        explain(models["glm"], "global_fi", X, sample_weight=np.ones(3))
    with pytest.raises(ValueError, match="y must have one value per row"):
        explain(models["glm"], "glm_coef_table", X, y=y[:5])


def test_units_are_checked_and_only_where_a_view_takes_them(models, frame):
    from sklearn.preprocessing import StandardScaler

    from zeka.interpret._core import view_options

    X, y = frame
    scaler = StandardScaler().fit(X)
    with pytest.raises(TypeError, match="mean_ and scale_"):
        explain(models["glm"], "global_fi", X, units=object())
    with pytest.raises(ValueError, match="each of the 4 features"):
        explain(models["glm"], "global_fi", X, units=StandardScaler().fit(X.iloc[:, :2]))
    assert "units" in view_options(models["tree"], "tree_local")
    view = explain(models["tree"], "tree_local", X, row=2, units=scaler)
    plain = explain(models["tree"], "tree_local", X, row=2)
    j = [list(X.columns).index(f) for f in plain.data["feature"]]
    np.testing.assert_allclose(
        view.data["threshold"], plain.data["threshold"] * scaler.scale_[j] + scaler.mean_[j]
    )
    np.testing.assert_array_equal(view.data["contribution"], plain.data["contribution"])


def has_x_label(ax):
    """A labelled x axis, its own or that of a panel sharing it (a curve over its density)."""
    if ax.get_label() == "<colorbar>":
        return True
    return any(other.get_xlabel() for other in ax.get_shared_x_axes().get_siblings(ax))


@pytest.mark.parametrize("task", ["regression", "classification"])
def test_every_figure_reads_with_twenty_features(task):
    from matplotlib.figure import Figure

    rng = np.random.default_rng(4)
    names = ["feature_%02d" % j for j in range(20)]
    X = pd.DataFrame(rng.normal(size=(400, 20)) * np.arange(1, 21), columns=names)
    y = X.iloc[:, 0] / 1 - X.iloc[:, 1] / 2 + X.iloc[:, 2] / 3 + rng.normal(size=400)
    if task == "classification":
        y = np.where(y > 0, "yes", "no")
    catalogue = ZEKAREGRESSOR if task == "regression" else ZEKACLASSIFIER
    for family in ("glm", "tree", "figs", "xgb1"):
        model = catalogue[family]().fit(X, y)
        for view in supported(model):
            try:
                result = explain(model, view, X, y=y, row=0 if view in LOCAL_VIEWS else None)
            except NotImplementedError:
                continue
            except ValueError as error:  # the refusal of a regressor's weight of evidence
                assert task == "regression" and view.startswith("xgb1_"), error
                continue
            figure = result.figure()
            assert isinstance(figure, Figure)
            width, height = figure.get_size_inches()
            assert 6 <= width <= 17 and 1.5 <= height <= 17, (family, view)
            labelled = [ax for ax in figure.axes if ax.get_visible() and ax.axison]
            if view not in ("glm_coef_table", "tree_global"):  # a table, a tree diagram
                assert labelled and all(map(has_x_label, labelled)), (family, view)
            # every feature the view names is a training feature
            ticks = {
                t.get_text().split(" = ")[0].split(" (")[0]
                for ax in labelled
                for t in ax.get_yticklabels()
            }
            if view in ("global_fi", "local_fi", "glm_coef_plot", "xgb1_iv"):
                assert ticks and ticks <= set(names), (family, view, ticks)
