"""The notebook panel: ``zeka.panel(data, target=None, task=None)`` in a cell.

``data`` is a built-in dataset's name or a DataFrame with a target column. The
result, a :class:`Panel`, displays itself: tabs for the data, the preparation,
outliers and feature scores, the models' parameter widgets (built from the
parameter tables), training and the leaderboard, interpretation and export.
Everything the buttons do is a method of the Panel too.

This package needs ipywidgets (``pip install zeka[panel]``); the rest of zeka
does not import it.
"""

import sys
import types

from zeka.panel.panel import Panel, open_panel
from zeka.panel.source import PanelInputError

__all__ = ["Panel", "PanelInputError", "open_panel"]


class _CallableModule(types.ModuleType):
    """``zeka.panel`` is this package and, called, opens a panel."""

    def __call__(self, data, target=None, task=None):
        return open_panel(data, target=target, task=task)


sys.modules[__name__].__class__ = _CallableModule
