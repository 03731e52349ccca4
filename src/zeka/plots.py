"""Plot helpers shared by the explainers."""

import numpy as np


def _feature_position(feature, scaler):
    """Column position of ``feature`` (a name or a position) in the scaler's input."""
    if isinstance(feature, list):
        feature = feature[0]
    if isinstance(feature, (int, np.integer)) and not isinstance(feature, bool):
        position = int(feature)
        if not -scaler.n_features_in_ <= position < scaler.n_features_in_:
            raise IndexError(
                f"feature position {position} is out of range for a scaler fitted on "
                f"{scaler.n_features_in_} features")
        return position % scaler.n_features_in_
    names = getattr(scaler, "feature_names_in_", None)
    if names is not None:
        matches = np.flatnonzero(np.asarray(names) == feature)
        if matches.size:
            return int(matches[0])
        raise ValueError(f"feature {feature!r} is not among the scaler's features")
    if scaler.n_features_in_ == 1:
        return 0
    raise ValueError(
        f"cannot place feature {feature!r}: the scaler was fitted without feature names; "
        "give the feature's position instead")


def scale_plot_ticks(ax, feature, scaler, axis=0):
    """Relabel the ticks of one axis of ``ax`` in the feature's original units.

    The axis shows the feature as the model saw it, after the fitted
    scikit-learn ``scaler``; each tick keeps its place and is labelled with the
    value that ``scaler.inverse_transform`` maps it back to. ``feature`` is a
    name (looked up in the scaler's ``feature_names_in_``) or a column
    position; of a list of features the first is used. ``axis`` is 0 for the
    horizontal axis and 1 for the vertical one. Returns ``ax``.
    """
    if axis not in (0, 1):
        raise ValueError(f"axis must be 0 (horizontal) or 1 (vertical), not {axis!r}")
    position = _feature_position(feature, scaler)
    get_lim, set_lim, get_ticks, set_ticks, set_labels = (
        (ax.get_xlim, ax.set_xlim, ax.get_xticks, ax.set_xticks, ax.set_xticklabels)
        if axis == 0 else
        (ax.get_ylim, ax.set_ylim, ax.get_yticks, ax.set_yticks, ax.set_yticklabels))
    low, high = sorted(get_lim())
    ticks = np.asarray(get_ticks(), dtype=float)
    ticks = ticks[(ticks >= low) & (ticks <= high)]
    # Only the feature's own column matters to a per-column scaler; the
    # others are filled with zeros.
    grid = np.zeros((ticks.size, scaler.n_features_in_))
    grid[:, position] = ticks
    original = scaler.inverse_transform(grid)[:, position]
    limits = get_lim()
    set_ticks(ticks)
    set_labels([f"{value:.4g}" for value in original])
    set_lim(limits)
    return ax
