"""The interpretation interface: checks what is asked, then hands it to the family's view."""

import importlib
import numbers

import numpy as np
import pandas as pd
from sklearn.exceptions import NotFittedError

# Views that explain one row and need ``row``.
LOCAL_VIEWS = ("local_fi", "local_ei", "tree_local")

# The panels of INTERPRET_PANEL_SETTING, as groups of views; a family's panel shows the
# views of the group that its family supports.
PANEL_GROUPS = {
    "ei": ("global_fi", "global_ei", "global_effect_plot"),
    "inter": ("global_ei",),
    "local_ei": ("local_ei", "local_fi"),
    "llm": ("llm_pc", "llm_violin", "llm_summary"),
}

# Modules that register views; imported when the first view is asked for.
_VIEW_MODULES = ("._linear", "._trees", "._woe", "._additive", "._reludnn")
_VIEWS = {}
# the keyword options (beyond X, y, row) each registered view function takes
_OPTIONS = {}
_loaded = False


class InapplicableView(ValueError):
    """The family lists the view, but it has no meaning for this estimator (for example
    the weight of evidence of a regressor, which has no classes to weigh)."""


class Interpretation:
    """One computed view: its key, its tables and a way to draw them.

    The tables are computed when the view is made and do not follow later changes of
    the estimator; ``figure()`` draws a new Figure from them each time it is called.
    """

    def __init__(self, view, data, draw, base=None, note=None):
        self.view = view
        self.data = data
        self.base = base
        # a sentence on how to read the view (what its standard errors mean, what a
        # bin holds), or None
        self.note = note
        self._draw = draw

    def figure(self):
        from matplotlib.figure import Figure

        figure = Figure(layout="constrained")
        self._draw(figure, self)
        return figure

    def __repr__(self):
        if isinstance(self.data, dict):
            shape = "tables " + ", ".join(map(repr, self.data))
        else:
            shape = "%d rows" % len(self.data)
        return "Interpretation(view=%r, %s)" % (self.view, shape)


def register(view, *families, options=()):
    """Decorator: ``function(estimator, X, y, row)`` computes ``view`` for ``families``.

    ``X`` arrives as a fresh DataFrame with the training features' names, in the
    training order, every value finite; ``y`` as a new 1-d array or None; ``row`` as a
    Series over the same names, or None for a global view. ``options`` names the
    keyword arguments of ``explain`` beyond those (such as "sample_weight") that the
    function also takes, as keywords, when the caller gives them.
    """

    def add(function):
        for family in families:
            _VIEWS[(family, view)] = function
            _OPTIONS[(family, view)] = tuple(options)
        return function

    return add


def supported(estimator):
    """The view keys of ``estimator``'s family, in the order the table lists them."""
    from zeka.config import estimator_settings
    from zeka.models import get_model_name

    family = get_model_name(estimator)
    if family == "arbitrary":
        raise TypeError(
            "only the catalogue's estimators explain themselves; %s is none of the "
            "families %s" % (type(estimator).__name__, ", ".join(_catalogue_keys()))
        )
    return list(estimator_settings.INTERPRET_SUPPORT.get(family, []))


def panel_groups(estimator):
    """Each panel of the family's INTERPRET_PANEL_SETTING entry, with its views."""
    from zeka.config import estimator_settings
    from zeka.models import get_model_name

    views = supported(estimator)
    panels = estimator_settings.INTERPRET_PANEL_SETTING.get(get_model_name(estimator), [])
    return {
        panel: [view for view in PANEL_GROUPS.get(panel, ()) if view in views] for panel in panels
    }


def global_view(estimator):
    """The family's "global_fi", else its first view that explains the whole model."""
    views = supported(estimator)
    if "global_fi" in views:
        return "global_fi"
    for view in views:
        if view not in LOCAL_VIEWS:
            return view
    return None


class Units:
    """How the features the model was fitted on map to the features' own units:
    ``original = model value * scale + mean`` per feature (a fitted standardisation)."""

    def __init__(self, mean, scale):
        self.mean = np.asarray(mean, dtype=float)
        self.scale = np.asarray(scale, dtype=float)

    def values(self, values, j=None):
        """Model values (of feature ``j``, or a rows x features matrix) in original units."""
        if j is None:
            return np.asarray(values, dtype=float) * self.scale + self.mean
        return np.asarray(values, dtype=float) * self.scale[j] + self.mean[j]


