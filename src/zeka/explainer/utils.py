"""Drawing helpers for SHAP explanations."""

import matplotlib.pyplot as plt
import shap


def scatter_(values, color=None, show=False):
    """Dependence scatter of one explanation column.

    ``values`` is one column of a ``shap.Explanation`` (``explanation[:, f]``):
    its feature values go on the horizontal axis and its SHAP values on the
    vertical one. ``color``, another column, colours the points by that
    feature's values. The plot is drawn on a new figure, which is returned;
    it is shown only when ``show`` is true.
    """
    fig = plt.figure()
    ax = fig.gca()
    if color is None:
        shap.plots.scatter(values, ax=ax, show=False)
    else:
        shap.plots.scatter(values, color=color, ax=ax, show=False)
    if show:
        plt.show()
    return fig
