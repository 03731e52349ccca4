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

``panel_groups(estimator)`` maps each panel of the family's ``INTERPRET_PANEL_SETTING``
entry to the views it shows.
"""

from ._core import (
    LOCAL_VIEWS,
    PANEL_GROUPS,
    Interpretation,
    explain,
    panel_groups,
    supported,
)

__all__ = [
    "Interpretation",
    "LOCAL_VIEWS",
    "PANEL_GROUPS",
    "explain",
    "panel_groups",
    "supported",
]
