"""Views of the additive families ("gam", "xgb1", "xgb2", "ebm", "gaminet").

Every view reads the model's own terms, identified over the rows of ``X`` (see
``_effects``): interactions purified, every term of mean zero over ``X``, the intercept
their complement, so that terms plus intercept are the raw output (``decision_function``,
log-odds of ``classes_[1]``, for a classifier; ``predict`` for a regressor).

- "global_fi": per feature, the mean absolute contribution over ``X`` ("importance") and
  its share of the total; a feature's contribution is its main effect plus half of each
  interaction it takes part in.
- "local_fi": one row per feature with its value ("value") and contribution
  ("contribution"); ``base`` is the intercept.
- "global_effect_plot": the shape function (main effect; for the two-way families the
  purified one, with what the interactions gave up) of every feature over its
  observed range ("effects": columns "feature", "x", "effect", "categorical"), drawn as a
  curve for a numerical feature and as bars for a categorical one (declared categorical
  in the estimator's ``feature_types``, or with at most 5 distinct values in ``X``), over
  the data's density ("density": "feature", "left", "right", "share").
- "global_ei" (xgb2, ebm, gaminet): the mean absolute value over ``X`` of every main
  effect and interaction ("importance": columns "effect", "kind", "importance", "share"),
  and the purified interactions on a grid over the observed ranges ("heatmaps": "effect",
  "x", "y", "value"), drawn as heat maps.
- "local_ei": one row per term with "effect", "kind", "value" and "contribution"; ``base``
  is the intercept.
"""

import numpy as np
import pandas as pd

from ._core import Interpretation, register
from ._effects import effects

ADDITIVE = ("gam", "xgb1", "xgb2", "ebm", "gaminet")
TWO_WAY = ("xgb2", "ebm", "gaminet")
# a column of at most this many distinct values is drawn as categories
CATEGORY_LEVELS = 5
_CURVE_POINTS = 200
_DENSITY_BINS = 30
_HEATMAP_POINTS = 60
_TOP_HEATMAPS = 6
_TOP_EFFECTS = 30
_TOP_LOCAL = 25


def _decomposition(estimator, X, row=None):
    # X carries the names the interface settled on: the model's own, or those a frame
    # lends an unnamed model
    refuse_missing(estimator, X, row)
    return effects(estimator, X.to_numpy(dtype=np.float64), [str(c) for c in X.columns])


def refuse_missing(estimator, X, row=None):
    """The catalogue's models refuse missing and infinite values, and so do their views."""
    for what, values in (("X", X), ("row", None if row is None else row.to_frame().T)):
        if values is None:
            continue
        matrix = values.to_numpy(dtype=np.float64)
        bad = ~np.isfinite(matrix)
        if bad.any():
            columns = [str(c) for c in values.columns[bad.any(axis=0)]]
            raise ValueError(
                "%s has missing or infinite values in %s; %s refuses them, and so do its "
                "views" % (what, ", ".join(columns), type(estimator).__name__)
            )


def output_label(estimator):
    classes = getattr(estimator, "classes_", None)
    if classes is not None:
        return "log-odds of %s" % classes[1]
    return "units of the response"


# -- feature importance -----------------------------------------------------------------


@register("global_fi", *ADDITIVE)
def global_fi(estimator, X, y, row):
    model = _decomposition(estimator, X)
    contributions, _ = model.summary()
    return importance_view("global_fi", model.names, contributions, output_label(estimator))


def importance_view(view, names, contributions, label):
    """Feature importance as the mean absolute contribution over the rows."""
    importance = np.abs(contributions).mean(axis=0)
    total = importance.sum()
    data = pd.DataFrame(
        {
            "feature": names,
            "importance": importance,
            "share": importance / total if total > 0 else np.zeros(len(names)),
        }
    )
    data = data.sort_values("importance", ascending=False, kind="stable").reset_index(drop=True)

    def draw(figure, interpretation):
        d = interpretation.data
        _size(figure, 7.0, 1.2 + 0.28 * len(d))
        ax = figure.add_subplot()
        ax.barh(d["feature"][::-1], d["importance"][::-1], color="#3b75af")
        for k, (imp, share) in enumerate(zip(d["importance"][::-1], d["share"][::-1])):
            ax.annotate(" %.1f%%" % (100 * share), (imp, k), va="center", fontsize=8)
        ax.set_xlabel("mean |contribution| (%s)" % label)
        ax.set_title("Feature importance")
        ax.margins(x=0.12)

    return Interpretation(view, data, draw)


