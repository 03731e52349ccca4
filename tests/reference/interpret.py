"""Plain definitions the interpretation views are checked against."""

import numpy as np
import pandas as pd


def tree_walk(feature, threshold, left, right, value, X, single_precision=False):
    """Every row's path, one row and one node at a time: (leaf, contributions, node counts)."""
    X = np.asarray(X, dtype=float)
    n, p = X.shape
    leaf = np.zeros(n, dtype=np.int64)
    contributions = np.zeros((n, p))
    counts = np.zeros(len(feature))
    for r in range(n):
        node = 0
        counts[node] += 1
        while left[node] >= 0:
            j = feature[node]
            x = np.float32(X[r, j]) if single_precision else X[r, j]
            child = left[node] if x <= threshold[node] else right[node]
            contributions[r, j] += value[child] - value[node]
            node = child
            counts[node] += 1
        leaf[r] = node
    return leaf, contributions, counts


def woe_table(x, cuts, y, weights=None):
    """Weight of evidence per bin of one feature, binned at ``cuts`` (bin b holds
    (cut[b-1], cut[b]]), with pandas: events are y == 1; a bin without events or without
    non-events gets half a row of each added."""
    w = np.ones(len(x)) if weights is None else np.asarray(weights, float)
    frame = pd.DataFrame(
        {
            "bin": pd.cut(x, np.concatenate([[-np.inf], cuts, [np.inf]]), labels=False),
            "event": w * (y == 1),
            "non_event": w * (y == 0),
            "row": 1,
        }
    )
    sums = frame.groupby("bin").sum().reindex(range(len(cuts) + 1), fill_value=0)
    events, non_events = sums["event"].astype(float), sums["non_event"].astype(float)
    zero = (events == 0) | (non_events == 0)
    events_adj = events + 0.5 * zero
    non_events_adj = non_events + 0.5 * zero
    share_event = events_adj / events.sum()
    share_non_event = non_events_adj / non_events.sum()
    woe = np.log(share_non_event / share_event)
    iv = (share_non_event - share_event) * woe
    return pd.DataFrame(
        {
            "rows": sums["row"].astype(float),
            "events": events,
            "non_events": non_events,
            "woe": woe,
            "iv": iv,
        }
    )
