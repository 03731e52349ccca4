"""Views of the decision tree ("tree") and of the sum of trees ("figs").

Every node of a tree has an output on the model's raw scale: the mean target of its
training rows for a regression tree, the log-odds of its class share for a
classification tree (clipped as the model clips its leaves), and for a FIGS tree the
value the tree gives its rows (a root is 0; the trees add to the intercept). A split's
change of prediction is the child's output less the parent's, so along a row's path the
changes add up to the leaf's output less the root's.

"tree_global": the tree (for figs, each tree of the sum) drawn with its splits, the
rows of ``X`` that reach each node and each node's prediction; ``.data`` holds the
table "nodes" (every node) and "importance" (each feature's mean absolute change of
prediction over the rows of ``X``, from its splits on their paths). "tree_local": one
row's decision path, a row per split with the change of prediction ("contribution");
``base`` is the root's output (for figs, the intercept), so that base plus the changes
is the model's raw output for the row. "figs_heatmap": every tree's contribution to
every row of ``X`` (a heat map over the rows in order of prediction).
"""

import numpy as np
import pandas as pd
from sklearn.base import is_classifier

from . import _view_kernels
from ._core import (
    Interpretation,
    format_number,
    importance_frame,
    output_label,
    register,
)

DRAWN_DEPTH = 4  # levels of a tree drawn; deeper subtrees are summarised
DRAWN_TREES = 4  # trees of a sum drawn in "tree_global"
MAX_INCHES = 17.0  # the largest side of a tree drawing
MAX_PATH_BARS = 30  # splits drawn one by one in "tree_local"; beyond, one bar per tree
HEATMAP_ROWS = 400  # rows of the heat map, evenly spread over the rows in order


class _Tree:
    """One tree as node arrays on the model's raw scale."""

    def __init__(self, feature, threshold, left, right, output, single_precision, share=None):
        self.feature = np.ascontiguousarray(feature, dtype=np.int64)
        self.threshold = np.ascontiguousarray(threshold, dtype=np.float64)
        self.left = np.ascontiguousarray(left, dtype=np.int64)
        self.right = np.ascontiguousarray(right, dtype=np.int64)
        self.output = np.ascontiguousarray(output, dtype=np.float64)
        self.single_precision = single_precision
        self.share = share  # a classification tree's class share at every node

    def paths(self, values, weights=None, contributions=None):
        """(leaf of every row, weight of the rows through every node)."""
        return _view_kernels.tree_paths(
            self.feature,
            self.threshold,
            self.left,
            self.right,
            self.output,
            values,
            self.single_precision,
            weights,
            contributions,
        )

    def path(self, x):
        """The nodes from the root to the leaf of one row."""
        nodes, node = [0], 0
        while self.left[node] >= 0:
            value = x[self.feature[node]]
            if self.single_precision:
                value = np.float32(value)
            node = self.left[node] if value <= self.threshold[node] else self.right[node]
            nodes.append(int(node))
        return nodes


def _trees(estimator):
    """The trees of the model and the output it adds to their sum."""
    if hasattr(estimator, "trees_"):  # figs
        trees = [
            _Tree(t["feature"], t["threshold"], t["left"], t["right"], t["value"], False)
            for t in estimator.trees_
        ]
        return trees, float(estimator.intercept_)
    t = estimator.tree_
    value = np.asarray(t.value)[:, 0, :]
    share = None
    if is_classifier(estimator):
        share = value[:, 1] / value.sum(axis=1)
        p = np.clip(share, 1e-12, 1 - 1e-12)
        output = np.log(p / (1 - p))
    else:
        output = value[:, 0]
    tree = _Tree(
        t.feature, t.threshold, t.children_left, t.children_right, output, True, share=share
    )
    return [tree], 0.0


def _matrix(X):
    return np.ascontiguousarray(X.to_numpy(dtype=np.float64))


def _original(units, j, value):
    return value if units is None else float(units.values(value, j))


def _node_table(trees, names, counts, estimator, units=None):
    frames = []
    for k, (tree, count) in enumerate(zip(trees, counts)):
        inner = tree.left >= 0
        frame = pd.DataFrame(
            {
                "tree": k + 1,
                "node": np.arange(len(tree.left)),
                "depth": _depths(tree),
                "feature": [names[j] if i else "" for j, i in zip(tree.feature, inner)],
                "threshold": [
                    _original(units, j, t) if i else np.nan
                    for j, t, i in zip(tree.feature, tree.threshold, inner)
                ],
                "left": tree.left,
                "right": tree.right,
                "rows": count,
                "output": tree.output,
            }
        )
        if tree.share is not None:
            frame["probability"] = tree.share
        frames.append(frame)
    if not frames:  # a sum of no trees: the model predicts its intercept
        columns = ["tree", "node", "depth", "feature", "threshold", "left", "right", "rows"]
        return pd.DataFrame({name: [] for name in columns + ["output"]})
    table = pd.concat(frames, ignore_index=True)
    if len(trees) == 1 and not hasattr(estimator, "trees_"):
        table = table.drop(columns="tree")
    return table


