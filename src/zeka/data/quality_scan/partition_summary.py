"""Per-partition summaries of the single-column integrity checks, and their merge.

A summary holds, for one block of rows, everything the single-column checks
need to answer for all rows at once: counts add, the text-length histograms
add, the example lists keep their first-occurrence order and the special-only
counts their order of first occurrence. `summarise_partition` is the one
place that reads a partition's values for these checks; `merge` combines two
summaries of consecutive blocks (the earlier one first) and is associative,
so summaries may be merged in any tree that keeps the blocks in order.

Nothing here imports Dask: the functions run on plain pandas frames.
"""

from __future__ import annotations

import math
from typing import Any

import numpy as np
import pandas as pd

from zeka.data.quality_scan._column_scan import column_facts
from zeka.data.quality_scan.quality_scan import DataIntegrityCheck

# The mixed-type examples kept per kind, as the pandas check keeps them.
MAX_EXAMPLES = 3


class _Marker:
    """Sentinels appended to a column so that the native mixed-type scan always
    reports its counts: equal to nothing but themselves."""

    __slots__ = ()

    def __eq__(self, other: object) -> bool:
        return self is other

    def __hash__(self) -> int:
        return id(self)


class _NumberMarker(_Marker, float):
    __slots__ = ()


class _TextMarker(_Marker, str):
    __slots__ = ()


_NUMBER = _NumberMarker(0.0)
_TEXT = _TextMarker("-")


def _is_numeric_dtype(dtype: Any) -> bool:
    return isinstance(dtype, np.dtype) and dtype.kind in "biufcmM"


def _string_count(values: np.ndarray) -> int:
    """How many of the (present) values are instances of str."""
    if values.size == 0:
        return 0
    return int(np.fromiter((isinstance(v, str) for v in values), bool, values.size).sum())


def _holds_only_str(dtype: Any) -> bool:
    """pandas' string dtypes: every present value is a str."""
    return isinstance(dtype, pd.StringDtype) or (
        isinstance(dtype, pd.ArrowDtype) and "string" in str(dtype)
    )


def _text_lengths(present: pd.Series) -> np.ndarray:
    """len(str(x)) of every present value, in order."""
    if _holds_only_str(present.dtype):
        return present.str.len().to_numpy(dtype=np.int64)
    values = present.to_numpy(dtype=object)
    return (
        pd.Series(values, dtype=object).astype(str).str.len().to_numpy(dtype=np.int64)
        if values.size
        else np.empty(0, np.int64)
    )


def _length_histogram(lengths: np.ndarray) -> dict[int, int]:
    if lengths.size == 0:
        return {}
    found, counts = np.unique(lengths, return_counts=True)
    return {int(k): int(c) for k, c in zip(found, counts)}


def _first_positions(values: np.ndarray, examples: set) -> list:
    """The examples in the order in which values equal to them first occur."""
    placed = []
    for example in examples:
        hits = np.flatnonzero(values == example)
        placed.append((int(hits[0]) if hits.size else values.size, example))
    placed.sort(key=lambda item: item[0])
    return [example for _, example in placed]


def _mixed_counts(present: pd.Series) -> tuple[int, list, list]:
    """(values that convert with float(), the first distinct number examples,
    the first distinct text examples), by the native mixed-type scan."""
    values = present.to_numpy(dtype=object)
    # One marker of each kind after the values: the scan then always finds a
    # mixed column and reports shares from which the counts follow exactly;
    # the markers come last, so they take no example slot a value would take.
    extended = pd.Series(np.concatenate([values, np.array([_NUMBER, _TEXT], dtype=object)]))
    record = DataIntegrityCheck._check_mixed_percentage(extended)
    total = values.size + 2
    nums = int(round(record["numbers"] * total)) - 1
    numbers = {v for v in record["numbers_examples"] if v is not _NUMBER}
    strings = {v for v in record["strings_examples"] if v is not _TEXT}
    return nums, _first_positions(values, numbers), _first_positions(values, strings)


def objects(values: list) -> np.ndarray:
    """A one-dimensional object array of the given values (tuples stay whole)."""
    out = np.empty(len(values), dtype=object)
    for i, value in enumerate(values):
        out[i] = value
    return out


def _distinct(values: pd.Series, at_most: int = 2) -> list:
    found = pd.unique(values.to_numpy(dtype=object)) if len(values) else []
    return list(found[:at_most])


def _two_distinct(present: pd.Series) -> list:
    """The first value and the first one unequal to it, of the present values."""
    if len(present) == 0:
        return []
    first = present.iloc[0]
    other = np.flatnonzero(np.asarray(present != first, dtype=bool))
    values = [first] if other.size == 0 else [first, present.iloc[other[0]]]
    return list(pd.Series(values, dtype=object))


def _scanned_summary(column: pd.Series, text_lengths: bool) -> dict[str, Any] | None:
    """The summary from the native one-pass scan of a text column, whose present
    values are all str (the scan's examples and counts are then exactly the
    checks'); None for any other column."""
    if _is_numeric_dtype(column.dtype):
        return None
    facts = column_facts(column, examples=MAX_EXAMPLES)
    if facts is None or facts["strings"] != facts["size"] - facts["missing"]:
        return None
    present = column.dropna()
    return {
        "size": facts["size"],
        "nulls": facts["missing"],
        "distinct": _two_distinct(present),
        "present": facts["size"] - facts["missing"],
        "strings": facts["strings"],
        "lengths": dict(facts["lengths"]) if text_lengths else None,
        "special": dict(facts["special_counts"]),
        "numbers": facts["numbers"],
        "number_examples": [value for _, value in facts["number_examples"]],
        "text_examples": [value for _, value in facts["string_examples"]],
    }


