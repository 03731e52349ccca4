"""What the report's preparation leaves out of the loaded table, checked against pandas."""

import numpy as np
import pandas as pd
import pytest

from zeka.data.datasets.credit import credit_raw, credit_trim1
from zeka.report.inputs import ReportInputError, Source, prepare


def messy_frame(rows=60, seed=0):
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame(
        {
            "amount": rng.normal(size=rows),
            "income": [str(round(v, 2)) for v in rng.uniform(1, 9, size=rows)],
            "city": rng.choice(["a", "b", "c"], size=rows),
            "constant": "same",
            "y": rng.integers(0, 2, size=rows).astype(float),
        }
    )
    frame.loc[[3, 7], "income"] = ["unknown", " 4.5 "]
    frame.loc[[5, 11], "y"] = np.nan
    duplicates = frame.iloc[[0, 1, 2]].copy()
    return pd.concat([frame, duplicates], ignore_index=True)


def test_prepare_leaves_out_what_it_says():
    frame = messy_frame()
    prep = prepare(Source(frame, "y", "messy"))
    assert prep.rows_loaded == len(frame)
    assert prep.missing_target_rows == frame["y"].isna().sum() == 2
    assert prep.duplicated_rows == frame[frame["y"].notna()].duplicated().sum() == 3
    assert prep.single_valued_columns == ["constant"]
    assert prep.numeric_text_columns == {"income": 1}  # "unknown"; " 4.5 " reads as a number
    used = prep.frame
    assert list(used.columns) == ["amount", "income", "city", "y"]
    assert used["income"].dtype == float and np.isnan(used.loc[3, "income"])
    assert used.loc[7, "income"] == 4.5
    assert len(used) == len(frame) - 5
    assert frame["income"].iloc[3] == "unknown"  # the loaded table is not changed


def test_the_raw_credit_table_prepares_like_its_cleaned_version():
    prep = prepare(Source(credit_raw(), "Default", "SimuCredit_raw"))
    trimmed = credit_trim1()
    assert prep.duplicated_rows == 60
    assert prep.single_valued_columns == ["Country"]
    assert list(prep.numeric_text_columns) == ["Income"]
    assert len(prep.frame) == len(trimmed)
    np.testing.assert_array_equal(
        np.sort(prep.frame["Income"].dropna().to_numpy()),
        np.sort(trimmed["Income"].dropna().to_numpy()),
    )


@pytest.mark.parametrize(
    "column, message",
    [
        ([1.0] * 30, r"single value \(1\.0\)"),
        (np.ones(30, dtype=np.int64), r"single value \(1\);"),
        (["yes"] * 30, r"single value \('yes'\)"),
        ([np.nan] * 30, "all missing"),
        (np.r_[np.arange(29.0), np.inf], r"infinite values \(1 of 30 rows\)"),
        (np.r_[np.arange(28.0), -np.inf, np.nan], r"infinite values \(1 of 30 rows\)"),
    ],
)
def test_unlearnable_targets_are_refused(column, message):
    frame = pd.DataFrame({"x": np.arange(30.0), "y": column})
    with pytest.raises(ReportInputError, match=message):
        prepare(Source(frame, "y", "t"))


def test_too_few_rows_are_refused():
    frame = pd.DataFrame({"x": np.arange(6.0), "y": [0, 1] * 3})
    with pytest.raises(ReportInputError, match="at least"):
        prepare(Source(frame, "y", "t"))
