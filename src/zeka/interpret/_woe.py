"""Weight of evidence and information value of the boosted stumps ("xgb1").

The bins of a feature are those of the model's own step function: its cut points are
the thresholds at which the model's output changes (steps of height zero left out), and
bin b holds the values in (cut[b-1], cut[b]]. Over the rows of ``X`` and their classes
``y``, with events the rows of the classifier's second class (``classes_[1]``, the class
whose log-odds the model gives) and non-events the others, as credit scoring computes it:

    WoE_b = ln(share of non-events in bin b / share of events in bin b)
    IV = sum over bins of (share of non-events - share of events) * WoE_b

so a positive WoE marks a bin where events are rarer than on average, and IV >= 0. A bin
without events or without non-events would have an infinite WoE; as is usual, half a row
is added to each of its two counts. IV reads by the customary scale: below 0.02 not
predictive, to 0.1 weak, to 0.3 medium, to 0.5 strong, above 0.5 suspiciously strong.
The model's own effect of each bin (its step function there, on the log-odds scale) is
listed beside the WoE: it runs against the WoE, whose sign convention is the opposite.

A regressor has no classes to weigh: both views refuse it (``InapplicableView``, a
``ValueError``); its bins and their effects are shown by "global_effect_plot".
"""

import numpy as np
import pandas as pd
from sklearn.base import is_classifier

from . import _view_kernels
from ._core import InapplicableView, Interpretation, format_number, register

STRENGTH = ((0.02, "not predictive"), (0.1, "weak"), (0.3, "medium"), (0.5, "strong"))
MAX_PANELS = 20  # features drawn in "xgb1_woe"; the table holds them all


def cut_points(estimator, n_features):
    """Each feature's sorted cut points and the model's step heights at them."""
    features = np.asarray(estimator.step_features_)
    thresholds = np.asarray(estimator.step_thresholds_, dtype=float)
    heights = np.asarray(estimator.step_heights_, dtype=float)
    cuts = []
    for j in range(n_features):
        mine = (features == j) & (heights != 0)
        order = np.argsort(thresholds[mine], kind="stable")
        t, h = thresholds[mine][order], heights[mine][order]
        unique, start = np.unique(t, return_index=True)
        cuts.append((unique, np.add.reduceat(h, start) if len(h) else h))
    return cuts


def _events(estimator, y):
    if not is_classifier(estimator):
        raise InapplicableView(
            "the weight of evidence and the information value compare the two classes "
            "of a classifier; %s is a regressor and has none. Its bins and their effects "
            'are in "global_effect_plot".' % type(estimator).__name__
        )
    if y is None:
        raise ValueError("the weight of evidence needs y, the classes of X's rows: pass y=")
    classes = estimator.classes_
    known = np.isin(y, classes)
    if not known.all():
        raise ValueError(
            "y holds %r, which is not one of the model's classes %s" % (y[~known][0], list(classes))
        )
    events = (y == classes[1]).astype(float)
    if events.min() == events.max():
        raise ValueError(
            "y holds only the class %r: the weight of evidence needs rows of both classes" % (y[0],)
        )
    return events


def woe_table(estimator, X, y, sample_weight=None, units=None):
    events = _events(estimator, y)
    names = list(X.columns)
    cuts = cut_points(estimator, len(names))
    flat = np.concatenate([c for c, _ in cuts]) if cuts else np.zeros(0)
    offsets = np.cumsum([0] + [len(c) for c, _ in cuts]).astype(np.int64)
    rows, ev, non = _view_kernels.bin_class_sums(
        np.ascontiguousarray(X.to_numpy(dtype=float)),
        np.ascontiguousarray(flat, dtype=float),
        offsets,
        events,
        sample_weight,
    )
    w = np.ones(len(events)) if sample_weight is None else sample_weight
    total_events, total_non = float(w @ events), float(w @ (1.0 - events))
    zero = (ev == 0) | (non == 0)
    share_events = (ev + 0.5 * zero) / total_events
    share_non = (non + 0.5 * zero) / total_non
    woe = np.log(share_non / share_events)
    feature, lower, upper, label, effect = [], [], [], [], []
    for j, (c, h) in enumerate(cuts):
        edges = np.concatenate([[-np.inf], c if units is None else units.values(c, j), [np.inf]])
        steps = np.concatenate([[0.0], np.cumsum(h)])
        for b in range(len(c) + 1):
            feature.append(names[j])
            lower.append(edges[b])
            upper.append(edges[b + 1])
            label.append(_bin_label(edges[b], edges[b + 1]))
            effect.append(steps[b])
    table = pd.DataFrame(
        {
            "feature": feature,
            "bin": label,
            "lower": lower,
            "upper": upper,
            "rows": rows,
            "events": ev,
            "non_events": non,
            "event_rate": np.divide(ev, ev + non, out=np.full(len(ev), np.nan), where=ev + non > 0),
            "share_events": share_events,
            "share_non_events": share_non,
            "woe": woe,
            "iv": (share_non - share_events) * woe,
            "model_effect": effect,
        }
    )
    return table