@register("local_fi", *ADDITIVE)
def local_fi(estimator, X, y, row):
    model = _decomposition(estimator, X, row)
    values = model.values(_row_matrix(row))
    contributions = model.contributions(values)[0]
    data = pd.DataFrame(
        {"feature": model.names, "value": row.to_numpy(), "contribution": contributions}
    )
    return local_view("local_fi", data, "feature", model.intercept, output_label(estimator))


def _row_matrix(row):
    return row.to_numpy(dtype=np.float64)[None, :]


def local_view(view, data, label_column, base, label, base_label="intercept"):
    def draw(figure, interpretation):
        d = interpretation.data
        contribution = d["contribution"].to_numpy()
        order = np.argsort(-np.abs(contribution), kind="stable")
        labels = [
            "%s = %s" % (name, _number(v))
            for name, v in zip(d[label_column].to_numpy()[order], d["value"].to_numpy()[order])
        ]
        shown = contribution[order]
        if len(order) > _TOP_LOCAL:
            # the rest in one bar, so that the bars still add up to the output
            rest = len(order) - _TOP_LOCAL + 1
            labels = labels[: _TOP_LOCAL - 1] + ["%d other terms" % rest]
            shown = np.append(shown[: _TOP_LOCAL - 1], shown[_TOP_LOCAL - 1 :].sum())
        labels, shown = labels[::-1], shown[::-1]
        _size(figure, 7.5, 1.4 + 0.28 * len(shown))
        ax = figure.add_subplot()
        colors = np.where(shown >= 0, "#c8553d", "#3b75af")
        ax.barh(np.arange(len(shown)), shown, color=colors)
        ax.set_yticks(np.arange(len(shown)), labels, fontsize=8)
        ax.axvline(0.0, color="black", linewidth=0.6)
        ax.set_xlabel("contribution (%s)" % label)
        total = interpretation.base + contribution.sum()
        ax.set_title(
            "%s %s + contributions %s = output %s"
            % (
                base_label,
                _number(interpretation.base),
                _number(contribution.sum()),
                _number(total),
            ),
            fontsize=10,
        )

    return Interpretation(view, data, draw, base=float(base))


def _number(v):
    if isinstance(v, str):
        return v
    return "%.4g" % v


def _size(figure, width, height):
    figure.set_size_inches(width, min(max(height, 2.5), 30.0))


# -- effect importance ------------------------------------------------------------------


