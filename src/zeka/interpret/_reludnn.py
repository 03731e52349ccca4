"""Views of the ReLU network ("reludnn"): its local linear models.

A ReLU network is linear on each activation region (the set of inputs that switch on the
same hidden units), so at every row it is a linear model ``b + sum_j c_j x_j`` in the
original units of the features, exact at the row and on the whole region around it; the
coefficients ``c`` are the network's gradient there. The rows' regions, outputs and
coefficients come from a native pass over the data (``_terms.relu_local_linear``).

- "local_fi": per feature its value, coefficient and contribution ``c_j (x_j - mean_j)``
  (the means over ``X``); ``base`` is the row's output minus the contributions, so that
  they add up to the raw output (log-odds of ``classes_[1]`` for a classifier).
- "global_fi": the mean absolute contribution over ``X`` and its share.
- "global_effect_plot": per feature, the effect the local models imply on average: the
  feature's range cut into quantile bins, the curve's slope in each bin the mean
  coefficient of the rows in it, centred to mean zero over ``X``.
- "llm_pc": the largest regions ("regions": "rows", "share"; "coefficients": one column
  per feature; both indexed by "region", 1 the largest), drawn as parallel coordinates,
  each coefficient scaled by the feature's standard deviation (the change of output per
  standard deviation).
- "llm_violin": every row's coefficients (one column per feature), drawn as a violin per
  feature, scaled the same way.
- "llm_summary": every region met by ``X``, largest first (of equal sizes, the first met
  first), in two tables indexed by "region": "regions" with "rows", "share", "response
  mean", "response std" (of ``y`` when given, the class share for a classifier, else of
  the prediction) and "intercept"; "coefficients" with one column per feature.
"""

import numpy as np
import pandas as pd

from zeka.models._base import bin_edges

from . import _terms
from ._additive import (
    _density,
    _size,
    effect_drawer,
    importance_view,
    local_view,
    output_label,
    refuse_missing,
)
from ._core import Interpretation, register

_EFFECT_BINS = 32
_PC_REGIONS = 40
_SUMMARY_FIGURE_REGIONS = 15
_CATEGORY_LEVELS = 5


class LocalLinear:
    """Every row's output, local coefficients (original units) and region."""

    def __init__(self, estimator, X):
        net = estimator.network_
        weights = [np.ascontiguousarray(W[0], dtype=np.float64) for W in net.weights]
        biases = [np.ascontiguousarray(b[0, 0], dtype=np.float64) for b in net.biases]
        Z = (np.asarray(X, dtype=np.float64) - estimator.x_mean_) / estimator.x_scale_
        out, grad, region = _terms.relu_local_linear(np.ascontiguousarray(Z), weights, biases)
        self.output = estimator.y_shift_ + estimator.y_scale_ * out
        self.coef = grad * (estimator.y_scale_ / estimator.x_scale_)
        self.intercept = self.output - np.einsum("ij,ij->i", self.coef, np.asarray(X, float))
        self.region = region


def _local(estimator, X):
    refuse_missing(estimator, X)
    return LocalLinear(estimator, X.to_numpy(dtype=np.float64))


@register("local_fi", "reludnn")
def local_fi(estimator, X, y, row):
    refuse_missing(estimator, X, row)
    mean = X.to_numpy(dtype=np.float64).mean(axis=0)
    x = row.to_numpy(dtype=np.float64)
    local = LocalLinear(estimator, x[None, :])
    coef = local.coef[0]
    contribution = coef * (x - mean)
    data = pd.DataFrame(
        {
            "feature": list(X.columns),
            "value": x,
            "coefficient": coef,
            "contribution": contribution,
        }
    )
    base = local.output[0] - contribution.sum()
    return local_view(
        "local_fi", data, "feature", base, output_label(estimator), "local model at the means"
    )


@register("global_fi", "reludnn")
def global_fi(estimator, X, y, row):
    refuse_missing(estimator, X)
    matrix = X.to_numpy(dtype=np.float64)
    local = LocalLinear(estimator, matrix)
    contributions = local.coef * (matrix - matrix.mean(axis=0))
    return importance_view("global_fi", list(X.columns), contributions, output_label(estimator))


