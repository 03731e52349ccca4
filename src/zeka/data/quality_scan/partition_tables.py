"""Per-partition pieces of the integrity checks that look at several columns at
once: row hashes for duplicated samples, and the counts, rank tables and sums
of the association table. Each function reads one partition (a pandas frame);
the merges combine the results of consecutive partitions, the earlier first.

Every sum of integers is kept exact (Python ints); the orders the checks
depend on (first appearance of a category, sorted values for ranks) are
carried along, so the merged results are those of all rows at once.
"""

from __future__ import annotations

import numbers
from typing import Any

import numpy as np
import pandas as pd
from pandas.api.types import infer_dtype

from zeka.data.quality_scan.partition_summary import objects

# ---------------------------------------------------------------- row hashes

_NAN = np.array([np.nan])
_PRIME = np.uint64(1099511628211)


def _float_hashes(values: np.ndarray) -> np.ndarray:
    # -0.0 equals 0.0 and every NaN is the same missing value.
    values = np.where(np.isnan(values), np.nan, values + 0.0)
    return pd.util.hash_array(values)


def _value_hashes(values: np.ndarray) -> np.ndarray:
    """One hash per present value of an object array: a str by its text, a
    number by its float value (1, 1.0 and True alike), any other object one
    hash for all (the exact comparison afterwards sorts them out)."""
    out = np.full(values.size, np.uint64(0x9E3779B97F4A7C15), dtype=np.uint64)
    if infer_dtype(values, skipna=False) in ("string", "empty"):
        return pd.util.hash_array(values) if values.size else out
    kinds = np.zeros(values.size, dtype=np.int8)  # 0 other, 1 str, 2 number
    numbers_at = []
    for i, v in enumerate(values):
        if isinstance(v, str):
            kinds[i] = 1
        elif isinstance(v, (numbers.Real, np.number)) and not isinstance(v, np.timedelta64):
            try:
                numbers_at.append(float(v))
                kinds[i] = 2
            except (TypeError, ValueError, OverflowError):
                pass
    if (kinds == 1).any():
        out[kinds == 1] = pd.util.hash_array(values[kinds == 1])
    if numbers_at:
        out[kinds == 2] = _float_hashes(np.array(numbers_at, dtype=np.float64))
    return out


def _column_hashes(column: pd.Series) -> np.ndarray:
    """One hash per value; values that duplicated() counts as equal always get
    equal hashes, whatever the block's dtype (unequal values rarely share one)."""
    dtype = column.dtype
    if (isinstance(dtype, np.dtype) and dtype.kind in "biuf") or (
        pd.api.types.is_numeric_dtype(dtype) and not isinstance(dtype, pd.CategoricalDtype)
    ):
        return _float_hashes(column.to_numpy(dtype=np.float64, na_value=np.nan))
    if isinstance(dtype, np.dtype) and dtype.kind == "M" or isinstance(dtype, pd.DatetimeTZDtype):
        return pd.util.hash_pandas_object(column, index=False).to_numpy()
    # Text and other objects: the distinct values are hashed, each row takes
    # its value's hash (a missing value the hash of NaN, as in number columns).
    codes, uniques = pd.factorize(column)
    hashes = np.append(_value_hashes(np.asarray(uniques, dtype=object)), _float_hashes(_NAN))
    return hashes[codes]


def row_hashes(frame: pd.DataFrame) -> np.ndarray:
    h = np.zeros(frame.shape[0], dtype=np.uint64)
    for i in range(frame.shape[1]):
        h = (h * _PRIME) ^ _column_hashes(frame.iloc[:, i])
    return h


def hash_counts(frame: pd.DataFrame, buckets: int) -> tuple[list, int]:
    """The distinct row hashes of a partition with their counts, split into
    `buckets` by hash, and the partition's row count."""
    h = row_hashes(frame)
    found, counts = np.unique(h, return_counts=True)
    which = found % np.uint64(buckets)
    return [(found[which == b], counts[which == b]) for b in range(buckets)], int(frame.shape[0])


def bucket_of(counted: tuple[list, int], bucket: int) -> tuple[np.ndarray, np.ndarray]:
    return counted[0][bucket]


def rows_of(counted: tuple[list, int]) -> int:
    return counted[1]


def merge_hash_counts(
    a: tuple[np.ndarray, np.ndarray], b: tuple[np.ndarray, np.ndarray]
) -> tuple[np.ndarray, np.ndarray]:
    found, at = np.unique(np.concatenate([a[0], b[0]]), return_inverse=True)
    counts = np.bincount(at, weights=np.concatenate([a[1], b[1]]), minlength=found.size)
    return found, counts.astype(np.int64)


def repeated_hashes(*buckets: tuple[np.ndarray, np.ndarray]) -> np.ndarray:
    return np.sort(np.concatenate([found[counts > 1] for found, counts in buckets]))


