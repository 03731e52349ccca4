import collections
import inspect

import numpy as np
import pandas as pd
import pytest

from zeka.data.quality_scan import quality_scan as qs
from zeka.data.quality_scan import utils

DIC = qs.DataIntegrityCheck


def check(frame, meta_info=None):
    return DIC(frame, meta_info)


# --- module frame and class skeleton -------------------------------------------------------


def test_module_names_in_order():
    names = [n for n in vars(qs) if not n.startswith("__")]
    assert names == [
        "pd",
        "np",
        "sns",
        "defaultdict",
        "infer_dtype",
        "string_baseform",
        "is_string_column",
        "truncate_string",
        "format_list",
        "format_number",
        "symmetric_theil_u_correlation",
        "correlation_ratio",
        "DataIntegrityCheck",
    ]
    assert qs.defaultdict is collections.defaultdict and qs.infer_dtype is pd.api.types.infer_dtype
    assert qs.string_baseform is utils.string_baseform


def test_methods_order_kinds_and_annotations():
    own = [n for n in vars(DIC) if not n.startswith("__") or n == "__init__"]
    assert own == [
        "__init__",
        "is_single_value",
        "null_ratio",
        "long_string",
        "special_characters",
        "mixed_data_type",
        "duplicated_samples",
        "highly_correlated_features",
        "single_column_check",
        "_get_data_mix",
        "_check_mixed_percentage",
        "_get_special_samples",
    ]
    assert isinstance(vars(DIC)["_check_mixed_percentage"], staticmethod)
    assert isinstance(vars(DIC)["_get_special_samples"], staticmethod)
    assert DIC.__bases__ == (object,)
    assert DIC.__init__.__annotations__ == {"data": pd.DataFrame, "meta_info": "dict"}
    assert DIC.long_string.__annotations__ == {
        "quantile_threshold": "float",
        "length_difference": "int",
    }
    for name in ("_get_data_mix", "_check_mixed_percentage"):
        assert getattr(DIC, name).__annotations__ == {"column_data": pd.Series, "return": "dict"}
    assert DIC._get_special_samples.__annotations__ == {"column_data": pd.Series}
    assert str(inspect.signature(DIC.long_string)) == (
        "(self, quantile_threshold=0.8, length_difference=5)"
    )
    assert str(inspect.signature(DIC(pd.DataFrame(), None).special_characters)) == (
        "(n_most_common=2)"
    )
    assert str(inspect.signature(DIC._check_mixed_percentage)) == "(column_data)"


@pytest.mark.parametrize("meta_info", [[], {}.items(), collections.OrderedDict(), "x"])
def test_meta_info_must_be_exactly_dict_or_none(meta_info):
    with pytest.raises(TypeError, match=r"meta_info.*dict.*" + type(meta_info).__name__):
        DIC(pd.DataFrame(), meta_info)


def test_constructor_holds_references():
    frame, meta = pd.DataFrame({"a": [1]}), {"a": "numerical"}
    d = DIC(frame, meta)
    assert d.data is frame and d.meta_info is meta and vars(d) == {"data": frame, "meta_info": meta}
    assert DIC(frame, None).meta_info is None


# --- simple checks --------------------------------------------------------------------------


def test_is_single_value_and_null_ratio():
    frame = pd.DataFrame({"one": [1, 1, None], "none": [None] * 3, "two": [1, 2, 3]})
    single = check(frame).is_single_value()
    assert list(single.columns) == ["Is Single Value"] and list(single.index) == list(frame)
    assert single["Is Single Value"].tolist() == [True, False, False]
    ratio = check(frame).null_ratio()
    assert list(ratio.columns) == ["Null Ratio"]
    np.testing.assert_allclose(ratio["Null Ratio"], [1 / 3, 1.0, 0.0])
    empty = check(pd.DataFrame({"a": [], "b": []})).null_ratio()
    assert empty["Null Ratio"].isna().all() and len(empty) == 2


def test_duplicated_samples_groups_row_labels():
    frame = pd.DataFrame(
        {"a": [1, 2, 1, 3, 1, 2, np.nan, np.nan], "b": list("xyxzxyww")},
        index=[4, 5, 9, 6, 17, 8, 20, 21],
    )
    result = check(frame).duplicated_samples()
    assert list(result.columns) == ["a", "b"]
    assert result.values.tolist()[:2] == [[1.0, "x"], [2.0, "y"]]
    assert pd.isna(result.iloc[2, 0]) and result.iloc[2, 1] == "w"  # missing values sort last
    assert [list(i) for i in result.index] == [[4, 9, 17], [5, 8], [20, 21]]


