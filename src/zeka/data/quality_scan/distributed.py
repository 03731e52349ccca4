"""The integrity checks over a Dask data frame, with the results of
`DataIntegrityCheck` on the same rows collected into one pandas frame.

Every check is a scan whose per-partition results merge: each partition is
summarised on a worker, the summaries merge in a tree, and a second pass
runs only where a result needs a value of all rows first (the long-string
threshold, the ranks of Spearman's correlation, the mean of a correlation
ratio). What reaches the calling process are the merged summaries and the
results, never the rows (duplicated samples bring back the duplicated rows,
which are the result).

Needs the optional extra `zeka[dask]`.
"""

from __future__ import annotations

import functools
import math
import operator
from typing import Any, Callable

import numpy as np
import pandas as pd

try:
    import dask
    import dask.dataframe as dd
    from dask import delayed
except ImportError as error:  # pragma: no cover - depends on the environment
    raise ImportError(
        "zeka.data.quality_scan.distributed needs Dask: pip install 'zeka[dask]'"
    ) from error

import seaborn as sns

from zeka.data.quality_scan import partition_summary as summaries
from zeka.data.quality_scan import partition_tables as tables
from zeka.data.quality_scan.quality_scan import DataIntegrityCheck
from zeka.data.quality_scan.utils import format_list

__all__ = ["DistributedIntegrityCheck"]

# Partial results combined per task of the merge tree.
SPLIT_EVERY = 8
# Row-hash buckets merged apart, so that no single task holds all hashes.
HASH_BUCKETS = 16


def _fold(combine: Callable[[Any, Any], Any], parts: list) -> Any:
    return functools.reduce(combine, parts)


def tree_reduce(parts: list, combine: Callable[[Any, Any], Any], split_every: int = SPLIT_EVERY):
    """Combine delayed partial results in a tree, keeping their order."""
    parts = list(parts)
    if not parts:
        raise ValueError("nothing to combine")
    while len(parts) > 1:
        parts = [
            delayed(_fold, pure=False)(combine, parts[i : i + split_every])
            for i in range(0, len(parts), split_every)
        ]
    return parts[0]


def _default_client():
    try:
        from distributed import default_client
    except ImportError:  # pragma: no cover
        return None
    try:
        return default_client()
    except ValueError:
        return None


class _Runner:
    """Runs graphs on the given client, or on Dask's default scheduler."""

    def __init__(self, client):
        self.client = client if client is not None else _default_client()

    def compute(self, *objs):
        if self.client is None:
            return dask.compute(*objs)
        return tuple(self.client.gather(self.client.compute(list(objs))))

    def keep(self, *objs):
        """Results to be used by later graphs, left where they are computed
        (one graph for all of them)."""
        if self.client is None:
            kept = dask.compute(*objs)
        else:
            kept = self.client.compute(list(objs))
        return kept[0] if len(objs) == 1 else tuple(kept)

    def fetch(self, kept):
        """The value of a kept result."""
        return kept if self.client is None else self.client.gather(kept)


def _format_long(count: int, labels: list) -> Any:
    # format_list names its first few labels and counts the rest; only the
    # first labels are brought back, the others stand in as placeholders.
    return format_list(labels + [None] * (count - len(labels)))


def _nearest_position(n: int, q: float) -> int:
    """The sorted position that quantile(q, interpolation="nearest") picks among
    n values (numpy rounds half to even; older pandas pass q as a percentage)."""
    as_given = round((n - 1) * q)
    as_percentage = round((n - 1) * ((q * 100.0) / 100.0))
    if as_given == as_percentage:
        return int(as_given)
    return int(pd.Series(np.arange(n)).quantile(q, interpolation="nearest"))


def _nearest_length(histogram: dict[int, int], q: float):
    lengths = sorted(histogram)
    n = sum(histogram.values())
    k = _nearest_position(n, q)
    seen = 0
    for length in lengths:
        seen += histogram[length]
        if seen > k:
            break
    # The value in the type pandas gives for it.
    first = pd.Series(np.array([length], dtype=np.int64)).quantile(q, interpolation="nearest")
    return type(first)(length)


def _merge_histograms(a: dict, b: dict) -> dict:
    return {i: summaries._merge_counts(a[i], b[i]) for i in a}


def _merge_long(a: dict, b: dict) -> dict:
    out = {}
    for i, (count, labels) in a.items():
        count_b, labels_b = b[i]
        out[i] = (count + count_b, (labels + labels_b)[:LONG_LABELS])
    return out


# Row labels of long values brought back per column: as many as format_list shows.
LONG_LABELS = 5


