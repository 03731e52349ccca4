"""Cell formats and styles shared by the report's tables."""

import numpy as np

# The row a table singles out (the best model of the leaderboard).
HIGHLIGHT = "font-weight: bold; background: #e8eef8"


def plain_number(value):
    """Whole numbers without decimals, others with up to four significant decimals."""
    if isinstance(value, (int, np.integer)):
        return str(value)
    if isinstance(value, (float, np.floating)):
        if np.isnan(value):
            return "missing"
        if float(value).is_integer():
            return "{:.0f}".format(value)
        return "{:.4g}".format(value)
    return str(value)


def highlight_row(label):
    """A row style for Styler.apply(axis=1): the row named `label` stands out."""

    def style(row):
        return [HIGHLIGHT if row.name == label else "" for _ in row]

    return style
