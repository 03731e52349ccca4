"""The model's own views: how each fitted catalogue estimator explains itself.

``supported(estimator)`` lists the view keys of the estimator's family, read from
``INTERPRET_SUPPORT`` each time it is called. ``explain(estimator, view, X, y=None,
row=None)`` computes one view over ``X`` (the training rows for a global view) and
returns an ``Interpretation``: ``.view``, ``.data`` (a DataFrame, or a dict of DataFrames
for a view with several tables, labelled with the training features' names),
``.figure()`` (a new matplotlib Figure drawn from ``.data``, never shown) and, for the
local views "local_fi" and "local_ei", ``.base``: the intercept, so that
``data["contribution"].sum() + base`` is the model's raw output for that row
(``decision_function`` for a classifier, ``predict`` for a regressor).

"tree_local" has ``.base`` too (the root's output, for a sum of trees the intercept),
with one row per split. ``explain`` also takes ``sample_weight`` (the training weights
of ``X``'s rows) and ``units`` (a fitted standardisation, to show values in the
features' own units) for the views that list them in ``view_options``. A view the
family lists but that has no meaning for the estimator (the weight of evidence of a
regressor) raises ``InapplicableView``, a ``ValueError``.

``panel_groups(estimator)`` maps each panel of the family's ``INTERPRET_PANEL_SETTING``
entry to the views it shows; ``global_view(estimator)`` is "global_fi" or the family's
first other view of the whole model.
"""

from ._core import (
    LOCAL_VIEWS,
    PANEL_GROUPS,
    InapplicableView,
    Interpretation,
    explain,
    global_view,
    panel_groups,
    supported,
    view_options,
)

__all__ = [
    "InapplicableView",
    "Interpretation",
    "LOCAL_VIEWS",
    "PANEL_GROUPS",
    "explain",
    "global_view",
    "panel_groups",
    "supported",
    "view_options",
]
