"""DistributedIntegrityCheck on a local cluster of two worker processes gives
what DataIntegrityCheck gives on the same rows collected into one frame."""

import numpy as np
import pandas as pd
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from reference.dask_frames import compare_all, split_frame
from zeka.data.quality_scan.distributed import DistributedIntegrityCheck

TEXTS = ["a", "bb", "word", "1", "2.5", "-3", "nan", " 7 ", "!!", "#", "?!", "  ", "", "é", "ж٣"]
LONG = "a text much longer than the others around it"
META = {
    "n1": "numerical",
    "n2": "numerical",
    "n3": "numerical",
    "t": "categorical",
    "c": "categorical",
    "m": "categorical",
    "o": "other",
}


@st.composite
def frames(draw):
    n = draw(st.integers(0, 30))
    ties = st.sampled_from([0.0, 1.0, 1.0, 2.0, -0.0, np.nan])
    text = st.one_of(st.sampled_from(TEXTS + [LONG]), st.none())
    data = {
        "n1": draw(st.lists(ties, min_size=n, max_size=n)),
        "n2": draw(st.lists(st.one_of(ties, st.floats(-5, 5)), min_size=n, max_size=n)),
        "n3": draw(st.lists(st.sampled_from([0.0, 3.0, np.inf, np.nan]), min_size=n, max_size=n)),
        "t": draw(st.lists(text, min_size=n, max_size=n)),
        "c": draw(st.lists(st.sampled_from(["x", "y", "z", None]), min_size=n, max_size=n)),
        "m": draw(st.lists(st.one_of(text, st.integers(0, 3)), min_size=n, max_size=n)),
        "o": draw(st.lists(st.integers(0, 2), min_size=n, max_size=n)),
    }
    frame = pd.DataFrame(
        {k: pd.Series(v, dtype=float if k[0] == "n" else object) for k, v in data.items()}
    )
    frame["o"] = frame["o"].astype(np.int64)
    if draw(st.booleans()):
        # a repeated row somewhere later
        if n >= 2:
            i, j = draw(st.integers(0, n - 1)), draw(st.integers(0, n - 1))
            frame.iloc[j] = frame.iloc[i]
    if draw(st.booleans()):
        frame["t"] = frame["t"].astype("string[pyarrow]")
        frame["c"] = frame["c"].astype(pd.ArrowDtype(__import__("pyarrow").string()))
    cuts = draw(st.lists(st.integers(0, n), max_size=5))
    return frame, cuts


@settings(
    max_examples=10,
    deadline=None,
    derandomize=True,
    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow],
)
@given(frames())
def test_drawn_frames_split_anywhere(cluster_client, case):
    frame, cuts = case
    compare_all(split_frame(frame, cuts), META, cluster_client, long_args=((0.8, 5), (0.5, 0)))


def _words(n, seed):
    rng = np.random.default_rng(seed)
    return pd.Series(rng.choice(["ab", "cde", "f", "gh", "!!"], n), dtype=object)


def _base(n=24, seed=0):
    rng = np.random.default_rng(seed)
    return pd.DataFrame(
        {
            "n1": rng.integers(0, 4, n).astype(float),
            "n2": rng.normal(size=n),
            "n3": rng.integers(0, 3, n).astype(float),
            "t": _words(n, seed + 1),
            "c": pd.Series(rng.choice(["x", "y", "z"], n), dtype=object),
            "m": _words(n, seed + 2),
            "o": rng.integers(0, 2, n),
        }
    )


def test_long_strings_only_in_the_last_partition(cluster_client):
    frame = _base()
    frame.loc[[21, 23], "t"] = [LONG, LONG + "!"]
    local, spread = compare_all(split_frame(frame, [8, 16]), META, cluster_client)
    table = spread.long_string()
    assert table.loc["t", "Long String Num"] == 2
    assert "21" in table.loc["t", "Long String Index"]


def test_duplicated_rows_spread_over_partitions(cluster_client):
    frame = _base()
    frame.iloc[9] = frame.iloc[2]
    frame.iloc[20] = frame.iloc[2]
    frame.iloc[17] = frame.iloc[5]
    _, spread = compare_all(split_frame(frame, [6, 12, 18]), META, cluster_client)
    found = spread.duplicated_samples()
    assert sorted(map(list, found.index)) == [[2, 9, 20], [5, 17]]