def _depths(tree):
    depth = np.zeros(len(tree.left), dtype=np.int64)
    for node in range(len(tree.left)):  # children follow their parents
        if tree.left[node] >= 0:
            depth[tree.left[node]] = depth[tree.right[node]] = depth[node] + 1
    return depth


@register("tree_global", "tree", "figs", options=("units",))
def tree_global(estimator, X, y, row, units=None):
    trees, intercept = _trees(estimator)
    names = list(X.columns)
    values = _matrix(X)
    contributions = np.zeros(values.shape)
    counts = [tree.paths(values, contributions=contributions)[1] for tree in trees]
    nodes = _node_table(trees, names, counts, estimator, units)
    importance = importance_frame(names, contributions)
    data = {"nodes": nodes, "importance": importance}

    def draw(figure, interpretation):
        _draw_trees(figure, interpretation, estimator, names, len(X), units)

    return Interpretation("tree_global", data, draw, base=intercept)


@register("tree_local", "tree", "figs", options=("units",))
def tree_local(estimator, X, y, row, units=None):
    trees, intercept = _trees(estimator)
    names = list(X.columns)
    x = row.to_numpy(dtype=float)
    counts = [tree.paths(_matrix(X))[1] for tree in trees]
    records = []
    base = intercept
    for k, (tree, count) in enumerate(zip(trees, counts)):
        path = tree.path(x)
        base += tree.output[path[0]]
        for parent, child in zip(path[:-1], path[1:]):
            j = int(tree.feature[parent])
            record = {
                "tree": k + 1,
                "depth": len(records) if len(trees) == 1 else None,
                "feature": names[j],
                "value": _original(units, j, x[j]),
                "direction": "<=" if child == tree.left[parent] else ">",
                "threshold": _original(units, j, tree.threshold[parent]),
                "rows": count[child],
                "output": tree.output[child],
                "contribution": tree.output[child] - tree.output[parent],
            }
            if tree.share is not None:
                record["probability"] = tree.share[child]
            records.append(record)
    columns = ["tree", "depth", "feature", "value", "direction", "threshold", "rows"]
    columns += ["output", "contribution"]
    if trees and trees[0].share is not None:
        columns.append("probability")
    frame = pd.DataFrame.from_records(records, columns=columns)
    if hasattr(estimator, "trees_"):
        frame = frame.drop(columns="depth")
        # the depth within each tree
        frame.insert(1, "depth", frame.groupby("tree").cumcount().to_numpy() + 1)
    else:
        frame = frame.drop(columns="tree")
        frame["depth"] = np.arange(1, len(frame) + 1)

    def draw(figure, interpretation):
        _draw_path(figure, interpretation, estimator)

    return Interpretation("tree_local", frame, draw, base=base)


@register("figs_heatmap", "figs")
def figs_heatmap(estimator, X, y, row):
    trees, intercept = _trees(estimator)
    names = list(X.columns)
    values = _matrix(X)
    columns, described = {}, []
    for k, tree in enumerate(trees):
        leaf, _ = tree.paths(values)
        columns["tree %d" % (k + 1)] = tree.output[leaf]
        used = [names[j] for j in dict.fromkeys(tree.feature[tree.left >= 0])]
        described.append((k + 1, ", ".join(used), int((tree.left >= 0).sum())))
    contributions = pd.DataFrame(columns, index=X.index.copy())
    summary = pd.DataFrame(described, columns=["tree", "features", "splits"])
    spread = contributions.abs().mean(axis=0).to_numpy() if len(trees) else np.zeros(0)
    summary["importance"] = spread
    summary["share"] = spread / spread.sum() if spread.sum() > 0 else 0.0
    summary = summary.set_index("tree")
    data = {"contributions": contributions, "trees": summary}

    def draw(figure, interpretation):
        _draw_heatmap(figure, interpretation, estimator, intercept)

    return Interpretation("figs_heatmap", data, draw, base=intercept)


def _value_label(estimator, tree, node):
    if tree.share is not None:
        return "P(%s) = %s" % (estimator.classes_[1], format_number(tree.share[node]))
    if hasattr(estimator, "trees_"):
        return "value %s" % format_number(tree.output[node])
    return "mean %s" % format_number(tree.output[node])