def _bin_label(lower, upper):
    if np.isinf(lower) and np.isinf(upper):
        return "all values"
    if np.isinf(lower):
        return "<= %s" % format_number(upper)
    if np.isinf(upper):
        return "> %s" % format_number(lower)
    return "(%s, %s]" % (format_number(lower), format_number(upper))


def iv_table(table):
    grouped = table.groupby("feature", sort=False)
    frame = pd.DataFrame({"iv": grouped["iv"].sum(), "bins": grouped.size()})
    frame["strength"] = [strength(v) for v in frame["iv"]]
    frame.index.name = "feature"
    return frame.sort_values("iv", ascending=False, kind="stable")


def strength(iv):
    for limit, word in STRENGTH:
        if iv < limit:
            return word
    return "suspiciously strong"


NOTE = (
    "Events are the rows of class %s. WoE = ln(share of non-events / share of events) "
    "per bin of the model's own cut points; a positive WoE marks a bin where events are "
    "rarer than on average. A bin without events or without non-events has half a row "
    "added to both counts."
)


@register("xgb1_woe", "xgb1", options=("sample_weight", "units"))
def xgb1_woe(estimator, X, y, row, sample_weight=None, units=None):
    table = woe_table(estimator, X, y, sample_weight, units)
    ivs = iv_table(table)

    def draw(figure, interpretation):
        _draw_woe(figure, interpretation.data, ivs, estimator.classes_[1])

    return Interpretation("xgb1_woe", table, draw, note=NOTE % (estimator.classes_[1],))


@register("xgb1_iv", "xgb1", options=("sample_weight",))
def xgb1_iv(estimator, X, y, row, sample_weight=None):
    ivs = iv_table(woe_table(estimator, X, y, sample_weight))
    return Interpretation("xgb1_iv", ivs, _draw_iv, note=NOTE % (estimator.classes_[1],))


def _draw_woe(figure, table, ivs, event):
    shown = [name for name in ivs.index if ivs.loc[name, "bins"] > 1][:MAX_PANELS]
    if not shown:
        ax = figure.subplots()
        ax.axis("off")
        ax.text(0.5, 0.5, "the model has no steps: every feature is one bin", ha="center")
        return
    columns = min(4, len(shown))
    lines = -(-len(shown) // columns)
    figure.set_size_inches(3.2 * columns, 2.6 * lines + 0.6)
    axes = figure.subplots(lines, columns, squeeze=False).ravel()
    for ax, name in zip(axes, shown):
        bins = table[table["feature"] == name]
        x = np.arange(len(bins))
        woe = bins["woe"].to_numpy()
        ax.bar(x, woe, color=np.where(woe >= 0, "#2f5d9a", "#c0392b"))
        ax.axhline(0.0, color="black", linewidth=0.7)
        every = max(1, -(-len(bins) // 10))  # at most ten labels a panel
        ax.set_xticks(x[::every])
        ax.set_xticklabels(bins["bin"].iloc[::every], rotation=55, ha="right", fontsize=6)
        ax.set_title("%s (IV %s)" % (name, format_number(ivs.loc[name, "iv"])), fontsize=8)
        ax.set_ylabel("WoE", fontsize=7)
        ax.set_xlabel("bin of %s" % name, fontsize=7)
        ax.tick_params(axis="y", labelsize=6)
    for ax in axes[len(shown) :]:
        ax.set_visible(False)
    figure.suptitle(
        "Weight of evidence per bin of the model's cut points (positive: fewer rows of "
        "class %s than on average)" % (event,),
        fontsize=10,
    )


def _draw_iv(figure, interpretation):
    frame = interpretation.data.head(MAX_PANELS)
    figure.set_size_inches(7, 0.32 * len(frame) + 1.5)
    ax = figure.subplots()
    y = np.arange(len(frame))[::-1]
    ax.barh(y, frame["iv"].to_numpy(), color="#2f5d9a")
    ax.set_yticks(y)
    ax.set_yticklabels(
        ["%s (%d bins)" % (n, b) for n, b in zip(frame.index, frame["bins"])], fontsize=8
    )
    # each line starts the range of the next word of the scale
    starts = [limit for limit, _ in STRENGTH]
    words = [word for _, word in STRENGTH[1:]] + ["suspiciously strong"]
    for limit, word in zip(starts, words):
        if limit <= max(frame["iv"].max() * 1.05, 0.02):
            ax.axvline(limit, color="#7f8c8d", linewidth=0.7, linestyle=":")
            ax.text(
                limit,
                len(frame) - 0.4,
                " " + word + " from here",
                fontsize=6,
                color="#555555",
                rotation=90,
                va="top",
                ha="left",
                bbox={"facecolor": "white", "edgecolor": "none", "alpha": 0.7, "pad": 1},
            )
    ax.set_xlabel("information value")
    ax.set_title("Information value per feature, over the model's bins", fontsize=10)
    ax.grid(axis="x", alpha=0.3)