def test_duplicated_samples_empty_and_unique():
    assert (
        check(pd.DataFrame({"a": []})).duplicated_samples() == "Dataset does not contain any data"
    )
    result = check(pd.DataFrame({"a": [1, 2], "b": [3, 4]})).duplicated_samples()
    assert result.empty and list(result.columns) == ["a", "b"]


@pytest.mark.parametrize(
    "index",
    [
        pd.Index([10, 11, 12, 13], name="id"),
        pd.MultiIndex.from_tuples([("a", 1), ("a", 2), ("b", 1), ("b", 2)], names=["g", "n"]),
        pd.Index(["r1", "r2", "r3", "r4"], name="index"),
    ],
)
@pytest.mark.parametrize("columns", [["index", "v"], ["v", "v"], [("t", 1), ("t", 2)]])
def test_duplicated_samples_any_index_and_labels(index, columns):
    frame = pd.DataFrame([[1, 2], [1, 2], [3, 4], [1, 2]], index=index)
    frame.columns = (
        pd.Index(columns, tupleize_cols=False) if isinstance(columns[0], tuple) else columns
    )
    result = check(frame).duplicated_samples()
    assert result.shape == (1, 2) and result.values.tolist() == [[1, 2]]
    assert list(result.index[0]) == [index[0], index[1], index[3]]
    assert list(result.columns) == list(frame.columns)


def test_duplicated_samples_category_columns_only_observed():
    frame = pd.DataFrame(
        {
            "a": pd.Categorical(["x", "x", "y"], categories=["x", "y", "z"]),
            "b": pd.Categorical(["p", "p", "q"]),
        }
    )
    result = check(frame).duplicated_samples()
    assert result.values.tolist() == [["x", "p"]] and list(result.index[0]) == [0, 1]


def _reference_duplicate_groups(frame):
    """Row labels grouped by equal values in every column, a missing value equal to
    another missing value; groups of two rows or more, as a set."""
    groups = {}
    for label, values in zip(frame.index, frame.itertuples(index=False, name=None)):
        key = tuple(None if pd.isna(v) else v for v in values)
        groups.setdefault(key, []).append(label)
    return {(key, tuple(labels)) for key, labels in groups.items() if len(labels) > 1}


def _result_groups(result):
    return {
        (tuple(None if pd.isna(v) else v for v in row), tuple(labels))
        for row, labels in zip(result.itertuples(index=False, name=None), result.index)
    }


def _arrow_dictionary(values):
    pa = pytest.importorskip("pyarrow")
    return pd.array(values, dtype=pd.ArrowDtype(pa.dictionary(pa.int32(), pa.string())))


COLUMN_KINDS = {
    "float with NaN": lambda v: pd.Series(v, dtype=float).where(pd.Series(v) != 2),
    "float16": lambda v: pd.Series(np.asarray(v, dtype=np.float16)),
    "int8": lambda v: pd.Series(np.asarray(v, dtype=np.int8)),
    "text with None": lambda v: pd.Series([None if x == 0 else f"t{x}" for x in v], dtype=object),
    "category": lambda v: pd.Series(
        pd.Categorical([f"c{x}" for x in v], categories=["c9", "c2", "c1", "c0", "c8"])
    ),
    "arrow dictionary": lambda v: pd.Series(
        _arrow_dictionary([None if x == 1 else f"d{x}" for x in v])
    ),
    "nullable Int64": lambda v: pd.Series(
        pd.array([None if x == 0 else x for x in v], dtype="Int64")
    ),
    "arrow string": lambda v: pd.Series(
        [None if x == 1 else f"s{x}" for x in v], dtype=_arrow_string()
    ),
    "signed zero": lambda v: pd.Series(
        [(-0.0 if i % 2 else 0.0) if x == 1 else float(x) for i, x in enumerate(v)]
    ),
    "object numbers": lambda v: pd.Series(
        [[1, 1.0, True][i % 3] if x == 1 else f"o{x}" for i, x in enumerate(v)], dtype=object
    ),
    "float32": lambda v: pd.Series(np.asarray(v, dtype=np.float32) / 3),
    "datetime with NaT": lambda v: pd.Series(
        pd.to_datetime([None if x == 0 else f"2024-01-0{x}" for x in v])
    ),
}


