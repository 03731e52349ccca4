"""The per-column integrity checks written with pandas and per-value Python
calls: the reference of the tests and the baseline of bench/bench_quality_scan.py.

Helpers (the string-column test, the special-character test and the two
association measures) are written here in plain Python and numpy as well.
"""

from collections import defaultdict

import numpy as np
import pandas as pd
from pandas.api.types import infer_dtype


def is_string_column(column):
    values = column[~pd.isna(column)]
    return len(values) > 0 and 2 * int(values.map(lambda v: isinstance(v, str)).sum()) > len(values)


def is_special_only(text):
    return len(text) > 0 and not any(c.isalnum() for c in text)


def long_string(data, quantile_threshold=0.8, length_difference=5, format_list=list):
    rows = []
    for i in range(data.shape[1]):
        column = data.iloc[:, i].dropna()
        if not is_string_column(column):
            rows.append([0, []])
            continue
        lengths = column.map(lambda x: len(str(x))).astype("int64")
        threshold = lengths.quantile(quantile_threshold, interpolation="nearest")
        idx = [label for label, n in lengths.items() if n > threshold + length_difference]
        rows.append([len(idx), format_list(idx)])
    result = pd.DataFrame(rows, columns=["Long String Num", "Long String Index"])
    result.index = data.columns
    return result


def special_samples(column):
    if infer_dtype(column) in ("integer", "decimal", "floating"):
        return None
    counts = defaultdict(lambda: 0)
    for sample in column:
        if isinstance(sample, str) and len(sample) >= 1 and is_special_only(sample):
            counts[sample] += 1
    return counts or None


def special_characters(data, n_most_common=2):
    rows = []
    for i in range(data.shape[1]):
        column = data.iloc[:, i]
        counts = special_samples(column)
        if counts:
            share = sum(counts.values()) / column.size
            top = sorted(counts.items(), key=lambda kv: kv[1], reverse=True)[:n_most_common]
            rows.append([data.columns[i], str(share * 100) + "%", [k for k, _ in top]])
        else:
            rows.append([data.columns[i], "0.0%", []])
    table = pd.DataFrame(
        rows, columns=["Column Name", "% Special-Only Samples", "Most Common Special-Only Samples"]
    )
    return table.set_index(["Column Name"])


def check_mixed_percentage(column):
    total = column.count()
    numbers, strings = set(), set()

    def is_float(x):
        try:
            float(x)
        except ValueError:
            if len(strings) < 3:
                strings.add(x)
            return False
        if len(numbers) < 3:
            numbers.add(x)
        return True

    nums = sum(column.apply(is_float))
    if nums == total or nums == 0:
        return None
    return {
        "strings": np.abs(nums - total) / total,
        "numbers": nums / total,
        "strings_examples": strings,
        "numbers_examples": numbers,
    }


def mixed_data_type(data):
    rows = {}
    for i in range(data.shape[1]):
        column = data.iloc[:, i].dropna()
        mix = check_mixed_percentage(column) if is_string_column(column) else None
        if mix is None:
            rows[i] = {"With mixed": False, "Categorical : Numerical": "-"}
        else:
            rows[i] = {
                "With mixed": True,
                "Categorical : Numerical": str(np.round(mix["strings"], 4))
                + " : "
                + str(np.round(mix["numbers"], 4)),
            }
    result = pd.DataFrame.from_dict(rows).T
    if data.shape[1]:
        result.index = pd.Index(list(data.columns))
    return result


def single_column_check(data, format_list=list):
    """The report's table (before styling)."""
    single = pd.DataFrame(data.nunique() == 1, columns=["Is Single Value"])
    null = pd.DataFrame(data.isna().sum() / data.shape[0], columns=["Null Ratio"])
    special = special_characters(data)
    special["% Special-Only Samples"] = special["% Special-Only Samples"].map(
        lambda x: float(x[:-1]) / 100
    )
    scol = pd.concat(
        [single, null, mixed_data_type(data), long_string(data, format_list=format_list), special],
        axis=1,
    )
    scol.columns = [
        [
            "Is Single Value",
            "Null Ratio",
            "Mixed Data Types",
            "Mixed Data Types",
            "Long String",
            "Long String",
            "Special Characters",
            "Special Characters",
        ],
        ["", "", "Mixed", "Categorical : Numerical", "Num", "Index", "Ratio", "Example Samples"],
    ]
    return scol


def entropy(values):
    _, counts = np.unique(values, return_counts=True)
    p = counts / counts.sum()
    return float(-(p * np.log(p)).sum())


def symmetric_theil_u(x, y):
    x, y = np.asarray(x, dtype=float), np.asarray(y, dtype=float)
    hx, hy = entropy(x), entropy(y)
    if hx + hy == 0:
        return 1.0
    _, joint = np.unique(np.stack([x, y], axis=1), axis=0, return_inverse=True)
    hxy = entropy(joint.ravel())
    return 2 * (hx + hy - hxy) / (hx + hy)


def correlation_ratio(categories, measurements):
    categories = np.asarray(categories, dtype=float)
    y = np.asarray(measurements, dtype=float)
    if y.size == 0 or np.all(y == y[0]):
        return 0.0
    groups, inverse = np.unique(categories, return_inverse=True)
    inverse = inverse.ravel()
    sizes = np.bincount(inverse, minlength=len(groups))
    means = np.bincount(inverse, weights=y, minlength=len(groups)) / sizes
    between = float((sizes * (means - y.mean()) ** 2).sum())
    total = float(((y - y.mean()) ** 2).sum())
    return float(np.sqrt(min(max(between / total, 0.0), 1.0)))
