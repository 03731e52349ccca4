"""The text checks give the same tables whatever storage holds a column's text:
object, python-storage strings, Arrow strings (string, large_string,
string_view; chunked, with empty chunks, sliced), dictionary-encoded Arrow and
categorical columns. The reference is the checks written with pandas and
per-value Python calls, run on the same values held as objects."""

import decimal

import numpy as np
import pandas as pd
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from zeka.data.quality_scan import quality_scan as qs
from zeka.data.quality_scan import utils

DIC = qs.DataIntegrityCheck

STORAGES = [
    "object",
    "python",
    "arrow",
    "large_string",
    "string_view",
    "chunked",
    "sliced",
    "dictionary",
    "categorical",
]


def _pa():
    return pytest.importorskip("pyarrow")


def _chunks(values, pa, kind):
    """The values as chunks with empty chunks between them, of Arrow type `kind`."""
    cut = len(values) // 2
    return pa.chunked_array([[], values[:cut], [], values[cut:], []], type=kind)


def as_storage(values, storage, index=None):
    """A Series holding `values` (str or None) in `storage`."""
    if storage == "object":
        return pd.Series(values, dtype=object, index=index)
    if storage == "python":
        return pd.Series(values, dtype="string[python]", index=index)
    if storage == "categorical":
        return pd.Series(pd.Categorical(values), index=index)
    pa = _pa()
    if storage == "arrow":
        return pd.Series(values, dtype=pd.StringDtype("pyarrow"), index=index)
    if storage == "large_string":
        data = _chunks(values, pa, pa.large_string())
        return pd.Series(pd.arrays.ArrowExtensionArray(data), index=index)
    if storage == "string_view":
        return pd.Series(
            pd.arrays.ArrowExtensionArray(pa.chunked_array([values], type=pa.string_view())),
            index=index,
        )
    if storage == "chunked":
        return pd.Series(pd.arrays.ArrowStringArray(_chunks(values, pa, pa.string())), index=index)
    if storage == "sliced":
        padded = ["pad ?"] * 2 + list(values) + ["tail"] * 3
        column = pd.Series(pd.arrays.ArrowStringArray(_chunks(padded, pa, pa.string())))
        column = column.iloc[2 : 2 + len(values)]
        column.index = index if index is not None else pd.RangeIndex(len(values))
        return column
    if storage == "dictionary":
        data = pa.chunked_array([pa.array(values, type=pa.string()).dictionary_encode()])
        return pd.Series(pd.arrays.ArrowExtensionArray(data), index=index)
    raise AssertionError(storage)


def frame_of(columns, storage):
    index = pd.Index([10 * i + 3 for i in range(len(next(iter(columns.values()))))])
    data = {name: as_storage(values, storage, index) for name, values in columns.items()}
    data["num"] = pd.Series(np.arange(len(index), dtype=float), index=index)
    return pd.DataFrame(data)


def object_frame(columns):
    return frame_of(columns, "object")


WORDS = ["alpha", "épsilon", "ж", "中文", "٣٤", "Ⅻ"]
SPECIAL = ["??", "#", " ", "---", "—", "🙂", "\t!"]
NUMBERS = ["1", "2.5", "-3", "1e5", " 42 ", "nan", "inf", "7_000", "٣", "1_"]
LONG = ["a long value of many characters", "another quite long value, 中文 included"]


def sample_columns(n=40, seed=0):
    rng = np.random.default_rng(seed)
    pool = WORDS + SPECIAL + NUMBERS + LONG + [None, ""]
    return {f"c{k}": [pool[i] for i in rng.integers(0, len(pool), n)] for k in range(3)} | {
        "words": [WORDS[i % 3] for i in range(n)]
    }


def tables(check, special=True):
    # pandas' infer_dtype, which special_characters asks first, knows no string_view
    out = {"long_string": check.long_string(), "mixed_data_type": check.mixed_data_type()}
    if special:
        out["special_characters"] = check.special_characters()
    return out


def reference_tables(reference, frame):
    return {
        "long_string": reference.long_string(frame, format_list=utils.format_list),
        "special_characters": reference.special_characters(frame),
        "mixed_data_type": reference.mixed_data_type(frame),
    }