def summarise_column(column: pd.Series, text_lengths: bool = True) -> dict[str, Any]:
    """The summary of one column of a partition (see summarise_partition)."""
    scanned = _scanned_summary(column, text_lengths)
    if scanned is not None:
        return scanned
    present = column.dropna()
    n_present = int(present.size)
    numeric = _is_numeric_dtype(column.dtype)
    if numeric:
        strings = 0
    elif _holds_only_str(column.dtype):
        strings = n_present
    else:
        strings = _string_count(present.to_numpy(dtype=object))
    summary: dict[str, Any] = {
        "size": int(column.size),
        "nulls": int(column.size - n_present),
        "distinct": _two_distinct(present),
        "present": n_present,
        "strings": strings,
        # None: not measured here (a numeric block, measured only when the
        # column turns out to hold strings overall)
        "lengths": None
        if numeric or not text_lengths
        else _length_histogram(_text_lengths(present)),
        "special": {},
        "numbers": 0,
        "number_examples": [],
        "text_examples": [],
    }
    if numeric:
        summary["numbers"] = n_present
        summary["number_examples"] = _distinct(present, MAX_EXAMPLES)
        return summary
    special = DataIntegrityCheck._get_special_samples(column)
    if special:
        summary["special"] = dict(special)
    nums, number_examples, text_examples = _mixed_counts(present)
    summary["numbers"] = nums
    summary["number_examples"] = number_examples
    summary["text_examples"] = text_examples
    return summary


def summarise_partition(frame: pd.DataFrame) -> dict[str, Any]:
    """The summary of one partition: its row count and one column summary per
    column, by position."""
    return {
        "rows": int(frame.shape[0]),
        "columns": [summarise_column(frame.iloc[:, i]) for i in range(frame.shape[1])],
    }


def _first_distinct(first: list, second: list, at_most: int) -> list:
    out = list(first)
    for value in second:
        if len(out) >= at_most:
            break
        if not any(value == kept for kept in out):
            out.append(value)
    return out


def _merge_counts(first: dict | None, second: dict | None) -> dict | None:
    if first is None or second is None:
        return None
    out = dict(first)
    for key, count in second.items():
        out[key] = out.get(key, 0) + count
    return out


def merge_column(a: dict[str, Any], b: dict[str, Any]) -> dict[str, Any]:
    joined = a["distinct"] + b["distinct"]
    distinct = list(pd.unique(objects(joined))) if joined else []
    return {
        "size": a["size"] + b["size"],
        "nulls": a["nulls"] + b["nulls"],
        "distinct": distinct[:2],
        "present": a["present"] + b["present"],
        "strings": a["strings"] + b["strings"],
        "lengths": _merge_counts(a["lengths"], b["lengths"]),
        "special": _merge_counts(a["special"], b["special"]),
        "numbers": a["numbers"] + b["numbers"],
        "number_examples": _first_distinct(
            a["number_examples"], b["number_examples"], MAX_EXAMPLES
        ),
        "text_examples": _first_distinct(a["text_examples"], b["text_examples"], MAX_EXAMPLES),
    }


def merge(a: dict[str, Any], b: dict[str, Any]) -> dict[str, Any]:
    """The summary of a partition's rows followed by another's."""
    if len(a["columns"]) != len(b["columns"]):
        raise ValueError(
            f"partitions with {len(a['columns'])} and {len(b['columns'])} columns cannot be merged"
        )
    return {
        "rows": a["rows"] + b["rows"],
        "columns": [merge_column(x, y) for x, y in zip(a["columns"], b["columns"])],
    }


def missing_lengths(frame: pd.DataFrame, positions: list[int]) -> dict[int, dict[int, int]]:
    """Text-length histograms of the given columns, also of numeric blocks."""
    return {i: _length_histogram(_text_lengths(frame.iloc[:, i].dropna())) for i in positions}


def long_values(frame: pd.DataFrame, limits: dict[int, Any], keep: int) -> dict[int, tuple]:
    """For each column position with a length limit: (how many present values
    have a text longer than the limit, the row labels of the first `keep`)."""
    out = {}
    for i, limit in limits.items():
        column = frame.iloc[:, i]
        positions = _scanned_long_positions(column, limit)
        if positions is not None:
            out[i] = (len(positions), list(column.index[positions[:keep]]))
            continue
        present = column.dropna()
        is_long = _text_lengths(present) > limit
        labels = present.index[is_long]
        out[i] = (int(is_long.sum()), list(labels[:keep]))
    return out


def _scanned_long_positions(column: pd.Series, limit: Any) -> list[int] | None:
    """The positions of the values longer than `limit`, by the native scan of a
    column whose present values are all str; None for any other column."""
    if _is_numeric_dtype(column.dtype):
        return None
    try:  # lengths are whole numbers: longer than 12.5 is longer than 12
        bound = math.floor(limit)
    except (TypeError, ValueError, OverflowError):  # NaN, infinity, no number
        return None
    if not -(2**62) < bound < 2**62:
        return None
    facts = column_facts(column, examples=0, long_over=bound)
    if facts is None or facts["strings"] != facts["size"] - facts["missing"]:
        return None
    return facts["long_positions"]