def candidate_rows(frame: pd.DataFrame, repeated: np.ndarray) -> tuple[pd.DataFrame, pd.DataFrame]:
    """(the rows whose hash occurs more than once overall, the first row)."""
    keep = np.isin(row_hashes(frame), repeated)
    return frame.iloc[np.flatnonzero(keep)], frame.iloc[:1]


# ------------------------------------------------------- association counts


def _unique_counts(values: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    found, counts = np.unique(values, return_counts=True)
    return found, counts.astype(np.int64)


def merge_value_table(
    a: tuple[np.ndarray, np.ndarray], b: tuple[np.ndarray, np.ndarray]
) -> tuple[np.ndarray, np.ndarray]:
    """Sorted distinct values with counts, of both tables."""
    found, at = np.unique(np.concatenate([a[0], b[0]]), return_inverse=True)
    counts = np.zeros(found.size, dtype=np.int64)
    np.add.at(counts, at, np.concatenate([a[1], b[1]]))
    return found, counts


def numerical_values(frame: pd.DataFrame, positions: list[int]) -> np.ndarray:
    """The numerical columns as float, one row per column (as astype(float))."""
    if not positions:
        return np.empty((0, frame.shape[0]))
    block = frame.iloc[:, positions].astype(float)
    return np.ascontiguousarray(block.to_numpy(dtype=np.float64, na_value=np.nan).T)


def association_counts(frame: pd.DataFrame, num_at: list[int], cat_at: list[int]) -> dict[str, Any]:
    """Pass one of the association table over a partition."""
    x = numerical_values(frame, num_at)
    k = len(num_at)
    finite = np.isfinite(x)
    n_common = np.zeros((k, k), dtype=object)
    same_rows = np.ones((k, k), dtype=bool)
    for a in range(k):
        for b in range(a + 1):
            both = finite[a] & finite[b]
            n_common[a, b] = n_common[b, a] = int(both.sum())
            same_rows[a, b] = same_rows[b, a] = bool(np.array_equal(finite[a], finite[b]))
    own = [_unique_counts(x[a][~np.isnan(x[a])]) for a in range(k)]

    cats = []
    for p in cat_at:
        codes, uniques = pd.factorize(frame.iloc[:, p])
        cats.append((codes.astype(np.int64), objects(list(uniques))))
    # Joint counts of every pair of categorical columns over the rows where
    # both have a value: (code of the first, code of the second, count).
    joint = {}
    for a in range(len(cats)):
        for b in range(a + 1, len(cats)):
            ca, cb = cats[a][0], cats[b][0]
            both = (ca >= 0) & (cb >= 0)
            width = max(len(cats[b][1]), 1)
            found, counts = np.unique(ca[both] * width + cb[both], return_counts=True)
            joint[a, b] = (found // width, found % width, counts.astype(np.int64))
    # Per numerical and categorical column, over the rows where both have a
    # value: the count and sum per category, the count, sum, least and
    # greatest value.
    groups = {}
    for j in range(k):
        present = ~np.isnan(x[j])
        for g in range(len(cats)):
            codes = cats[g][0]
            both = present & (codes >= 0)
            y, c = x[j][both], codes[both]
            levels = len(cats[g][1])
            groups[j, g] = {
                "sizes": np.bincount(c, minlength=levels).astype(np.int64),
                "sums": np.bincount(c, weights=y, minlength=levels),
                "n": int(both.sum()),
                "total": float(y.sum()),
                "low": float(y.min()) if y.size else np.inf,
                "high": float(y.max()) if y.size else -np.inf,
            }
    return {
        "rows": int(frame.shape[0]),
        "n_common": n_common,
        "same_rows": same_rows,
        "own": own,
        "uniques": [u for _, u in cats],
        "present": [int((c >= 0).sum()) for c, _ in cats],
        "joint": joint,
        "groups": groups,
    }


def _scatter(values: np.ndarray, at: np.ndarray, size: int) -> np.ndarray:
    out = np.zeros(size, dtype=values.dtype)
    np.add.at(out, at, values)
    return out


def merge_association_counts(a: dict[str, Any], b: dict[str, Any]) -> dict[str, Any]:
    uniques, remap_a, remap_b = [], [], []
    for ua, ub in zip(a["uniques"], b["uniques"]):
        codes, merged = pd.factorize(objects(list(ua) + list(ub)))
        uniques.append(objects(list(merged)))
        remap_a.append(codes[: len(ua)].astype(np.int64))
        remap_b.append(codes[len(ua) :].astype(np.int64))
    joint = {}
    for (p, q), (xa, ya, ca) in a["joint"].items():
        xb, yb, cb = b["joint"][p, q]
        gx = np.concatenate([remap_a[p][xa], remap_b[p][xb]])
        gy = np.concatenate([remap_a[q][ya], remap_b[q][yb]])
        width = max(len(uniques[q]), 1)
        found, at = np.unique(gx * width + gy, return_inverse=True)
        counts = _scatter(np.concatenate([ca, cb]), at, found.size)
        joint[p, q] = (found // width, found % width, counts)
    groups = {}
    for (j, g), ga in a["groups"].items():
        gb = b["groups"][j, g]
        levels = len(uniques[g])
        groups[j, g] = {
            "sizes": _scatter(ga["sizes"], remap_a[g], levels)
            + _scatter(gb["sizes"], remap_b[g], levels),
            "sums": _scatter(ga["sums"], remap_a[g], levels)
            + _scatter(gb["sums"], remap_b[g], levels),
            "n": ga["n"] + gb["n"],
            "total": ga["total"] + gb["total"],
            "low": min(ga["low"], gb["low"]),
            "high": max(ga["high"], gb["high"]),
        }
    return {
        "rows": a["rows"] + b["rows"],
        "n_common": a["n_common"] + b["n_common"],
        "same_rows": a["same_rows"] & b["same_rows"],
        "own": [merge_value_table(x, y) for x, y in zip(a["own"], b["own"])],
        "uniques": uniques,
        "present": [x + y for x, y in zip(a["present"], b["present"])],
        "joint": joint,
        "groups": groups,
    }


def without_tables(counts: dict[str, Any]) -> dict[str, Any]:
    """The merged counts without the value tables (which stay on the cluster)."""
    return {key: value for key, value in counts.items() if key != "own"}


def rank_tables(counts: dict[str, Any]) -> list[tuple[np.ndarray, np.ndarray]]:
    return [twice_ranks(table) for table in counts["own"]]


def twice_ranks(table: tuple[np.ndarray, np.ndarray]) -> tuple[np.ndarray, np.ndarray]:
    """(sorted distinct values, twice their average rank): a value occupying
    the places L+1..L+c has the rank (2L + c + 1) / 2."""
    found, counts = table
    before = np.concatenate([[0], np.cumsum(counts)[:-1]]).astype(np.int64)
    return found, 2 * before + counts + 1


def common_value_tables(
    frame: pd.DataFrame, num_at: list[int], pairs: list[tuple[int, int]]
) -> dict[tuple[int, int], tuple]:
    """For each pair (a, b): the table of a's values on the rows where both a
    and b are finite."""
    x = numerical_values(frame, num_at)
    finite = np.isfinite(x)
    return {(a, b): _unique_counts(x[a][finite[a] & finite[b]]) for a, b in pairs}


def merge_common_value_tables(a: dict, b: dict) -> dict:
    return {key: merge_value_table(a[key], b[key]) for key in a}


def _exact_sum(values: np.ndarray) -> int:
    """The exact sum of int64 values: high and low 32 bits summed apart."""
    low = int((values & np.int64(0xFFFFFFFF)).sum())
    high = int((values >> np.int64(32)).sum())
    return (high << 32) + low


def rank_sums(
    frame: pd.DataFrame,
    num_at: list[int],
    pairs: dict[tuple[int, int], tuple[int, Any, Any]],
    means: dict[tuple[int, int], float],
    cat_at: list[int],
    own: list[tuple[np.ndarray, np.ndarray]],
    common: dict[tuple[int, int], tuple[np.ndarray, np.ndarray]],
) -> dict[str, dict]:
    """Pass two: for each numerical pair (a, b) -> (n, which tables), the exact
    sums of products of centred twice-ranks over the rows where both are
    finite; for each (numerical, categorical) pair, the sum of squared
    deviations from its mean."""
    x = numerical_values(frame, num_at)
    finite = np.isfinite(x)
    out: dict[str, dict] = {"ranks": {}, "squares": {}}
    for (a, b), (n, same) in pairs.items():
        rows = finite[a] & finite[b]
        ta = own[a] if same else twice_ranks(common[a, b])
        tb = own[b] if same else twice_ranks(common[b, a])
        ra = ta[1][np.searchsorted(ta[0], x[a][rows])] - (n + 1)
        rb = tb[1][np.searchsorted(tb[0], x[b][rows])] - (n + 1)
        out["ranks"][a, b] = (_exact_sum(ra * rb), _exact_sum(ra * ra), _exact_sum(rb * rb))
    if means:
        codes = {g: pd.factorize(frame.iloc[:, cat_at[g]])[0] for _, g in means}
        for (j, g), mean in means.items():
            both = ~np.isnan(x[j]) & (codes[g] >= 0)
            out["squares"][j, g] = float(((x[j][both] - mean) ** 2).sum())
    return out


def merge_rank_sums(a: dict[str, dict], b: dict[str, dict]) -> dict[str, dict]:
    return {
        "ranks": {
            key: tuple(p + q for p, q in zip(value, b["ranks"][key]))
            for key, value in a["ranks"].items()
        },
        "squares": {key: value + b["squares"][key] for key, value in a["squares"].items()},
    }