def _units(units, n_features):
    if units is None:
        return None
    try:
        mean = np.array(units.mean_, dtype=float, copy=True).ravel()
        scale = np.array(units.scale_, dtype=float, copy=True).ravel()
    except AttributeError:
        raise TypeError(
            "units must have the arrays mean_ and scale_ (a fitted standardisation, "
            "original = value * scale_ + mean_), got %s" % type(units).__name__
        ) from None
    if mean.shape != (n_features,) or scale.shape != (n_features,):
        raise ValueError(
            "units must give mean_ and scale_ for each of the %d features" % n_features
        )
    if not (np.all(np.isfinite(mean)) and np.all(np.isfinite(scale)) and np.all(scale > 0)):
        raise ValueError("units' mean_ must be finite and its scale_ finite and positive")
    return Units(mean, scale)


def view_options(estimator, view):
    """The keyword options of ``explain`` (beyond X, y and row) that ``view`` takes."""
    from zeka.models import get_model_name

    family = get_model_name(estimator)
    _view_function(family, view)
    return _OPTIONS.get((family, view), ())


def explain(estimator, view, X, *, y=None, row=None, sample_weight=None, units=None):
    """Compute ``view`` of the fitted ``estimator`` over ``X``; ``row`` for a local view.

    ``X`` is a frame with the training features' columns (in any order; they are read
    by name) or a matrix of them in the training order. ``row`` is a position in ``X``
    or the row itself (a Series, a one-row frame or a sequence of the training
    features' values). ``y`` (the target of ``X``'s rows) is needed by the views that
    weigh the data against the target ("glm_coef_table" of a regressor, "xgb1_woe",
    "xgb1_iv"); ``sample_weight``, the training weights of ``X``'s rows, by the views
    that take them. ``units`` (an object with arrays ``mean_`` and ``scale_``, such as
    a fitted StandardScaler over all features) says that the model was fitted on
    standardised features: the views that take it ("units" in ``view_options``) show
    feature values, cut points and coefficients in the features' own units,
    ``value * scale_ + mean_``. Nothing passed in is modified.
    """
    from zeka.models import get_model_name

    views = supported(estimator)
    if not isinstance(view, str):
        raise TypeError(
            "the view must be a string, got %r; %s supports %s"
            % (view, type(estimator).__name__, _listed(views))
        )
    if view not in views:
        raise ValueError(
            "%s does not support the view %r; it supports %s"
            % (type(estimator).__name__, view, _listed(views))
        )
    if getattr(estimator, "n_features_in_", None) is None:
        raise NotFittedError(
            "this %s is not fitted yet; fit it before asking for its views"
            % type(estimator).__name__
        )
    names = feature_names(estimator, X)
    X = _frame(X, names, "X")
    _require_finite(X, "X")
    if y is not None:
        y = np.array(y, copy=True)
        if y.ndim != 1 or len(y) != len(X):
            raise ValueError(
                "y must have one value per row of X (%d), got shape %s" % (len(X), y.shape)
            )
    extra = {}
    if sample_weight is not None:
        weights = np.array(sample_weight, dtype=float, copy=True)
        if weights.shape != (len(X),):
            raise ValueError(
                "sample_weight must have one value per row of X (%d), got shape %s"
                % (len(X), weights.shape)
            )
        if not np.all(np.isfinite(weights)) or np.any(weights < 0) or weights.sum() <= 0:
            raise ValueError("sample_weight must be finite, non-negative and not all zero")
        extra["sample_weight"] = weights
    if units is not None:
        extra["units"] = _units(units, len(names))
    if view in LOCAL_VIEWS:
        if row is None:
            raise ValueError(
                "the view %r explains one row: pass row= (a position in X or the row itself)" % view
            )
        row = _row(row, X, names)
        _require_finite(row.to_frame().T, "row")
    elif row is not None:
        raise ValueError("the view %r explains the whole model and takes no row" % view)
    family = get_model_name(estimator)
    function = _view_function(family, view)
    taken = _OPTIONS.get((family, view), ())
    unused = sorted(set(extra) - set(taken))
    if unused:
        raise ValueError(
            "the view %r does not take %s (it takes %s)"
            % (view, ", ".join(unused), ", ".join(taken) or "neither")
        )
    return function(estimator, X, y, row, **extra)