@register("global_ei", *TWO_WAY)
def global_ei(estimator, X, y, row):
    model = _decomposition(estimator, X)
    _, importance = model.summary()
    total = importance.sum()
    table = pd.DataFrame(
        {
            "effect": model.term_names(),
            "kind": ["main" if len(t) == 1 else "interaction" for t in model.terms],
            "importance": importance,
            "share": importance / total if total > 0 else np.zeros(len(importance)),
        }
    )
    table = table.sort_values("importance", ascending=False, kind="stable").reset_index(drop=True)
    pairs = sorted(model.pair_terms, key=lambda t: -importance[t])
    matrix = X.to_numpy(dtype=np.float64)
    median = np.median(matrix, axis=0)
    features = sorted({j for t in pairs for j in model.terms[t]})
    grids = {j: _grid(matrix[:, j], _HEATMAP_POINTS) for j in features}
    heatmaps = pd.concat(
        [_heatmap_frame(model, t, grids, median) for t in pairs]
        or [pd.DataFrame(columns=["effect", "x", "y", "value"])],
        ignore_index=True,
    )
    label = output_label(estimator)

    def draw(figure, interpretation):
        everything = interpretation.data["importance"]
        d = everything.head(_TOP_EFFECTS)
        maps = interpretation.data["heatmaps"]
        shown = list(dict.fromkeys(maps["effect"]))[:_TOP_HEATMAPS]
        n_maps = len(shown)
        columns = 3
        map_rows = (n_maps + columns - 1) // columns
        bar_height = 1.0 + 0.26 * len(d)
        _size(figure, 12.0, bar_height + 3.6 * map_rows)
        grid = figure.add_gridspec(
            1 + map_rows, columns, height_ratios=[bar_height] + [3.6] * map_rows
        )
        ax = figure.add_subplot(grid[0, :])
        colors = np.where(d["kind"][::-1] == "main", "#3b75af", "#c8553d")
        ax.barh(d["effect"][::-1], d["importance"][::-1], color=colors)
        ax.tick_params(axis="y", labelsize=8)
        ax.set_xlabel("mean |effect| (%s); blue: main effects, red: interactions" % label)
        ax.set_title(
            "Effect importance"
            + (
                ""
                if len(d) == len(everything)
                else ": the %d largest of %d" % (len(d), len(everything))
            )
        )
        for i, name in enumerate(shown):
            m = maps[maps["effect"] == name]
            xs, ys = np.unique(m["x"]), np.unique(m["y"])
            Zv = m.pivot(index="y", columns="x", values="value").to_numpy()
            a = figure.add_subplot(grid[1 + i // columns, i % columns])
            limit = np.nanmax(np.abs(Zv)) or 1.0
            mesh = a.pcolormesh(
                xs, ys, Zv, cmap="RdBu_r", vmin=-limit, vmax=limit, shading="nearest"
            )
            first, second = name.split(" x ", 1) if " x " in name else (name, "")
            a.set_xlabel(first)
            a.set_ylabel(second)
            a.set_title(name, fontsize=9)
            figure.colorbar(mesh, ax=a, label=label)

    return Interpretation("global_ei", {"importance": table, "heatmaps": heatmaps}, draw)


def _heatmap_frame(model, t, grids, median):
    a, b = model.terms[t]
    A, B = np.meshgrid(grids[a], grids[b], indexing="ij")
    points = np.tile(median, (A.size, 1))
    points[:, a], points[:, b] = A.ravel(), B.ravel()
    value = model.values(points, term=t)
    return pd.DataFrame(
        {"effect": model.term_names()[t], "x": A.ravel(), "y": B.ravel(), "value": value}
    )


def _grid(x, points):
    """Evenly spaced points over the observed range, and the distinct values when few."""
    values = np.unique(x)
    if len(values) <= points:
        return values
    return np.linspace(values[0], values[-1], points)


@register("local_ei", *TWO_WAY)
def local_ei(estimator, X, y, row):
    model = _decomposition(estimator, X, row)
    values = model.values(_row_matrix(row))[0]
    x = row.to_numpy()
    data = pd.DataFrame(
        {
            "effect": model.term_names(),
            "kind": ["main" if len(t) == 1 else "interaction" for t in model.terms],
            "value": [", ".join(_number(x[j]) for j in t) for t in model.terms],
            "contribution": values,
        }
    )
    return local_view("local_ei", data, "effect", model.intercept, output_label(estimator))


# -- shape functions ----------------------------------------------------------------------


@register("global_effect_plot", *ADDITIVE)
def global_effect_plot(estimator, X, y, row):
    model = _decomposition(estimator, X)
    matrix = X.to_numpy(dtype=np.float64)
    main_of = {f[0]: t for t, f in enumerate(model.terms) if len(f) == 1}
    declared = _declared_categorical(estimator, len(model.names))
    curves, densities = [], []
    median = np.median(matrix, axis=0)
    for j, name in enumerate(model.names):
        x = matrix[:, j]
        levels = np.unique(x)
        categorical = declared[j] or len(levels) <= CATEGORY_LEVELS
        if categorical:
            grid = levels
        else:
            grid = _curve_points(x, _edges_of(model, main_of.get(j)))
        if j in main_of:
            points = np.tile(median, (len(grid), 1))
            points[:, j] = grid
            effect = model.values(points, term=main_of[j])
        else:
            effect = np.zeros(len(grid))
        curves.append(
            pd.DataFrame({"feature": name, "x": grid, "effect": effect, "categorical": categorical})
        )
        densities.append(_density(name, x, levels, categorical))
    data = {
        "effects": pd.concat(curves, ignore_index=True),
        "density": pd.concat(densities, ignore_index=True),
    }
    return Interpretation("global_effect_plot", data, effect_drawer(output_label(estimator)))


def _declared_categorical(estimator, p):
    types = getattr(estimator, "feature_types", None)
    if types is None or isinstance(types, str) or len(types) != p:
        return [False] * p
    return [str(t).lower() in ("categorical", "category", "c") for t in types]


def _edges_of(model, t):
    """The cut points of a main effect's steps (none for a smooth term)."""
    if t is None:
        return np.zeros(0)
    if model.final is not None:
        return np.asarray(model.final.terms[t][1][0])
    out = []
    if model.pieces is not None:
        out = [np.asarray(model.pieces.terms[i][1][0]) for i in np.flatnonzero(model.targets == t)]
    return np.concatenate(out) if out else np.zeros(0)


def _curve_points(x, edges):
    """Points over the observed range; at each cut point both sides of the step."""
    lo, hi = float(np.min(x)), float(np.max(x))
    grid = np.linspace(lo, hi, _CURVE_POINTS)
    edges = edges[(edges > lo) & (edges < hi)]
    grid = np.concatenate([grid, edges, np.nextafter(edges, np.inf)])
    return np.unique(grid)


def _density(name, x, levels, categorical):
    if categorical:
        counts = np.array([(x == v).sum() for v in levels], dtype=float)
        left, right = levels, levels
    else:
        counts, bounds = np.histogram(x, bins=_DENSITY_BINS)
        left, right = bounds[:-1], bounds[1:]
    return pd.DataFrame(
        {"feature": name, "left": left, "right": right, "share": counts / max(len(x), 1)}
    )


def effect_drawer(label, title="Shape functions"):
    def draw(figure, interpretation):
        curves = interpretation.data["effects"]
        density = interpretation.data["density"]
        names = list(dict.fromkeys(curves["feature"]))
        columns = min(4, len(names))
        rows = (len(names) + columns - 1) // columns
        _size(figure, 3.2 * columns, 2.9 * rows + 0.6)
        outer = figure.add_gridspec(rows, columns)
        figure.suptitle("%s (%s)" % (title, label))
        for i, name in enumerate(names):
            cell = outer[i // columns, i % columns].subgridspec(
                2, 1, height_ratios=[3, 1], hspace=0
            )
            ax = figure.add_subplot(cell[0])
            below = figure.add_subplot(cell[1], sharex=None if _is_cat(curves, name) else ax)
            c = curves[curves["feature"] == name]
            d = density[density["feature"] == name]
            if c["categorical"].iloc[0]:
                positions = np.arange(len(c))
                ax.bar(positions, c["effect"], color="#3b75af")
                below.bar(positions, d["share"], color="#999999")
                below.set_xticks(positions, [_number(v) for v in c["x"]], fontsize=7)
                ax.set_xticks(positions, [])
            else:
                ax.plot(c["x"], c["effect"], color="#3b75af")
                below.bar(
                    d["left"],
                    d["share"],
                    width=d["right"] - d["left"],
                    align="edge",
                    color="#999999",
                )
                ax.tick_params(labelbottom=False)
                below.tick_params(labelsize=7)
            ax.axhline(0.0, color="black", linewidth=0.4)
            if not np.any(c["effect"].to_numpy()):
                ax.text(
                    0.5,
                    0.6,
                    "not used by the model",
                    transform=ax.transAxes,
                    ha="center",
                    fontsize=8,
                    color="#666666",
                )
            ax.tick_params(axis="y", labelsize=7)
            below.set_yticks([])
            below.set_xlabel(name, fontsize=8)
            if i % columns == 0:
                ax.set_ylabel("effect", fontsize=8)
                below.set_ylabel("density", fontsize=7)

    return draw


def _is_cat(curves, name):
    return bool(curves.loc[curves["feature"] == name, "categorical"].iloc[0])