def test_rank_ties_across_partitions(cluster_client):
    frame = _base(40)
    frame["n1"] = np.repeat([1.0, 2.0, 3.0, 4.0], 10)  # each tie crosses a boundary
    frame["n2"] = np.tile([0.0, 1.0], 20)
    compare_all(split_frame(frame, [5, 15, 25, 35]), META, cluster_client)


def test_a_column_missing_everywhere_in_one_partition(cluster_client):
    frame = _base()
    frame.loc[8:15, ["n2", "c", "t"]] = np.nan
    compare_all(split_frame(frame, [8, 16]), META, cluster_client)


def test_mixed_examples_come_from_different_partitions(cluster_client):
    n = 24
    m = pd.Series(["a"] * n, dtype=object)
    # four of each kind, one to three per partition: the first three count
    m[[3, 11, 19, 22]] = ["1", "2.5", "7", "9"]
    m[[12, 20, 23]] = ["b", "c", "d"]
    frame = _base(n)
    frame["m"] = m
    _, spread = compare_all(split_frame(frame, [8, 16]), META, cluster_client)
    mix = spread.data_mix("m")
    assert mix["numbers_examples"] == {"1", "2.5", "7"}
    assert mix["strings_examples"] == {"a", "b", "c"}
    assert spread.mixed_data_type().loc["m", "Categorical : Numerical"] == "0.8333 : 0.1667"


@pytest.mark.parametrize("text_dtype", [object, "string[pyarrow]", "str"])
def test_text_storage(cluster_client, text_dtype):
    frame = _base(30)
    frame["t"] = frame["t"].astype(text_dtype)
    frame.loc[4, "t"] = None
    compare_all(split_frame(frame, [0, 0, 10, 30]), META, cluster_client)


def test_no_rows_and_default_client(cluster_client):
    frame = _base().iloc[:0]
    # client=None: the running client is Dask's default scheduler
    compare_all(split_frame(frame, [0, 0]), META, None)


def test_bad_arguments(cluster_client):
    ddf = split_frame(_base(), [10])
    with pytest.raises(TypeError, match="meta_info must be of type dict or None, not list"):
        DistributedIntegrityCheck(ddf, [], client=cluster_client)
    with pytest.raises(TypeError, match="dask.dataframe.DataFrame"):
        DistributedIntegrityCheck(_base(), None)
    spread = DistributedIntegrityCheck(ddf, {"n1": "numerical"}, client=cluster_client)
    with pytest.raises(KeyError):
        spread.highly_correlated_features()
    with pytest.raises(TypeError, match="quantile_threshold"):
        spread.long_string("0.8")


def test_more_long_strings_than_the_index_lists(cluster_client):
    frame = _base(40)
    many = [1, 5, 9, 14, 22, 31, 39]  # under a fifth of the values: the quantile is short
    frame.loc[many, "t"] = LONG
    _, spread = compare_all(split_frame(frame, [10, 20, 30]), META, cluster_client)
    table = spread.long_string()
    assert table.loc["t", "Long String Num"] == len(many)
    assert "more" in table.loc["t", "Long String Index"]


def test_categorical_and_nullable_columns(cluster_client):
    rng = np.random.default_rng(3)
    n = 50
    frame = pd.DataFrame(
        {
            # categories in another order than the values first appear
            "a": pd.Categorical(rng.choice(["z", "y", "x"], n), categories=["x", "y", "z"]),
            "b": pd.Series(rng.choice(["p", "q"], n), dtype=object),
            "c": rng.normal(size=n),
            "d": pd.array(rng.integers(0, 3, n), dtype="Int64"),
        }
    )
    frame.loc[[3, 30], "a"] = np.nan
    frame.loc[[7], "d"] = pd.NA
    meta = {"a": "categorical", "b": "categorical", "c": "numerical", "d": "numerical"}
    compare_all(split_frame(frame, [10, 25, 25]), meta, cluster_client, mixed=())
