"""Inputs that another thread rewrites during a call. A DataIntegrityCheck
whose frame changes while a check runs gives a result it could have given on
some state of the frame, or raises an ordinary Python exception; it never
crashes, and never raises SystemError or a RuntimeError of our own C++. A
kernel that runs without the GIL reads the indices it checked, whatever the
caller's array holds by then."""

import itertools
import sys
import threading
import traceback

import numpy as np
import pandas as pd
import pytest

from zeka.data.quality_scan.quality_scan import DataIntegrityCheck
from zeka.models._boost_tree import bin_sums
from zeka.models._pair_gain import pair_gains

CATEGORICAL = ["c0", "c1"]
NUMERICAL = ["n0", "n1"]
META_INFO = {**dict.fromkeys(CATEGORICAL, "categorical"), **dict.fromkeys(NUMERICAL, "numerical")}
ROUNDS = 12


def frame(seed, rows=300):
    rng = np.random.default_rng(seed)
    words = np.array(
        ["alpha", "beta", "%%", "12.5", " 1_000 ", "x" * (20 + seed), None, "--", "\u00e9t\u00e9"],
        dtype=object,
    )
    text = {name: rng.choice(words, rows) for name in CATEGORICAL}
    numbers = {name: rng.normal(size=rows).round(seed + 1) for name in NUMERICAL}
    return pd.DataFrame({**text, **numbers})


def is_internal(error):
    """SystemError, or a RuntimeError raised inside native code itself."""
    if isinstance(error, SystemError):
        return True
    return isinstance(error, RuntimeError) and len(traceback.extract_tb(error.__traceback__)) <= 1


def table(check, name):
    result = getattr(check, name)()
    return result if isinstance(result, pd.DataFrame) else result.data


def same(x, y):
    if isinstance(x, float) and isinstance(y, float):
        return x == y or (np.isnan(x) and np.isnan(y)) or abs(x - y) <= 1e-12 * abs(x)
    return type(x) is type(y) and x == y


def mixes(a, b):
    """Every frame whose columns each come from `a` or from `b`."""
    for choice in itertools.product([a, b], repeat=a.shape[1]):
        yield pd.DataFrame({name: source[name] for name, source in zip(a.columns, choice)})


def candidates(name, a, b):
    """The values each cell of a check's table may take when every column it
    reads is `a`'s or `b`'s: the union over all mixes of the two frames."""
    cells = {}
    for mixed in mixes(a, b):
        for key, value in cells_of(table(DataIntegrityCheck(mixed, META_INFO), name)).items():
            cells.setdefault(key, []).append(value)
    return cells


def cells_of(result):
    """Every cell of a table, by (row label, column position)."""
    return {
        (row, j): result.iat[i, j]
        for i, row in enumerate(result.index)
        for j in range(result.shape[1])
    }


def is_possible(result, cells):
    found = cells_of(result)
    return found.keys() == cells.keys() and all(
        any(same(value, option) for option in cells[key]) for key, value in found.items()
    )


def swap_columns(check, a, b, stop):
    """check.data flips between two frames with the same labels, and the first
    frame's columns are replaced, or overwritten in place, by the second's."""
    live = a.copy()
    check.data = live
    for step in itertools.cycle(range(2 * len(a.columns) + 2)):
        if stop.is_set():
            return
        column = a.columns[step % len(a.columns)]
        if step == 0:
            check.data = b
        elif step == 1:
            check.data = live
        elif step % 2:
            live.isetitem(live.columns.get_loc(column), b[column].copy())
        else:
            live.loc[:, column] = a[column].to_numpy(copy=True)