def assert_same(ours, expected):
    for name in expected:
        pd.testing.assert_frame_equal(ours[name], expected[name], obj=name)


@pytest.mark.parametrize("storage", STORAGES)
@pytest.mark.parametrize("seed", [0, 1])
def test_text_checks_equal_the_reference_on_every_storage(storage, seed, reference):
    columns = sample_columns(seed=seed)
    frame = frame_of(columns, storage)
    expected = reference_tables(reference, object_frame(columns))
    ours = tables(DIC(frame, None), special=storage != "string_view")
    assert_same(ours, {name: expected[name] for name in ours})


@pytest.mark.parametrize("storage", [s for s in STORAGES if s != "string_view"])
def test_report_equals_the_reference_on_every_storage(storage, reference):
    # pandas' own nunique cannot filter a string_view column with missing values
    columns = sample_columns(seed=2)
    frame = frame_of(columns, storage)
    expected = reference.single_column_check(object_frame(columns), format_list=utils.format_list)
    pd.testing.assert_frame_equal(DIC(frame, None).single_column_check().data, expected)


@pytest.mark.parametrize("storage", ["object", "python", "arrow", "chunked", "sliced"])
def test_helpers_equal_the_reference_per_column(storage, reference):
    columns = sample_columns(seed=3)
    frame = frame_of(columns, storage)
    objects = object_frame(columns)
    for name in columns:
        present = frame[name][frame[name].notna()]
        assert DIC._check_mixed_percentage(present) == reference.check_mixed_percentage(
            objects[name].dropna()
        )
        assert DIC._get_special_samples(frame[name]) == reference.special_samples(objects[name])


TEXT = st.text(
    alphabet=st.sampled_from(list("ab1 _.e-+?#é中٣\t") + ["🙂", "\u00a0", "Ⅻ"]), max_size=14
)


@settings(max_examples=25, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    values=st.lists(st.one_of(st.none(), TEXT), min_size=1, max_size=25),
    storage=st.sampled_from(["python", "arrow", "sliced", "categorical"]),
)
def test_any_texts_give_the_reference_tables(values, storage, reference):
    if storage in ("arrow", "sliced"):
        pytest.importorskip("pyarrow")
    columns = {"t": values}
    frame = frame_of(columns, storage)
    objects = object_frame(columns)
    assert_same(tables(DIC(frame, None)), reference_tables(reference, objects))
    pd.testing.assert_frame_equal(
        DIC(frame, None).single_column_check().data,
        reference.single_column_check(objects, format_list=utils.format_list),
    )


def test_categorical_mix_keeps_pandas_apply_over_categories(reference):
    # apply on a categorical maps each category once: the examples follow
    # the categories' order and include unused ones
    column = pd.Series(pd.Categorical(["b", "2", "a", "1"], categories=["z", "1", "2", "a", "b"]))
    column = column.iloc[:3]
    assert DIC._check_mixed_percentage(column) == reference.check_mixed_percentage(column)


def test_arrow_export_that_raises_falls_back_to_pandas(monkeypatch, reference):
    _pa()
    columns = sample_columns(seed=4)
    frame = frame_of(columns, "arrow")
    refused = []

    def broken(self, *args, **kwargs):
        refused.append(self.name)
        raise RuntimeError("export refused")

    monkeypatch.setattr(pd.Series, "__arrow_c_stream__", broken, raising=False)
    assert_same(tables(DIC(frame, None)), reference_tables(reference, object_frame(columns)))
    assert refused


def test_invalid_utf8_is_a_clear_error():
    pa = _pa()
    offsets = pa.py_buffer(np.array([0, 1, 4], dtype=np.int32).tobytes())
    data = pa.Array.from_buffers(pa.binary(), 2, [None, offsets, pa.py_buffer(b"a\xff\xfeb")])
    column = pd.Series(pd.arrays.ArrowStringArray(data.view(pa.string())))
    check = DIC(pd.DataFrame({"bad": column}), None)
    for method in (check.long_string, check.mixed_data_type, check.single_column_check):
        with pytest.raises(ValueError, match="invalid UTF-8"):
            method()