def feature_names(estimator, X=None):
    """The training features' names: the names the estimator was fitted with (or given
    as ``feature_names``). An estimator fitted on a bare matrix knows no names: then a
    frame ``X`` of as many columns lends its own, and "X0", "X1", ... stand otherwise."""
    names = getattr(estimator, "feature_names_in_", None)
    if names is None:
        names = getattr(estimator, "feature_names", None)
        if names is not None and len(names) != estimator.n_features_in_:
            names = None
    if names is None:
        columns = getattr(X, "columns", None)
        if columns is not None and len(columns) == estimator.n_features_in_:
            labels = [str(c) for c in columns]
            if len(set(labels)) == len(labels):
                return labels
        return ["X%d" % j for j in range(estimator.n_features_in_)]
    return [str(name) for name in names]


def _frame(X, names, what):
    """``X`` as a new DataFrame with columns ``names``, refusing other columns."""
    if isinstance(X, pd.DataFrame):
        columns = [str(c) for c in X.columns]
        if columns != names:
            if sorted(columns) != sorted(names) or len(set(columns)) != len(columns):
                missing = [n for n in names if n not in columns]
                extra = [c for c in columns if c not in names]
                raise ValueError(
                    "%s must have the training features' columns; missing %s, unknown %s"
                    % (what, missing or "none", extra or "none")
                )
        positions = [columns.index(name) for name in names]
        for k, position in enumerate(positions):
            dtype = X.dtypes.iloc[position]
            if not (pd.api.types.is_numeric_dtype(dtype) or pd.api.types.is_bool_dtype(dtype)):
                try:
                    X.iloc[:, position].to_numpy(dtype=float)
                except (TypeError, ValueError):
                    raise ValueError(
                        "%s's column %r is not numeric (%s); the model was fitted on numbers"
                        % (what, names[k], dtype)
                    ) from None
        # one C-ordered float block: the views and the kernels read rows without a copy
        values = X.to_numpy(dtype=float)
        if positions != list(range(len(positions))):
            values = values[:, positions]
        values = np.array(values, dtype=float, order="C", copy=True)
        frame = pd.DataFrame(values, columns=names, index=X.index.copy(), copy=False)
    else:
        values = np.array(X, dtype=float, copy=True, order="C")
        if values.ndim != 2 or values.shape[1] != len(names):
            raise ValueError(
                "%s must have %d columns (%s), got shape %s"
                % (what, len(names), ", ".join(names), values.shape)
            )
        frame = pd.DataFrame(values, columns=names, copy=False)
    if len(frame) == 0:
        raise ValueError("%s has no rows" % what)
    return frame


def _require_finite(frame, what):
    """The catalogue's models refuse missing and infinite values; so do their views."""
    values = frame.to_numpy()
    if np.isfinite(values).all():
        return
    bad = ~np.isfinite(values)
    if bad.any():
        columns = [frame.columns[j] for j in np.flatnonzero(bad.any(axis=0))]
        raise ValueError(
            "%s holds %d missing or infinite value(s), in %s; the model refuses them, "
            "so fill or drop them first" % (what, int(bad.sum()), ", ".join(map(str, columns)))
        )


def _row(row, X, names):
    """The row to explain as a Series over ``names``."""
    if isinstance(row, numbers.Integral) and not isinstance(row, bool):
        if not -len(X) <= row < len(X):
            raise IndexError("row %d is outside X, which has %d rows" % (row, len(X)))
        return X.iloc[int(row)].copy()
    if isinstance(row, pd.DataFrame):
        if len(row) != 1:
            raise ValueError("row must be one row, got a frame of %d rows" % len(row))
        return _frame(row, names, "row").iloc[0]
    if isinstance(row, pd.Series):
        return _frame(row.to_frame().T, names, "row").iloc[0]
    if isinstance(row, bool) or isinstance(row, (numbers.Real, str)):
        raise TypeError(
            "row must be a position in X (an integer) or the row itself, got %r" % (row,)
        )
    values = np.array(row, dtype=float, copy=True).ravel()
    if len(values) != len(names):
        raise ValueError(
            "row must have one value per feature (%d), got %d" % (len(names), len(values))
        )
    return pd.Series(values, index=names)


