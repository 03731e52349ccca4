"""Messy frames: every check gives a result or a Python exception, and neither
the frame nor meta_info changes."""

import copy
import importlib.util

import numpy as np
import pandas as pd
import pytest

from zeka.data.quality_scan import quality_scan as qs

HAS_PYARROW = importlib.util.find_spec("pyarrow") is not None


def messy_frames():
    n = 6
    frames = {
        "no rows": pd.DataFrame(
            {"a": pd.Series([], dtype=object), "b": pd.Series([], dtype=float)}
        ),
        "no columns": pd.DataFrame(index=range(4)),
        "all missing": pd.DataFrame({"a": [None] * n, "b": [np.nan] * n}),
        "duplicate labels": pd.DataFrame(
            [["x", 1, "!"], ["x", 1, "!"], ["y", 2, "1"]], columns=["a", "a", "b"]
        ),
        "non-string labels": pd.DataFrame(
            {0: ["a", "#"], 1.5: [1, 1], None: ["1", "x"], True: ["a", "b"]}
        ),
        "tuple labels": pd.DataFrame({("t", 1): ["a", "?"], ("t", 2): [1.0, 2.0]}),
        "named index": pd.DataFrame(
            {"index": ["a", "a"], "v": [1, 1]}, index=pd.Index([3, 4], name="id")
        ),
        "multiindex rows": pd.DataFrame(
            {"v": ["a", "a", "b"]}, index=pd.MultiIndex.from_tuples([(1, 2), (1, 3), (2, 2)])
        ),
        "dtypes": pd.DataFrame(
            {
                "cat": pd.Categorical(["a", "b", "a", None, "#", "a"]),
                "int64": pd.array([1, None, 3, 3, 3, 3], dtype="Int64"),
                "bool": pd.array([True, None, False, True, True, True], dtype="boolean"),
                "str": pd.array(["a", None, "1", "#", "a", "bb"], dtype="string"),
                "dt": pd.to_datetime(["2020-01-01", None, "2020-01-02", "2020-01-01", None, None]),
            }
        ),
        "mixed objects": pd.DataFrame(
            {
                "o": pd.Series(
                    [
                        "1",
                        None,
                        np.nan,
                        pd.NA,
                        pd.NaT,
                        b"2",
                        "x",
                        "\ud800",
                        "\u00e9\u00e9",
                        3,
                        "!!",
                        "",
                    ],
                    dtype=object,
                )
            }
        ),
    }
    if HAS_PYARROW:
        frames["pyarrow strings"] = pd.DataFrame(
            {"s": pd.array(["a", None, "1", "#"], dtype="string[pyarrow]")}
        )
    return frames


FRAMES = messy_frames()


def kinds(frame):
    return {
        c: (
            "numerical"
            if pd.api.types.is_numeric_dtype(frame[c]) and not pd.api.types.is_bool_dtype(frame[c])
            else "categorical"
        )
        for c in frame.columns
        if not isinstance(frame[c], pd.DataFrame)
    }


@pytest.mark.filterwarnings("ignore:All-NaN slice:RuntimeWarning")
@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("name", list(FRAMES))
def test_checks_finish_and_leave_the_frame_alone(name):
    frame = FRAMES[name]
    before = frame.copy(deep=True)
    meta = kinds(frame)
    meta_before = copy.deepcopy(meta)
    check = qs.DataIntegrityCheck(frame, meta)
    n_columns = frame.shape[1]
    for table in (
        check.is_single_value(),
        check.null_ratio(),
        check.long_string(),
        check.special_characters(),
        check.mixed_data_type(),
    ):
        assert len(table) == n_columns
    report = check.single_column_check()
    assert report.data.shape == (n_columns, 8)
    report.to_html()
    duplicates = check.duplicated_samples()
    assert isinstance(duplicates, (str, pd.DataFrame))
    if name != "duplicate labels":
        check.highly_correlated_features().to_html()
    pd.testing.assert_frame_equal(frame, before)
    assert meta == meta_before


def test_duplicate_labels_rows_are_per_column():
    check = qs.DataIntegrityCheck(FRAMES["duplicate labels"], None)
    report = check.single_column_check().data
    assert list(report.index) == ["a", "a", "b"]
    np.testing.assert_allclose(report[("Special Characters", "Ratio")].tolist(), [0, 0, 2 / 3])
    assert report[("Mixed Data Types", "Mixed")].tolist() == [False, False, True]


def test_mixed_object_column_values():
    check = qs.DataIntegrityCheck(FRAMES["mixed objects"], None)
    report = check.single_column_check().data.loc["o"]
    # 12 values, 4 missing; of the 8 others "1", b"2" and 3 convert.
    assert report[("Null Ratio", "")] == 4 / 12
    assert report[("Mixed Data Types", "Categorical : Numerical")] == "0.625 : 0.375"
    assert report[("Special Characters", "Example Samples")] == ["\ud800", "!!"]