def _draw_trees(figure, interpretation, estimator, names, n_rows, units=None):
    import matplotlib as mpl

    nodes = interpretation.data["nodes"]
    trees, _ = _trees(estimator)
    if "tree" in nodes:
        counts = [nodes.loc[nodes["tree"] == k + 1, "rows"].to_numpy() for k in range(len(trees))]
    else:
        counts = [nodes["rows"].to_numpy()]
    order = list(range(len(trees)))
    if len(trees) > DRAWN_TREES:
        spread = [np.average(np.abs(t.output), weights=c + 1e-300) for t, c in zip(trees, counts)]
        order = sorted(np.argsort(spread)[::-1][:DRAWN_TREES])
    layouts = [_layout(trees[k]) for k in order] or [None]
    width = max([7.0] + [min(MAX_INCHES, 1.35 * lay[2]) for lay in layouts if lay])
    heights = [lay[3] + 1 if lay else 1 for lay in layouts]
    figure.set_size_inches(width, min(MAX_INCHES, sum(0.95 * h + 0.4 for h in heights)))
    axes = figure.subplots(len(layouts), 1, squeeze=False, height_ratios=heights)[:, 0]
    everything = np.concatenate([t.output for t in trees]) if trees else np.zeros(1)
    limit = float(np.max(np.abs(everything - np.median(everything)))) or 1.0
    centre = float(np.median(everything)) if not hasattr(estimator, "trees_") else 0.0
    colours = mpl.colormaps["coolwarm"]
    for ax, k, lay in zip(axes, order, layouts):
        ax.axis("off")
        if lay is None:
            ax.text(0.5, 0.5, "the model has no trees: it predicts its intercept", ha="center")
            continue
        tree, count = trees[k], counts[k]
        positions, drawn, slots, levels = lay
        for node in drawn:
            x, yv = positions[node]
            if tree.left[node] >= 0 and tree.left[node] in positions:
                for child, label in ((tree.left[node], "yes"), (tree.right[node], "no")):
                    cx, cy = positions[child]
                    ax.plot([x, cx], [yv, cy], color="#95a5a6", linewidth=0.8, zorder=1)
                    ax.text(
                        (x + cx) / 2,
                        (yv + cy) / 2,
                        label,
                        fontsize=6,
                        color="#7f8c8d",
                        ha="center",
                        va="center",
                    )
            lines = []
            if tree.left[node] >= 0:
                j = tree.feature[node]
                lines.append(
                    "%s <= %s"
                    % (names[j], format_number(_original(units, j, tree.threshold[node])))
                )
            lines.append("n = %d" % round(count[node]))
            lines.append(_value_label(estimator, tree, node))
            if tree.left[node] >= 0 and tree.left[node] not in positions:
                lines.append("(subtree of %d leaves)" % _leaves_below(tree, node))
            shade = colours(0.5 + 0.45 * (tree.output[node] - centre) / limit)
            ax.text(
                x,
                yv,
                "\n".join(lines),
                ha="center",
                va="center",
                fontsize=6.5,
                zorder=2,
                bbox={
                    "boxstyle": "round,pad=0.3",
                    "facecolor": shade,
                    "edgecolor": "#7f8c8d",
                    "alpha": 0.9,
                },
            )
        ax.set_xlim(-0.6, slots - 0.4)
        ax.set_ylim(-levels - 0.5, 0.5)
        title = "tree %d of %d" % (k + 1, len(trees)) if hasattr(estimator, "trees_") else "tree"
        ax.set_title(
            "%s (n: rows of the %d explained; yes: the condition holds)" % (title, n_rows),
            fontsize=8,
        )
    if len(trees) > DRAWN_TREES:
        figure.suptitle(
            "FIGS: the %d of %d trees with the largest outputs; all are in the node table"
            % (DRAWN_TREES, len(trees)),
            fontsize=9,
        )


def _layout(tree):
    """Node positions: leaves (and the cut-off subtrees) side by side in order, each
    parent above the middle of its children, one level per depth."""
    positions = {}
    next_slot = [0]

    def place(node, depth):
        if tree.left[node] < 0 or depth >= DRAWN_DEPTH:
            positions[node] = (float(next_slot[0]), -float(depth))
            next_slot[0] += 1
            return
        place(tree.left[node], depth + 1)
        place(tree.right[node], depth + 1)
        x = (positions[tree.left[node]][0] + positions[tree.right[node]][0]) / 2.0
        positions[node] = (x, -float(depth))

    place(0, 0)
    levels = int(max(-y for _, y in positions.values()))
    return positions, sorted(positions), next_slot[0], levels


def _leaves_below(tree, node):
    if tree.left[node] < 0:
        return 1
    return _leaves_below(tree, tree.left[node]) + _leaves_below(tree, tree.right[node])


