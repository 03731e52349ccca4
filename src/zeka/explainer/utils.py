"""Drawing helpers for SHAP explanations."""

import matplotlib.pyplot as plt
import numpy as np
from shap.plots import colors


def _name(column, fallback):
    name = column.feature_names
    return fallback if name is None else str(name)


def scatter_(values, color=None, show=False):
    """Dependence scatter of one explanation column.

    ``values`` is one column of a ``shap.Explanation`` (``explanation[:, f]``):
    its feature values go on the horizontal axis and its SHAP values on the
    vertical one. ``color``, another column, colours each point by that
    feature's value, with a colour bar. The plot is drawn on a new figure,
    which is returned; it is shown only when ``show`` is true.
    """
    name = _name(values, "feature")
    fig, ax = plt.subplots()
    ax.axhline(0, color="#888888", lw=0.5, dashes=(1, 5), zorder=-1)
    if color is None:
        ax.scatter(values.data, values.values, s=16, linewidth=0, color=colors.blue_rgb)
    else:
        points = ax.scatter(
            values.data,
            values.values,
            s=16,
            linewidth=0,
            c=np.asarray(color.data, dtype=float),
            cmap=colors.red_blue,
        )
        bar = fig.colorbar(points, ax=ax, aspect=50)
        bar.set_label(_name(color, "colour feature"), size=12)
        bar.outline.set_visible(False)
    ax.set_xlabel(name, fontsize=12)
    ax.set_ylabel(f"SHAP value for\n{name}", fontsize=12)
    for side in ("top", "right"):
        ax.spines[side].set_visible(False)
    if show:
        plt.show()
    return fig