def _arrow_string():
    pytest.importorskip("pyarrow")
    return pd.StringDtype("pyarrow")


@pytest.mark.parametrize(
    "kinds",
    [
        ["float with NaN", "text with None"],
        ["float16", "int8"],
        ["category", "arrow dictionary"],
        ["nullable Int64", "category", "float with NaN"],
        ["arrow dictionary"],
        ["float16"],
        ["arrow string", "signed zero"],
        ["object numbers", "float32", "datetime with NaT"],
    ],
    ids=str,
)
@pytest.mark.parametrize("seed", range(3))
def test_duplicated_samples_equal_a_plain_grouping_for_every_dtype(kinds, seed):
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame(
        {f"k{i}": COLUMN_KINDS[kind](rng.integers(0, 3, 60)) for i, kind in enumerate(kinds)}
    )
    frame.index = rng.permutation(1000)[:60]
    result = check(frame).duplicated_samples()
    assert list(result.columns) == list(frame.columns)
    assert _result_groups(result) == _reference_duplicate_groups(frame)
    assert all(len(labels) > 1 for labels in result.index)  # no invented empty groups


@pytest.mark.parametrize("kinds", [["float with NaN", "text with None"], ["arrow string", "int8"]])
def test_duplicated_samples_find_few_copies_among_many_rows(kinds):
    # most rows occur once: the copies must still all be found, and only they
    rng = np.random.default_rng(3)
    rows = 3000
    frame = pd.DataFrame(
        {f"k{i}": COLUMN_KINDS[kind](rng.integers(0, 100, rows)) for i, kind in enumerate(kinds)}
    )
    frame["id"] = rng.permutation(rows).astype(float)
    copies = rng.choice(rows, 20, replace=False)
    for name in frame.columns:
        frame.loc[copies[10:], name] = frame.loc[copies[:10], name].to_numpy()
    expected = frame.index[frame.duplicated(keep=False)]
    result = check(frame).duplicated_samples()
    assert sorted(label for labels in result.index for label in labels) == sorted(expected)
    assert _result_groups(result) == _reference_duplicate_groups(frame)


def test_duplicated_samples_order_their_groups_by_value():
    rng = np.random.default_rng(7)
    frame = pd.DataFrame({"a": rng.integers(0, 4, 80).astype(float), "b": rng.integers(0, 3, 80)})
    frame.loc[rng.integers(0, 80, 10), "a"] = np.nan
    result = check(frame).duplicated_samples()
    keys = [(np.inf if np.isnan(a) else a, b) for a, b in result.itertuples(index=False)]
    assert keys == sorted(keys) and len(keys) == len(set(keys))


# --- string checks --------------------------------------------------------------------------


def test_long_string_quantile_nearest():
    frame = pd.DataFrame({"s": ["abc", "abd", "abcd", "abce", "x" * 20], "n": [1, 2, 3, 4, 5]})
    result = check(frame).long_string()
    assert list(result.columns) == ["Long String Num", "Long String Index"]
    assert result.index is frame.columns
    assert result.loc["s"].tolist() == [1, utils.format_list([4])]
    assert result.loc["n"].tolist() == [0, []]
    assert check(frame).long_string(length_difference=0).loc["s", "Long String Num"] == 1
    same = check(pd.DataFrame({"s": ["ab"] * 5})).long_string(length_difference=0)
    assert same.loc["s", "Long String Num"] == 0


@pytest.mark.parametrize("bad", ["0.8", None, [0.8], 1j])
def test_long_string_refuses_non_numeric_threshold(bad):
    with pytest.raises(TypeError):
        check(pd.DataFrame({"s": ["a"]})).long_string(quantile_threshold=bad)


def test_long_string_text_form_of_non_str_values():
    values = ["ab", "cd", 123456789012, b"bytes-bytes-bytes", "ef", "gh", "ij", "kl", "mn", "op"]
    result = check(pd.DataFrame({"s": values})).long_string(length_difference=3)
    assert result.loc["s", "Long String Num"] == 2