def reshape(check, a, b, stop):
    """check.data's columns are added, dropped and renamed, and check.data
    itself replaced by frames of other shapes."""
    live = a.copy()
    check.data = live
    steps = [
        lambda: live.insert(live.shape[1], "extra", live["c0"].to_numpy()),
        lambda: live.pop("extra"),
        lambda: setattr(live, "columns", [f"renamed{i}" for i in range(live.shape[1])]),
        lambda: setattr(live, "columns", a.columns),
        lambda: setattr(check, "data", b.iloc[: len(b) // 3]),
        lambda: setattr(check, "data", b[["n0", "c1"]]),
        lambda: setattr(check, "data", pd.DataFrame()),
        lambda: setattr(check, "data", live),
    ]
    for run in itertools.cycle(steps):
        if stop.is_set():
            return
        run()


@pytest.fixture
def short_switch_interval():
    # threads take turns every few microseconds instead of every 5 ms
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(previous)


def run_against(writer, name, a, b):
    """The check `name` ROUNDS times while `writer` rewrites its frame:
    the tables it returned and the exceptions it raised."""
    check = DataIntegrityCheck(a.copy(), META_INFO)
    stop = threading.Event()
    writer_errors = []

    def write():
        try:
            writer(check, a, b, stop)
        except Exception as error:  # noqa: BLE001 - reported by the test
            writer_errors.append(error)

    thread = threading.Thread(target=write)
    thread.start()
    results, errors = [], []
    try:
        for _ in range(ROUNDS):
            try:
                results.append(table(check, name))
            except Exception as error:  # noqa: BLE001 - judged by the test
                errors.append(error)
    finally:
        stop.set()
        thread.join()
    assert not writer_errors, writer_errors
    return results, errors


CHECKS = ["long_string", "single_column_check", "highly_correlated_features"]


@pytest.mark.usefixtures("short_switch_interval")
@pytest.mark.parametrize("name", CHECKS)
def test_columns_swapped_during_a_check_give_a_possible_table(name):
    a, b = frame(1), frame(2)
    cells = candidates(name, a, b)
    results, errors = run_against(swap_columns, name, a, b)
    assert not [error for error in errors if is_internal(error)], errors
    assert results, errors  # the frame keeps its shape: most calls succeed
    for result in results:
        assert is_possible(result, cells), result


@pytest.mark.usefixtures("short_switch_interval")
@pytest.mark.parametrize("name", CHECKS)
def test_frame_reshaped_during_a_check_gives_a_table_or_an_ordinary_error(name):
    a, b = frame(1), frame(2)
    labels = set(a.columns) | {"extra"} | {f"renamed{i}" for i in range(5)}
    results, errors = run_against(reshape, name, a, b)
    assert not [error for error in errors if is_internal(error)], errors
    for result in results:
        assert isinstance(result, pd.DataFrame)
        assert set(result.index) <= labels


def toggle(array, at, values, stop):
    """array[at] takes each of `values` in turn until `stop` is set."""
    for value in itertools.cycle(values):
        if stop.is_set():
            return
        array[at] = value


def outcomes_while_toggled(call, array, at, values, calls=60):
    """call() `calls` times while another thread toggles array[at]: the
    results, and how many calls raised ValueError."""
    stop = threading.Event()
    thread = threading.Thread(target=toggle, args=(array, at, values, stop))
    thread.start()
    results, refused = [], 0
    try:
        for _ in range(calls):
            try:
                results.append(call())
            except ValueError:
                refused += 1
    finally:
        stop.set()
        thread.join()
    return results, refused


def test_bin_counts_rewritten_during_pair_gains():
    # a bin count that drops from 16 to 2 after the bins were checked against
    # it must not shrink the histograms the checked bins are added into
    rng = np.random.default_rng(0)
    bins = rng.integers(0, 16, size=(20_000, 3))
    n_bins = np.full(3, 16)
    pairs = np.array([[0, 1], [1, 2], [0, 2]] * 4)
    grad, hess = rng.normal(size=20_000), rng.uniform(size=20_000)
    expected = pair_gains(bins, n_bins.copy(), pairs, grad, hess, 0.005)
    results, refused = outcomes_while_toggled(
        lambda: pair_gains(bins, n_bins, pairs, grad, hess, 0.005), n_bins, 1, [2, 16]
    )
    assert all(np.array_equal(result, expected) for result in results)
    assert len(results) + refused == 60


def test_rows_rewritten_during_bin_sums():
    # a row index moved out of range after the rows were checked is never read
    rng = np.random.default_rng(1)
    bins = rng.integers(0, 8, size=(4, 50_000))
    values = [rng.normal(size=50_000), rng.uniform(size=50_000)]
    rows = np.arange(0, 50_000, 3)
    expected = bin_sums(bins, 8, rows.copy(), values, 4)
    results, refused = outcomes_while_toggled(
        lambda: bin_sums(bins, 8, rows, values, 4), rows, -1, [10**12, rows[-1]]
    )
    assert all(
        np.array_equal(got, want) for result in results for got, want in zip(result, expected)
    )
    assert all(len(result) == 2 for result in results)
    assert len(results) + refused == 60