@register("global_effect_plot", "reludnn")
def global_effect_plot(estimator, X, y, row):
    refuse_missing(estimator, X)
    matrix = X.to_numpy(dtype=np.float64)
    local = LocalLinear(estimator, matrix)
    curves, densities = [], []
    for j, name in enumerate(list(X.columns)):
        x = matrix[:, j]
        levels = np.unique(x)
        categorical = len(levels) <= _CATEGORY_LEVELS
        knots, effect = averaged_effect(x, local.coef[:, j], _EFFECT_BINS)
        if categorical:
            grid, values = levels, np.interp(levels, knots, effect)
        else:
            grid, values = knots, effect
        curves.append(
            pd.DataFrame({"feature": name, "x": grid, "effect": values, "categorical": categorical})
        )
        densities.append(_density(name, x, levels, categorical))
    data = {
        "effects": pd.concat(curves, ignore_index=True),
        "density": pd.concat(densities, ignore_index=True),
    }
    draw = effect_drawer(output_label(estimator), "Averaged effects of the local linear models")
    return Interpretation("global_effect_plot", data, draw)


def averaged_effect(x, coef, n_bins):
    """Knots over the range of ``x`` and the effect at them: the slope between two knots
    is the mean coefficient of the rows in that bin; centred to mean zero over ``x``."""
    edges = bin_edges(x, n_bins)
    lo, hi = float(np.min(x)), float(np.max(x))
    knots = np.concatenate([[lo], edges, [hi]])
    bins = np.searchsorted(edges, x, side="left").astype(np.int64)
    sums, counts = _terms.cell_sums(bins, np.ascontiguousarray(coef[:, None]), len(edges) + 1)
    slope = np.divide(sums[:, 0], counts, out=np.zeros(len(counts)), where=counts > 0)
    effect = np.concatenate([[0.0], np.cumsum(slope * np.diff(knots))])
    effect -= np.interp(x, knots, effect).mean()
    return knots, effect


def _regions(estimator, X, y):
    """The regions met by the rows of ``X``, largest first: a table and every row's rank."""
    matrix = X.to_numpy(dtype=np.float64)
    local = _local(estimator, X)
    keys, first, inverse, counts = np.unique(
        local.region, return_index=True, return_inverse=True, return_counts=True
    )
    # largest first; among regions of the same size, the one met first
    order = np.lexsort((first, -counts))
    rank = np.empty(len(keys), dtype=np.int64)
    rank[order] = np.arange(len(keys))
    row_rank = rank[inverse.ravel()]
    if y is not None:
        response = np.asarray(y)
        classes = getattr(estimator, "classes_", None)
        if classes is not None:
            response = (response == classes[1]).astype(float)
        source = "y"
    elif hasattr(estimator, "classes_"):
        response, source = estimator.predict_proba(matrix)[:, 1], "predicted probability"
    else:
        response, source = estimator.predict(matrix), "prediction"
    response = np.asarray(response, dtype=np.float64)
    values = np.column_stack([response, response**2, local.intercept, local.coef])
    sums, n = _terms.cell_sums(row_rank, np.ascontiguousarray(values), len(keys))
    means = sums / n[:, None]
    names = list(X.columns)
    region = pd.Index(np.arange(1, len(keys) + 1), name="region")
    table = pd.DataFrame(
        {
            "rows": n.astype(np.int64),
            "share": n / len(matrix),
            "response mean": means[:, 0],
            "response std": np.sqrt(np.maximum(means[:, 1] - means[:, 0] ** 2, 0.0)),
            # a region's rows share one linear model: the means are its coefficients
            "intercept": means[:, 2],
        },
        index=region,
    )
    coefficients = pd.DataFrame(means[:, 3:], columns=names, index=region.copy())
    table = {"regions": table, "coefficients": coefficients}
    return table, local, row_rank, source, matrix.std(axis=0)