def test_special_characters_shares_and_order():
    frame = pd.DataFrame(
        {"s": ["a", "??", "!!", "??", "!!", "", "b", None], "n": [1.0, 2, 3, 4, 5, 6, 7, 8]}
    )
    result = check(frame).special_characters()
    assert result.index.name == "Column Name" and list(result.index) == ["s", "n"]
    assert result.loc["s"].tolist() == ["50.0%", ["??", "!!"]]
    assert result.loc["n"].tolist() == ["0.0%", []]
    assert check(frame).special_characters(n_most_common=1).loc["s"].iloc[1] == ["??"]
    third = check(pd.DataFrame({"s": ["a", "#", "b"]})).special_characters()
    assert third.iloc[0, 0] == "33.33333333333333%"


def test_get_special_samples_counts_in_first_seen_order():
    counts = DIC._get_special_samples(pd.Series(["--", "a", "**", "--", "", " ", "中", "٣"]))
    assert isinstance(counts, collections.defaultdict) and counts.default_factory() == 0
    assert list(counts.items()) == [("--", 2), ("**", 1), (" ", 1)]
    assert DIC._get_special_samples(pd.Series([1.5, 2.5])) is None
    assert DIC._get_special_samples(pd.Series(["abc", "é"])) is None


def test_replaced_string_baseform_is_called(monkeypatch):
    calls = []

    def baseform(sample, flag):
        calls.append((sample, flag))
        return "" if sample.startswith("x") else sample

    monkeypatch.setattr(qs, "string_baseform", baseform)
    counts = DIC._get_special_samples(pd.Series(["xa", "b", "", None, 3, "xa"], dtype=object))
    assert calls == [("xa", True), ("b", True), ("xa", True)]
    assert dict(counts) == {"xa": 2}


class Text(str):
    pass


def test_str_subclasses_count_and_bytes_do_not():
    counts = DIC._get_special_samples(pd.Series([Text("!!"), b"!!", "!!"], dtype=object))
    assert dict(counts) == {"!!": 2}


# --- mixed data types -----------------------------------------------------------------------


def test_mixed_data_type_examples_and_shares():
    mix = DIC._check_mixed_percentage(pd.Series(["1", "2", "a", "b.5"]))
    assert list(mix) == ["strings", "numbers", "strings_examples", "numbers_examples"]
    assert mix["strings"] == 0.5 and mix["numbers"] == 0.5
    assert mix["numbers_examples"] == {"1", "2"} and mix["strings_examples"] == {"a", "b.5"}
    frame = pd.DataFrame(
        {
            "m": ["1", "2", "a", "b.5"],
            "t": ["1", "2.5", "-3", None],
            "w": ["x", "y", "z", "w"],
            "k": ["a", "nan", "inf", None],
        }
    )
    result = check(frame).mixed_data_type()
    assert list(result.columns) == ["With mixed", "Categorical : Numerical"]
    assert result.values.tolist() == [
        [True, "0.5 : 0.5"],
        [False, "-"],
        [False, "-"],
        [True, "0.3333 : 0.6667"],
    ]
    assert result.dtypes.tolist() == [object, object]
    assert check(pd.DataFrame()).mixed_data_type().empty


def test_examples_keep_first_three_distinct():
    mix = DIC._check_mixed_percentage(pd.Series(["a", "a", "b", "c", "d", "1", "1", "2", "3", "4"]))
    assert mix["strings_examples"] == {"a", "b", "c"} and mix["numbers_examples"] == {"1", "2", "3"}


def test_float_errors_other_than_value_error_propagate():
    with pytest.raises(TypeError):
        DIC._check_mixed_percentage(pd.Series(["a", [1], "2"]))
    with pytest.raises(OverflowError):
        DIC._check_mixed_percentage(pd.Series(["a", 10**400], dtype=object))


def test_mixed_non_object_dtypes_use_the_same_rule():
    strings = pd.Series(["1", "x", "2"], dtype="string")
    assert DIC._check_mixed_percentage(strings)["numbers"] == 2 / 3
    categories = pd.Series(pd.Categorical(["1", "x", "2", "x"]))
    assert DIC._check_mixed_percentage(categories) is not None


# --- highly correlated features -------------------------------------------------------------