def _concat_candidates(found: list) -> pd.DataFrame:
    rows = [c for c, _ in found]
    firsts = [f for _, f in found if len(f)]
    candidates = pd.concat(rows) if rows else None
    if candidates is None or len(candidates) == 0:
        # No row occurs twice: one row alone gives the same empty result.
        candidates = firsts[0] if firsts else pd.concat([f for _, f in found])
    return DataIntegrityCheck(candidates, None).duplicated_samples()


def _entropy(counts) -> float:
    total = 0.0
    weighted = 0.0
    for c in counts:
        if c > 0:
            c = float(c)
            total += c
            weighted += c * math.log(c)
    return max(0.0, math.log(total) - weighted / total) if total > 0 else 0.0


def _clamp(v: float, low: float, high: float) -> float:
    return low if v < low else (high if high < v else v)


def _uncertainty(hx: float, hy: float, hxy: float) -> float:
    if hx + hy <= 0:
        return 1.0
    return _clamp(2 * (hx + hy - hxy) / (hx + hy), 0.0, 1.0)


class DistributedIntegrityCheck:
    """The integrity checks of `DataIntegrityCheck` over a `dask.dataframe.DataFrame`.

    Every method takes the arguments of its pandas counterpart and returns
    what that gives for the same rows collected into one pandas frame
    (`data.compute()`). `client` is a `distributed.Client`; without one the
    checks run on Dask's default scheduler (the current client, if any).
    """

    def __init__(self, data, meta_info, client=None):
        if not isinstance(data, dd.DataFrame):
            raise TypeError("data must be a dask.dataframe.DataFrame, not " + type(data).__name__)
        if meta_info is not None and type(meta_info) is not dict:
            raise TypeError(
                "meta_info must be of type dict or None, not " + type(meta_info).__name__
            )
        self.data = data
        self.meta_info = meta_info
        self.client = client

    # ------------------------------------------------------------ plumbing

    def _runner(self) -> _Runner:
        return _Runner(self.client)

    def _partitions(self) -> list:
        return list(self.data.to_delayed())

    def _over_partitions(self, function, *args):
        return [delayed(function, pure=False)(part, *args) for part in self._partitions()]

    @property
    def _columns(self) -> pd.Index:
        return self.data.columns

    def _summary(self) -> dict:
        """The merged per-column summary of all rows, with the text lengths of
        every string column."""
        runner = self._runner()
        (summary,) = runner.compute(
            tree_reduce(self._over_partitions(summaries.summarise_partition), summaries.merge)
        )
        unmeasured = [
            i
            for i, column in enumerate(summary["columns"])
            if self._is_string(column) and column["lengths"] is None
        ]
        if unmeasured:
            (lengths,) = runner.compute(
                tree_reduce(
                    self._over_partitions(summaries.missing_lengths, unmeasured),
                    _merge_histograms,
                )
            )
            for i, histogram in lengths.items():
                summary["columns"][i]["lengths"] = histogram
        return summary

    @staticmethod
    def _is_string(column: dict) -> bool:
        # is_string_column of the column's present values: most are str
        return column["present"] > 0 and 2 * column["strings"] > column["present"]

    # --------------------------------------------------------- the checks

    def is_single_value(self):
        return self._single_value_table(self._summary())

    def null_ratio(self):
        return self._null_ratio_table(self._summary())

    def long_string(self, quantile_threshold=0.8, length_difference=5):
        q = self._quantile_argument(quantile_threshold)
        return self._long_string_table(self._summary(), q, length_difference)

    def special_characters(self, n_most_common=2):
        return self._special_table(self._summary(), n_most_common)

    def mixed_data_type(self):
        return self._mixed_table(self._summary())

    def data_mix(self, column_name):
        """The mix record of one column (the shares and, in sets, the first
        three distinct numbers and texts), or None when it is not mixed."""
        position = self._columns.get_loc(column_name)
        return self._mix_record(self._summary()["columns"][position])

    def single_column_check(self):
        summary = self._summary()
        single_value = self._single_value_table(summary)
        null_ratio = self._null_ratio_table(summary)
        long_string = self._long_string_table(summary, 0.8, 5)
        special_characters = self._special_table(summary, 2)
        mixed_data_type = self._mixed_table(summary)
        share = "% Special-Only Samples"
        special_characters[share] = special_characters[share].map(lambda x: float(x[:-1]) / 100)
        level0 = [
            "Is Single Value",
            "Null Ratio",
            "Mixed Data Types",
            "Mixed Data Types",
            "Long String",
            "Long String",
            "Special Characters",
            "Special Characters",
        ]
        level1 = [
            "",
            "",
            "Mixed",
            "Categorical : Numerical",
            "Num",
            "Index",
            "Ratio",
            "Example Samples",
        ]
        if len(self._columns) == 0:
            scol = pd.DataFrame(
                index=self._columns, columns=pd.MultiIndex.from_arrays((level0, level1))
            )
        else:
            scol = pd.concat(
                [single_value, null_ratio, mixed_data_type, long_string, special_characters],
                axis=1,
            )
            scol.columns = [level0, level1]
        size = [
            {"selector": "th.col_heading", "props": "text-align: center;"},
            {"selector": "th.col_heading.level0", "props": "font-size: 1.0em;"},
        ]
        border = [
            {"selector": "th,td", "props": [("border-style", "solid"), ("border-width", "1px")]}
        ]
        return scol.style.set_table_styles(size + border).format(precision=4)

    # ------------------------------------------------ tables from summary

    def _single_value_table(self, summary):
        flags = pd.Series(
            [len(c["distinct"]) == 1 for c in summary["columns"]], index=self._columns, dtype=bool
        )
        return pd.DataFrame(flags, columns=["Is Single Value"])

    def _null_ratio_table(self, summary):
        nulls = pd.Series(
            [c["nulls"] for c in summary["columns"]], index=self._columns, dtype=np.int64
        )
        return pd.DataFrame(nulls / summary["rows"], columns=["Null Ratio"])

    @staticmethod
    def _quantile_argument(quantile_threshold):
        kind = type(quantile_threshold)
        if isinstance(quantile_threshold, (str, bytes)) or not (
            hasattr(kind, "__float__") or hasattr(kind, "__index__")
        ):
            raise TypeError("quantile_threshold must be a real number, not '" + kind.__name__ + "'")
        q = float(quantile_threshold)
        # pandas refuses a quantile outside [0, 1] with its own error
        pd.Series([0]).quantile(q, interpolation="nearest")
        return q

    def _long_string_table(self, summary, q, length_difference):
        limits = {}
        for i, column in enumerate(summary["columns"]):
            if self._is_string(column):
                limits[i] = _nearest_length(column["lengths"], q) + length_difference
        found = {}
        if limits:
            (found,) = self._runner().compute(
                tree_reduce(
                    self._over_partitions(summaries.long_values, limits, LONG_LABELS), _merge_long
                )
            )
        display_result = []
        for i in range(len(summary["columns"])):
            if i not in found:
                display_result.append([0, []])
                continue
            count, labels = found[i]
            display_result.append([count, _format_long(count, labels)])
        result = pd.DataFrame(display_result, columns=["Long String Num", "Long String Index"])
        result.index = self._columns
        return result

    def _special_table(self, summary, n_most_common):
        display_result = []
        by_count = operator.itemgetter(1)
        for column_name, column in zip(self._columns, summary["columns"]):
            special = column["special"]
            if not special:
                display_result.append([column_name, "0.0%", []])
                continue
            share = sum(special.values()) / column["size"]
            percent = str(share * 100) + "%"
            ordered = sorted(special.items(), key=by_count, reverse=True)[:n_most_common]
            display_result.append([column_name, percent, [value for value, _ in ordered]])
        table = pd.DataFrame(
            display_result,
            columns=["Column Name", "% Special-Only Samples", "Most Common Special-Only Samples"],
        )
        return table.set_index(["Column Name"])

    def _mix_record(self, column):
        if not self._is_string(column):
            return None
        total_rows, nums = column["present"], column["numbers"]
        if nums == total_rows or nums == 0:
            return None
        return {
            "strings": np.abs(nums - total_rows) / total_rows,
            "numbers": nums / total_rows,
            "strings_examples": set(column["text_examples"]),
            "numbers_examples": set(column["number_examples"]),
        }

    def _mixed_table(self, summary):
        display_result = {}
        for i, column in enumerate(summary["columns"]):
            mix = self._mix_record(column)
            if mix is not None:
                strings = str(np.round(mix["strings"], 4))
                numbers = str(np.round(mix["numbers"], 4))
                display_result[i] = {
                    "With mixed": True,
                    "Categorical : Numerical": strings + " : " + numbers,
                }
            else:
                display_result[i] = {"With mixed": False, "Categorical : Numerical": "-"}
        result = pd.DataFrame.from_dict(display_result).T
        if len(self._columns) > 0:
            result.index = pd.Index(list(self._columns))
        return result

    # -------------------------------------------------- duplicated samples

    def duplicated_samples(self):
        runner = self._runner()
        n_buckets = min(HASH_BUCKETS, self.data.npartitions)
        counted = self._over_partitions(tables.hash_counts, n_buckets)
        buckets = [
            tree_reduce(
                [delayed(tables.bucket_of)(c, b) for c in counted], tables.merge_hash_counts
            )
            for b in range(n_buckets)
        ]
        rows = tree_reduce([delayed(tables.rows_of)(c) for c in counted], operator.add)
        repeated, n_samples = runner.keep(delayed(tables.repeated_hashes)(*buckets), rows)
        if runner.fetch(n_samples) == 0:
            return "Dataset does not contain any data"
        found = self._over_partitions(tables.candidate_rows, repeated)
        (result,) = runner.compute(delayed(_concat_candidates)(found))
        return result

    # ------------------------------------------- highly correlated features

    def highly_correlated_features(self):
        columns = self._columns
        num_features = [col for col in columns if self.meta_info[col] == "numerical"]
        cat_features = [col for col in columns if self.meta_info[col] == "categorical"]
        table = self._association_table(num_features, cat_features)
        cmap = sns.diverging_palette(250, 5, as_cmap=True)
        return (
            table.astype(float)
            .style.background_gradient(cmap=cmap)
            .set_properties(**{"width": "15em", "text-align": "center"})
            .format(precision=2)
        )

    def _association_table(self, num_features, cat_features):
        columns = self._columns
        num_at = [columns.get_loc(c) for c in num_features]
        cat_at = [columns.get_loc(c) for c in cat_features]
        runner = self._runner()
        merged = runner.keep(
            tree_reduce(
                self._over_partitions(tables.association_counts, num_at, cat_at),
                tables.merge_association_counts,
            )
        )
        (counts,) = runner.compute(delayed(tables.without_tables)(merged))
        rows = counts["rows"]
        k = len(num_at)
        n_common, same_rows = counts["n_common"], counts["same_rows"]
        pairs = {
            (a, b): (int(n_common[a, b]), bool(same_rows[a, b]))
            for a in range(k)
            for b in range(a + 1)
            if n_common[a, b] > 0
        }
        apart = [(a, b) for (a, b), (_, same) in pairs.items() if not same]
        apart = apart + [(b, a) for a, b in apart]
        means = {}
        for (j, g), group in counts["groups"].items():
            if group["n"] > 0 and group["low"] != group["high"]:
                means[j, g] = group["total"] / group["n"]

        sums = {"ranks": {}, "squares": {}}
        if pairs or means:
            own = runner.keep(delayed(tables.rank_tables)(merged))
            common = {}
            if apart:
                common = runner.keep(
                    tree_reduce(
                        self._over_partitions(tables.common_value_tables, num_at, apart),
                        tables.merge_common_value_tables,
                    )
                )
            (sums,) = runner.compute(
                tree_reduce(
                    self._over_partitions(
                        tables.rank_sums, num_at, pairs, means, cat_at, own, common
                    ),
                    tables.merge_rank_sums,
                )
            )

        size = len(columns)
        out = np.full((size, size), np.nan)
        if rows > 0:
            for a, b in pairs:
                sxy, sxx, syy = sums["ranks"][a, b]
                xy, xx, yy = sxy / 4, sxx / 4, syy / 4
                divisor = math.sqrt(xx * yy)
                value = xy / divisor if divisor != 0 else np.nan
                out[num_at[a], num_at[b]] = out[num_at[b], num_at[a]] = value
            self._uncertainties(counts, cat_at, out)
            for (j, g), group in counts["groups"].items():
                out[num_at[j], cat_at[g]] = out[cat_at[g], num_at[j]] = self._ratio(
                    group, means.get((j, g)), sums["squares"].get((j, g))
                )
        return pd.DataFrame(out, index=columns, columns=columns)

    @staticmethod
    def _uncertainties(counts, cat_at, out):
        uniques, joint = counts["uniques"], counts["joint"]
        for a in range(len(cat_at)):
            out[cat_at[a], cat_at[a]] = 1.0 if counts["present"][a] > 0 else np.nan
            for b in range(a + 1, len(cat_at)):
                gx, gy, cells = joint[a, b]
                if cells.sum() == 0:
                    value = np.nan
                else:
                    # joint cells in the order of the first column's codes,
                    # then the second's; margins in code order
                    order = np.lexsort((gy, gx))
                    hxy = _entropy(cells[order].tolist())
                    hx = _entropy(
                        np.bincount(gx, weights=cells, minlength=len(uniques[a])).tolist()
                    )
                    hy = _entropy(
                        np.bincount(gy, weights=cells, minlength=len(uniques[b])).tolist()
                    )
                    value = _uncertainty(hx, hy, hxy)
                out[cat_at[a], cat_at[b]] = out[cat_at[b], cat_at[a]] = value

    @staticmethod
    def _ratio(group, mean, squares):
        n = group["n"]
        if n == 0:
            return np.nan
        if mean is None:  # every value equal
            return 0.0
        ss_between = 0.0
        for size, total in zip(group["sizes"].tolist(), group["sums"].tolist()):
            if size == 0:
                continue
            deviation = total / size - mean
            ss_between += size * deviation * deviation
        if math.isnan(squares) or math.isnan(ss_between):
            return np.nan
        if squares <= 0:
            return 0.0
        return math.sqrt(_clamp(ss_between / squares, 0.0, 1.0))