def test_replaced_helpers_and_methods_are_called(monkeypatch, reference):
    columns = sample_columns(seed=5)
    frame = frame_of(columns, "python")
    calls = []

    def counting(column):
        calls.append(len(column))
        return utils.is_string_column(column)

    monkeypatch.setattr(qs, "is_string_column", counting)
    pd.testing.assert_frame_equal(
        DIC(frame, None).single_column_check().data,
        reference.single_column_check(object_frame(columns), format_list=utils.format_list),
    )
    assert len(calls) == 2 * len(frame.columns)  # long_string and _get_data_mix, per column

    class Shorter(DIC):
        def long_string(self, quantile_threshold=0.8, length_difference=5):
            table = super().long_string(quantile_threshold, length_difference)
            table["Long String Num"] = -1
            return table

    report = Shorter(frame, None).single_column_check().data
    assert (report[("Long String", "Num")] == -1).all()


def assert_simple_checks_equal_pandas(frame):
    """is_single_value and null_ratio, alone and in the report, are pandas'
    nunique() == 1 and isna().sum() / rows."""
    check = DIC(frame, None)
    single = pd.DataFrame(frame.nunique() == 1, columns=["Is Single Value"])
    null = pd.DataFrame(frame.isna().sum() / frame.shape[0], columns=["Null Ratio"])
    pd.testing.assert_frame_equal(check.is_single_value(), single)
    pd.testing.assert_frame_equal(check.null_ratio(), null)
    report = check.single_column_check().data
    assert list(report[("Is Single Value", "")]) == list(single["Is Single Value"])
    assert list(report[("Null Ratio", "")]) == list(null["Null Ratio"])


@pytest.mark.parametrize(
    "storage", ["object", "python", "arrow", "large_string", "chunked", "sliced", "categorical"]
)
@pytest.mark.parametrize(
    "values",
    [
        ["a", "a", None],
        ["a", "b", "a"],
        [None, None, None],
        ["é中", None, "é中"],
        ["", "", ""],
        [None, "x" * 20, "x" * 20],
        ["x" * 20, "x" * 20, "x" * 19 + "y"],
    ],
)
def test_single_value_and_null_ratio_equal_pandas(storage, values):
    if storage not in ("object", "python", "categorical"):
        _pa()
    frame = pd.DataFrame({"t": as_storage(values, storage), "n": [1.0, 1.0, np.nan]})
    assert_simple_checks_equal_pandas(frame)


@pytest.mark.parametrize(
    "values",
    [
        ["a", 1],
        [1, 1.0, True],
        [1, 2],
        ["1", 1],
        [2.5, None, 2.5],
        [pd.NA, "a", float("nan")],
        [np.float64("nan"), "a", "a"],
        [decimal.Decimal("NaN"), 1, 1],
        [2**80, float(2**80), None],
        ["a", "b", b"a"],
    ],
    ids=str,
)
def test_single_value_and_null_ratio_of_object_columns_with_other_values(values):
    frame = pd.DataFrame({"o": pd.Series(values, dtype=object)})
    assert_simple_checks_equal_pandas(frame)


def test_unhashable_value_after_two_distinct_ones_raises_as_pandas_does():
    frame = pd.DataFrame({"o": pd.Series(["a", "b", ["c"]], dtype=object)})
    with pytest.raises(TypeError):
        frame.nunique()
    with pytest.raises(TypeError):
        DIC(frame, None).is_single_value()


@pytest.mark.parametrize(
    "column",
    [
        pd.Series([1.0, 1.0, np.nan]),
        pd.Series([0.0, -0.0, np.nan]),
        pd.Series([np.nan, np.nan, np.nan]),
        pd.Series([1, 2, 1]),
        pd.Series([True, True, True]),
        pd.Series([2.5, 2.5, 2.5], dtype=np.float32),
        pd.Series([3, 3, 3], dtype=np.int16),
        pd.Series([7, 7, 7], dtype=np.uint32),
        pd.Series(pd.to_datetime(["2024-01-01", None, "2024-01-01"])),
        pd.Series([1.0, 2.0, 3.0]).iloc[::2],
    ],
    ids=lambda c: str(c.dtype),
)
def test_single_value_and_null_ratio_of_columns_without_text(column):
    frame = pd.DataFrame({"x": column.to_numpy(), "t": ["a", "b", None][: len(column)]})
    assert_simple_checks_equal_pandas(frame)
