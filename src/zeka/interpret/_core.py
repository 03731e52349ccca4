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
_loaded = False


class Interpretation:
    """One computed view: its key, its tables and a way to draw them.

    The tables are computed when the view is made and do not follow later changes of
    the estimator; ``figure()`` draws a new Figure from them each time it is called.
    """

    def __init__(self, view, data, draw, base=None):
        self.view = view
        self.data = data
        self.base = base
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


def register(view, *families):
    """Decorator: ``function(estimator, X, y, row)`` computes ``view`` for ``families``.

    ``X`` arrives as a fresh DataFrame with the training features' names, in the
    training order; ``row`` as a Series over the same names, or None for a global view.
    """

    def add(function):
        for family in families:
            _VIEWS[(family, view)] = function
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
        panel: [view for view in PANEL_GROUPS.get(panel, ()) if view in views]
        for panel in panels
    }


def explain(estimator, view, X, *, y=None, row=None):
    """Compute ``view`` of the fitted ``estimator`` over ``X``; ``row`` for a local view.

    ``row`` is a position in ``X`` or the row itself (a Series, a one-row frame or a
    sequence of the training features' values). Nothing passed in is modified.
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
    names = feature_names(estimator)
    X = _frame(X, names, "X")
    if y is not None:
        y = np.asarray(y)
        if y.ndim != 1 or len(y) != len(X):
            raise ValueError(
                "y must have one value per row of X (%d), got shape %s" % (len(X), y.shape)
            )
    if view in LOCAL_VIEWS:
        if row is None:
            raise ValueError("the view %r explains one row: pass row=" % view)
        row = _row(row, X, names)
    function = _view_function(get_model_name(estimator), view)
    return function(estimator, X, y, row)


def feature_names(estimator):
    """The training features' names: the names the estimator was given or fitted with."""
    names = getattr(estimator, "feature_names", None)
    if names is None:
        names = getattr(estimator, "feature_names_in_", None)
    if names is None:
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
        frame = pd.DataFrame(
            {name: X.iloc[:, columns.index(name)].to_numpy(copy=True) for name in names},
            index=X.index.copy(),
        )
    else:
        values = np.array(X, dtype=float, copy=True)
        if values.ndim != 2 or values.shape[1] != len(names):
            raise ValueError(
                "%s must have %d columns (%s), got shape %s"
                % (what, len(names), ", ".join(names), values.shape)
            )
        frame = pd.DataFrame(values, columns=names)
    if len(frame) == 0:
        raise ValueError("%s has no rows" % what)
    return frame


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