def _draw_path(figure, interpretation, estimator):
    frame = interpretation.data
    figure.set_size_inches(7, 2.5)
    ax = figure.subplots()
    if len(frame) == 0:
        ax.axis("off")
        ax.text(
            0.5,
            0.5,
            "the tree has no splits: every row gets %s" % format_number(interpretation.base),
            ha="center",
        )
        return

    def condition(r):
        return "%s %s %s" % (r["feature"], r["direction"], format_number(r["threshold"]))

    if "tree" in frame and len(frame) > MAX_PATH_BARS:
        # a long path through many trees: one bar per tree, its leaf's value
        labels, steps = [], []
        for k, part in frame.groupby("tree", sort=True):
            conditions = [condition(r) for _, r in part.iterrows()]
            text = "; ".join(conditions[:2]) + ("; ..." if len(conditions) > 2 else "")
            labels.append("tree %d: %s" % (k, text))
            steps.append(part["contribution"].sum())
        steps = np.asarray(steps)
        title_extra = "\n(one bar per tree; every split is in the table)"
    else:
        labels = []
        for _, r in frame.iterrows():
            prefix = "tree %d: " % r["tree"] if "tree" in frame else ""
            labels.append(
                "%s%s = %s %s %s"
                % (
                    prefix,
                    r["feature"],
                    format_number(r["value"]),
                    r["direction"],
                    format_number(r["threshold"]),
                )
            )
        steps = frame["contribution"].to_numpy()
        title_extra = ""
    longest = max(len(label) for label in labels)
    # the labels take about 0.07 inch a character at this size; the bars keep 4.5 inches
    figure.set_size_inches(
        min(MAX_INCHES, max(7.0, 4.5 + 0.07 * longest)), min(MAX_INCHES, 0.34 * len(steps) + 1.8)
    )
    start = interpretation.base + np.concatenate([[0.0], np.cumsum(steps)[:-1]])
    y = np.arange(len(steps))[::-1]
    ax.barh(y, steps, left=start, color=np.where(steps >= 0, "#c0392b", "#2f5d9a"))
    ax.axvline(interpretation.base, color="black", linewidth=0.8, linestyle=":")
    ends = np.concatenate([start, start + steps])
    pad = 0.05 * (float(ends.max() - ends.min()) or 1.0)
    ax.set_xlim(float(ends.min()) - pad, float(ends.max()) + pad)
    ax.set_yticks(y)
    ax.set_yticklabels(labels, fontsize=8)
    ax.set_xlabel(output_label(estimator))
    total = interpretation.base + steps.sum()
    ax.set_title(
        "Decision path: %s at the start, %s at the end%s"
        % (format_number(interpretation.base), format_number(total), title_extra),
        fontsize=10,
    )
    ax.grid(axis="x", alpha=0.3)


def _draw_heatmap(figure, interpretation, estimator, intercept):
    contributions = interpretation.data["contributions"]
    summary = interpretation.data["trees"]
    figure.set_size_inches(max(7.0, 0.45 * contributions.shape[1] + 3), 6)
    ax = figure.subplots()
    if contributions.shape[1] == 0:
        ax.axis("off")
        ax.text(0.5, 0.5, "the model has no trees", ha="center")
        return
    values = contributions.to_numpy()
    prediction = intercept + values.sum(axis=1)
    order = np.argsort(prediction, kind="stable")
    if len(order) > HEATMAP_ROWS:
        order = order[np.linspace(0, len(order) - 1, HEATMAP_ROWS).round().astype(int)]
    shown = values[order]
    limit = float(np.max(np.abs(shown))) or 1.0
    image = ax.imshow(
        shown, aspect="auto", cmap="coolwarm", vmin=-limit, vmax=limit, interpolation="nearest"
    )
    ax.set_xticks(np.arange(values.shape[1]))
    ax.set_xticklabels(
        ["%d: %s" % (k, _shorten(summary.loc[k, "features"])) for k in summary.index],
        rotation=60,
        ha="right",
        fontsize=7,
    )
    ax.set_yticks([])
    ax.set_ylabel("rows, in order of prediction (lowest on top)")
    ax.set_xlabel("tree: the features it splits on")
    colour_bar = figure.colorbar(image, ax=ax)
    colour_bar.set_label("the tree's contribution to the %s" % output_label(estimator))
    ax.set_title(
        "FIGS: each tree's contribution to %d of %d rows (intercept %s)"
        % (len(order), len(values), format_number(intercept)),
        fontsize=10,
    )


def _shorten(text, limit=28):
    return text if len(text) <= limit else text[: limit - 1] + "…"