@pytest.mark.filterwarnings("ignore:All-NaN slice:RuntimeWarning")
def test_highly_correlated_features_blocks(reference):
    rng = np.random.default_rng(0)
    n = 300
    frame = pd.DataFrame(
        {
            "n1": rng.normal(size=n),
            "c1": rng.choice(list("abc"), n),
            "n2": rng.normal(size=n),
            "c2": rng.choice(list("xy"), n),
            "o": rng.normal(size=n),
        }
    )
    frame.loc[::7, "c1"] = None
    meta = {
        "n1": "numerical",
        "c1": "categorical",
        "n2": "numerical",
        "c2": "categorical",
        "o": "other",
    }
    styler = check(frame, meta).highly_correlated_features()
    table = styler.data
    assert list(table.index) == list(frame) == list(table.columns)
    assert table.dtypes.eq(float).all()
    spearman = frame[["n1", "n2"]].corr(method="spearman")
    np.testing.assert_allclose(table.loc[["n1", "n2"], ["n1", "n2"]], spearman)
    c1 = pd.Series(pd.factorize(frame["c1"])[0]).replace(-1, np.nan)
    c2 = pd.Series(pd.factorize(frame["c2"])[0]).astype(float)
    keep = c1.notna()
    assert table.loc["c1", "c2"] == pytest.approx(reference.symmetric_theil_u(c1[keep], c2[keep]))
    assert table.loc["c1", "c1"] == 1.0
    assert table.loc["n2", "c1"] == pytest.approx(
        reference.correlation_ratio(c1[keep], frame["n2"][keep])
    )
    assert table.loc["c1", "n2"] == table.loc["n2", "c1"]
    assert table.loc["o"].isna().all() and table["o"].isna().all()
    html = styler.to_html()
    assert "width: 15em" in html and "text-align: center" in html
    assert f"{table.loc['n1', 'n2']:.2f}" in html


def test_highly_correlated_features_meta_errors():
    frame = pd.DataFrame({"a": [1.0, 2.0]})
    with pytest.raises(KeyError):
        check(frame, {}).highly_correlated_features()
    with pytest.raises(TypeError):
        check(frame, None).highly_correlated_features()


# --- report -----------------------------------------------------------------------------------


def test_single_column_check_matches_the_pandas_checks(reference):
    frame = pd.DataFrame(
        {
            "num": [1.0, 2.0, 3.0, 4.0, 5.0, 6.0],
            "txt": ["a", "#", "!", "bbbbbbbbbbbbbbbbb", "1", None],
            "one": ["k"] * 6,
        }
    )
    styler = check(frame).single_column_check()
    table = styler.data
    expected = reference.single_column_check(frame, format_list=utils.format_list)
    pd.testing.assert_frame_equal(table, expected, check_dtype=False)
    assert table.loc["txt", ("Special Characters", "Ratio")] == pytest.approx(2 / 6)
    assert table.loc["num"].tolist() == [False, 0.0, False, "-", 0, [], 0.0, []]
    assert table.columns.get_level_values(1)[:2].tolist() == ["", ""]
    html = styler.to_html()
    assert "0.3333" in html and "border-style: solid" in html


@pytest.mark.parametrize("frame", [pd.DataFrame(), pd.DataFrame(index=range(3))])
def test_single_column_check_without_columns_keeps_header(frame):
    table = check(frame).single_column_check().data
    assert table.shape == (0, 8) and table.columns.nlevels == 2
    assert table.columns.get_level_values(0)[-1] == "Special Characters"


def test_replaced_helpers_are_read_at_call_time(monkeypatch):
    frame = pd.DataFrame({"s": ["a", "b", "1"], "n": [1.0, 2.0, 40.0]})
    seen = []
    monkeypatch.setattr(qs, "is_string_column", lambda column: seen.append(column.name) or True)
    monkeypatch.setattr(qs, "format_list", lambda labels: ("labels", tuple(labels)))
    result = check(frame).long_string(quantile_threshold=0.0, length_difference=0)
    assert seen == ["s", "n"]
    assert result["Long String Index"].tolist() == [("labels", ()), ("labels", (2,))]
    monkeypatch.setattr(qs, "symmetric_theil_u_correlation", lambda x, y: 0.25)
    monkeypatch.setattr(qs, "correlation_ratio", lambda x, y: 0.5)
    table = (
        check(
            pd.DataFrame({"a": list("xyxy"), "b": list("ppqq"), "v": [1.0, 2, 3, 4]}),
            {"a": "categorical", "b": "categorical", "v": "numerical"},
        )
        .highly_correlated_features()
        .data
    )
    assert table.loc["a", "b"] == 0.25 and table.loc["v", "a"] == 0.5 == table.loc["b", "v"]


def test_duplicated_samples_without_columns_is_an_empty_table():
    result = check(pd.DataFrame(index=range(3))).duplicated_samples()
    assert isinstance(result, pd.DataFrame) and result.shape == (0, 0)
