"""Dask frames with chosen partition boundaries, and the comparison of the
distributed checks with the pandas ones on the same rows (cluster tests only)."""

import math

import dask
import dask.dataframe as dd
import numpy as np
import pandas as pd

from zeka.data.quality_scan.distributed import DistributedIntegrityCheck
from zeka.data.quality_scan.quality_scan import DataIntegrityCheck


def _piece(frame, start, stop):
    return frame.iloc[start:stop]


def split_frame(frame: pd.DataFrame, cuts) -> dd.DataFrame:
    """A Dask frame whose partitions are frame[0:c1], frame[c1:c2], ...: equal
    cuts give empty partitions. The dtypes stay as they are (object text
    stays object)."""
    bounds = [0, *sorted(cuts), len(frame)]
    pieces = [dask.delayed(_piece)(frame, a, b) for a, b in zip(bounds[:-1], bounds[1:])]
    with dask.config.set({"dataframe.convert-string": False}):
        return dd.from_delayed(pieces, meta=frame.iloc[:0], verify_meta=False)


SIMPLE = ["is_single_value", "null_ratio", "mixed_data_type", "special_characters"]


def assert_same_table(expected, got):
    if isinstance(expected, str):
        assert got == expected
        return
    pd.testing.assert_frame_equal(got, expected, check_exact=True)


def assert_same_association(expected: pd.DataFrame, got: pd.DataFrame, meta_info):
    """Spearman and Theil's U cells bit for bit; the correlation ratio (sums of
    floats in another order) to rounding."""
    pd.testing.assert_index_equal(got.index, expected.index)
    pd.testing.assert_index_equal(got.columns, expected.columns)
    kinds = [meta_info[c] for c in expected.columns]
    for i, ki in enumerate(kinds):
        for j, kj in enumerate(kinds):
            e, g = expected.iat[i, j], got.iat[i, j]
            where = (expected.index[i], expected.columns[j])
            if math.isnan(e):
                assert math.isnan(g), where
            elif ki == kj:
                assert g == e, (where, e, g)
            else:
                assert math.isclose(g, e, rel_tol=1e-9, abs_tol=1e-12), (where, e, g)


def html(styler):
    return styler.set_uuid("t").to_html()


def compare_all(ddf: dd.DataFrame, meta_info, client, long_args=((0.8, 5),), mixed=("m",)):
    """Every check of the distributed class against the pandas class on
    ddf.compute()."""
    full = ddf.compute()
    local = DataIntegrityCheck(full, meta_info)
    spread = DistributedIntegrityCheck(ddf, meta_info, client=client)
    for name in SIMPLE:
        assert_same_table(getattr(local, name)(), getattr(spread, name)())
    for q, d in long_args:
        assert_same_table(local.long_string(q, d), spread.long_string(q, d))
    assert_same_table(local.duplicated_samples(), spread.duplicated_samples())
    assert html(spread.single_column_check()) == html(local.single_column_check())
    assert_same_association(
        local.highly_correlated_features().data, spread.highly_correlated_features().data, meta_info
    )
    for column in mixed:
        assert spread.data_mix(column) == local._get_data_mix(full[column].dropna())
    return local, spread


def _slow_piece(frame, start, stop, seconds):
    import time

    time.sleep(seconds)
    return frame.iloc[start:stop]


def slow_frame(frame: pd.DataFrame, parts: int, seconds: float) -> dd.DataFrame:
    """A Dask frame of `parts` equal partitions, each taking `seconds` to read."""
    bounds = np.linspace(0, len(frame), parts + 1).astype(int)
    pieces = [
        dask.delayed(_slow_piece, pure=True)(frame, a, b, seconds)
        for a, b in zip(bounds[:-1], bounds[1:])
    ]
    with dask.config.set({"dataframe.convert-string": False}):
        return dd.from_delayed(pieces, meta=frame.iloc[:0], verify_meta=False)


def _deadly_piece(frame):
    import os

    os._exit(3)  # the worker process dies reading this partition


def deadly_frame(frame: pd.DataFrame) -> dd.DataFrame:
    """A Dask frame whose second partition kills every worker that reads it."""
    pieces = [dask.delayed(_piece)(frame, 0, len(frame)), dask.delayed(_deadly_piece)(frame)]
    with dask.config.set({"dataframe.convert-string": False}):
        return dd.from_delayed(pieces, meta=frame.iloc[:0], verify_meta=False)