@register("llm_summary", "reludnn")
def llm_summary(estimator, X, y, row):
    table, _, _, source, sd = _regions(estimator, X, y)
    names = list(X.columns)

    label = output_label(estimator)

    def draw(figure, interpretation):
        d = interpretation.data["regions"].head(_SUMMARY_FIGURE_REGIONS)
        values = interpretation.data["coefficients"].head(len(d)).to_numpy() * sd
        _size(figure, max(9.0, 4.5 + 0.45 * len(names)), 1.8 + 0.4 * len(d))
        ax = figure.add_subplot()
        limit = np.abs(values).max() or 1.0
        mesh = ax.imshow(values, cmap="RdBu_r", vmin=-limit, vmax=limit, aspect="auto")
        ax.set_xticks(np.arange(len(names)), names, rotation=60, ha="right", fontsize=8)
        ax.set_yticks(
            np.arange(len(d)),
            [
                "region %d: %d row%s (%.1f%%), response %.3g \u00b1 %.2g"
                % (r, n, "" if n == 1 else "s", 100 * s, m, v)
                for r, n, s, m, v in zip(
                    d.index, d["rows"], d["share"], d["response mean"], d["response std"]
                )
            ],
            fontsize=8,
        )
        figure.colorbar(mesh, ax=ax, label="coefficient x std of feature (%s)" % label)
        ax.set_title(
            "Largest activation regions: %d of %d, response = %s"
            % (len(d), len(interpretation.data["regions"]), source),
            fontsize=10,
        )

    return Interpretation("llm_summary", table, draw)


@register("llm_pc", "reludnn")
def llm_pc(estimator, X, y, row):
    table, _, _, _, sd = _regions(estimator, X, y)
    names = list(X.columns)
    data = {
        "regions": table["regions"][["rows", "share"]].head(_PC_REGIONS),
        "coefficients": table["coefficients"].head(_PC_REGIONS),
    }

    label = output_label(estimator)

    def draw(figure, interpretation):
        d = interpretation.data["regions"]
        values = interpretation.data["coefficients"].to_numpy() * sd
        _size(figure, max(7.0, 0.55 * len(names) + 2), 5.0)
        ax = figure.add_subplot()
        share = d["share"].to_numpy()
        from matplotlib import colormaps

        cmap = colormaps["viridis"]
        top = share.max() if len(share) else 1.0
        for k in range(len(d))[::-1]:
            ax.plot(
                np.arange(len(names)),
                values[k],
                color=cmap(share[k] / top),
                linewidth=0.6 + 2.4 * share[k] / top,
                alpha=0.8,
            )
        ax.axhline(0.0, color="black", linewidth=0.5)
        ax.set_xticks(np.arange(len(names)), names, rotation=60, ha="right", fontsize=8)
        for position in range(len(names)):
            ax.axvline(position, color="#cccccc", linewidth=0.5, zorder=0)
        ax.set_ylabel("coefficient x std of feature\n(%s)" % label)
        ax.set_title(
            "Local linear models of the %d largest regions (colour and width: share of rows)"
            % len(d),
            fontsize=10,
        )

    return Interpretation("llm_pc", data, draw)


@register("llm_violin", "reludnn")
def llm_violin(estimator, X, y, row):
    local = _local(estimator, X)
    names = list(X.columns)
    data = pd.DataFrame(local.coef, columns=names, index=X.index.copy())
    sd = X.to_numpy(dtype=np.float64).std(axis=0)

    label = output_label(estimator)

    def draw(figure, interpretation):
        d = interpretation.data
        scaled = d[names].to_numpy() * sd
        _size(figure, 7.5, 1.2 + 0.38 * len(names))
        ax = figure.add_subplot()
        positions = np.arange(len(names))[::-1]
        spread = scaled.max(axis=0) - scaled.min(axis=0)
        varying = spread > 0
        if varying.any():
            ax.violinplot(
                [scaled[:, j] for j in np.flatnonzero(varying)],
                positions=positions[varying],
                **_horizontal(ax.violinplot),
                showmedians=True,
                widths=0.8,
            )
        for j in np.flatnonzero(~varying):
            ax.plot([scaled[0, j]], [positions[j]], "|", color="#3b75af", markersize=12)
        ax.set_yticks(positions, names, fontsize=8)
        ax.axvline(0.0, color="black", linewidth=0.5)
        ax.set_xlabel("coefficient x std of feature (%s)" % label)
        ax.set_title("Local linear coefficients over %d rows" % len(d), fontsize=10)

    return Interpretation("llm_violin", data, draw)


def _horizontal(violinplot):
    """The keyword of a horizontal violin plot: ``orientation`` from matplotlib 3.10 on,
    ``vert`` before."""
    import inspect

    if "orientation" in inspect.signature(violinplot).parameters:
        return {"orientation": "horizontal"}
    return {"vert": False}