def _view_function(family, view):
    global _loaded
    if not _loaded:
        for module in _VIEW_MODULES:
            importlib.import_module(module, __package__)
        _loaded = True
    try:
        return _VIEWS[(family, view)]
    except KeyError:
        raise NotImplementedError(
            "the view %r of the family %r is not available in this build" % (view, family)
        ) from None


def _listed(views):
    return ", ".join('"%s"' % v for v in views) if views else "no views"


def _catalogue_keys():
    from zeka.models import FAMILY_KEYS

    return FAMILY_KEYS


# Tables and drawings several families share.


def importance_frame(names, contributions, weights=None):
    """Feature importance from every row's contributions (rows x features): the
    (weighted) mean absolute contribution of each feature, and its share of their sum;
    one row per feature, the most important first."""
    contributions = np.asarray(contributions, dtype=float)
    importance = np.average(np.abs(contributions), axis=0, weights=weights)
    total = importance.sum()
    share = importance / total if total > 0 else np.zeros_like(importance)
    frame = pd.DataFrame({"importance": importance, "share": share}, index=list(names))
    frame.index.name = "feature"
    return frame.sort_values("importance", ascending=False, kind="stable")


def contribution_frame(row, contributions, units=None):
    """One row's contributions: the feature's value (in original units) and its
    contribution, per feature."""
    value = row.to_numpy(dtype=float)
    if units is not None:
        value = units.values(value)
    frame = pd.DataFrame(
        {"value": value, "contribution": np.asarray(contributions, float)},
        index=list(row.index),
    )
    frame.index.name = "feature"
    return frame


MAX_BARS = 20  # features drawn in a bar chart; the table holds them all


def draw_importance(figure, interpretation, xlabel, title):
    """Horizontal bars of the "importance" column, the largest on top."""
    frame = interpretation.data.head(MAX_BARS)
    figure.set_size_inches(7, 0.32 * len(frame) + 1.4)
    ax = figure.subplots()
    y = np.arange(len(frame))[::-1]
    ax.barh(y, frame["importance"].to_numpy(), color="#2f5d9a")
    ax.set_yticks(y)
    ax.set_yticklabels([str(name) for name in frame.index], fontsize=8)
    ax.set_xlabel(xlabel)
    shown = len(frame) < len(interpretation.data)
    ax.set_title(
        title + (" (top %d of %d)" % (len(frame), len(interpretation.data)) if shown else ""),
        fontsize=10,
    )
    ax.grid(axis="x", alpha=0.3)


def draw_contributions(figure, interpretation, xlabel, title):
    """Horizontal bars of one row's "contribution" column, the largest in size on top,
    each labelled "feature = value"."""
    frame = interpretation.data
    order = np.argsort(-np.abs(frame["contribution"].to_numpy()), kind="stable")[:MAX_BARS]
    shown = frame.iloc[order]
    figure.set_size_inches(7, 0.32 * len(shown) + 1.6)
    ax = figure.subplots()
    y = np.arange(len(shown))[::-1]
    values = shown["contribution"].to_numpy()
    ax.barh(y, values, color=np.where(values >= 0, "#c0392b", "#2f5d9a"))
    labels = []
    for name, value in zip(shown.index, shown["value"]):
        labels.append("%s = %s" % (name, format_number(value)))
    ax.set_yticks(y)
    ax.set_yticklabels(labels, fontsize=8)
    ax.axvline(0.0, color="black", linewidth=0.8)
    ax.set_xlabel(xlabel)
    total = float(frame["contribution"].sum()) + float(interpretation.base)
    ax.set_title(
        "%s\nbase %s + contributions %s = %s"
        % (
            title,
            format_number(interpretation.base),
            format_number(float(frame["contribution"].sum())),
            format_number(total),
        ),
        fontsize=10,
    )
    ax.grid(axis="x", alpha=0.3)


def format_number(value):
    """A number as a reader wants it on a label: four significant digits."""
    value = float(value)
    if value == 0 or 1e-3 <= abs(value) < 1e5:
        return "%.4g" % value
    return "%.3e" % value


def output_label(estimator):
    """What the raw output is, for axis labels."""
    from sklearn.base import is_classifier

    if is_classifier(estimator):
        return "log-odds of %s" % (estimator.classes_[1],)
    return "prediction"
