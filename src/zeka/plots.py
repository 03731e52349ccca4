"""Plot helpers shared by the explainers."""

import numpy as np
from matplotlib.ticker import MaxNLocator


def _feature_position(feature, scaler):
    """Column position of ``feature`` (a name or a position) in the scaler's input."""
    if isinstance(feature, list):
        feature = feature[0]
    count = scaler.n_features_in_
    if isinstance(feature, (int, np.integer)) and not isinstance(feature, bool):
        if not -count <= feature < count:
            raise IndexError(
                f"feature position {feature} is out of range for a scaler "
                f"fitted on {count} features"
            )
        return int(feature) % count
    names = getattr(scaler, "feature_names_in_", None)
    if names is not None:
        matches = np.flatnonzero(np.asarray(names) == feature)
        if matches.size:
            return int(matches[0])
        raise ValueError(f"feature {feature!r} is not among the scaler's features")
    if count == 1:
        return 0
    raise ValueError(
        f"cannot place feature {feature!r}: the scaler was fitted without "
        "feature names; give the feature's position instead"
    )


def _column_map(scaler, position, method, values):
    """``scaler.<method>`` applied to ``values`` as the feature's column."""
    grid = np.zeros((len(values), scaler.n_features_in_))
    grid[:, position] = values
    names = getattr(scaler, "feature_names_in_", None)
    if names is not None and method == "transform":
        import pandas as pd  # a scaler fitted on a frame expects its column names

        grid = pd.DataFrame(grid, columns=names)
    return np.asarray(getattr(scaler, method)(grid))[:, position]


def scale_plot_ticks(ax, feature, scaler, axis=0):
    """Label one axis of ``ax`` in the feature's original units.

    The axis shows the feature as the model saw it, after the fitted
    scikit-learn ``scaler`` (a per-column, increasing transformation such as
    ``StandardScaler`` or ``MinMaxScaler``). Round values in original units
    are placed where the scaler maps them and labelled with those values; the
    axis limits stay. ``feature`` is a name (looked up in the scaler's
    ``feature_names_in_``) or a column position; of a list of features the
    first is used. ``axis`` is 0 for the horizontal axis and 1 for the
    vertical one. Returns ``ax``.
    """
    if axis not in (0, 1):
        raise ValueError(f"axis must be 0 (horizontal) or 1 (vertical), not {axis!r}")
    position = _feature_position(feature, scaler)
    get_lim, set_lim, set_ticks, set_labels = (
        (ax.get_xlim, ax.set_xlim, ax.set_xticks, ax.set_xticklabels)
        if axis == 0
        else (ax.get_ylim, ax.set_ylim, ax.set_yticks, ax.set_yticklabels)
    )
    limits = get_lim()
    low, high = np.sort(_column_map(scaler, position, "inverse_transform", limits))
    original = MaxNLocator(nbins=6).tick_values(low, high)
    original = original[(original >= low) & (original <= high)]
    ticks = _column_map(scaler, position, "transform", original)
    set_ticks(ticks)
    set_labels([f"{value:g}" for value in original])
    set_lim(limits)
    return ax
