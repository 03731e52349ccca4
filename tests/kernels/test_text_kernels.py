"""The text kernels (text length, special-only test, float syntax) against the
interpreter's own len/str, str.isalnum and float, through the checks that use
them."""

import decimal

import numpy as np
import pandas as pd
from hypothesis import example, given, settings
from hypothesis import strategies as st

from reference import quality_scan as reference
from zeka.data.quality_scan import quality_scan as qs

DIC = qs.DataIntegrityCheck


def python_float_accepts(text):
    try:
        float(text)
    except ValueError:
        return False
    return True


def kernel_float_accepts(text):
    # "zz" never converts, so the column is mixed exactly when `text` converts.
    return DIC._check_mixed_percentage(pd.Series([text, "zz"], dtype=object)) is not None


FLOAT_ALPHABET = list("0123456789_.eE+- \t\n\x0b\x0c\r\x1cinfatyINFATY") + [
    "\xa0",
    "\u2003",
    "\x85",
    "\u3000",
    "\u0663",
    "\u0967",
    "\uff11",
    "\U0001d7d9",
    "\xb2",
    "\x00",
    "\x7f",
    "\u00e9",
    "\ud800",
]
FLOAT_PIECES = [
    "inf",
    "Infinity",
    "nan",
    "NaN",
    "-",
    "+",
    "1_0",
    "e5",
    ".",
    "  ",
    "1e999",
    "\u0661\u0662",
    "iNfInItY",
    "0x1",
    "1_",
    "_1",
    "\u2028",
]


@settings(max_examples=3000, deadline=None)
@given(
    st.lists(
        st.one_of(st.sampled_from(FLOAT_ALPHABET), st.sampled_from(FLOAT_PIECES)), max_size=8
    ).map("".join)
)
@example(" 1_000.5e-3 ")
@example("\u0663.\u0661\u0664")
@example("1__0")
@example("1_.5")
@example("1.e5")
@example("\t-2.5E+07\n")
@example("1e5 x")
@example("+.")
@example("-.e1")
@example("1.5.")
@example("\x0b1\x0c")
@example("\x1c1")
@example(".5")
@example("1e")
@example("+-1")
@example("infinit")
@example("  ")
@example("1" * 5000)
@example("0." + "0" * 400 + "1e400")
def test_float_syntax_matches_float(text):
    assert kernel_float_accepts(text) == python_float_accepts(text)


@settings(max_examples=500, deadline=None)
@given(st.text(max_size=20))
def test_float_syntax_matches_float_on_any_text(text):
    assert kernel_float_accepts(text) == python_float_accepts(text)


def test_float_of_other_values_is_the_builtin():
    values = pd.Series(
        ["x", 1, 2.5, b"3", b"x", bytearray(b"4"), True, np.float32(1)], dtype=object
    )
    mix = DIC._check_mixed_percentage(values)
    assert mix["numbers"] == 6 / 8 and mix["strings_examples"] == {"x", b"x"}


class NumberText(str):
    def __float__(self):
        return 1.0


def test_str_subclass_float_uses_its_own_conversion():
    mix = DIC._check_mixed_percentage(pd.Series([NumberText("abc"), "x"], dtype=object))
    assert mix is not None and mix["numbers"] == 0.5


SPECIAL_TEXTS = st.one_of(
    st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=6),
    st.text(
        alphabet=st.sampled_from(
            list(
                "!?# -_*\u00a0\u2014\u0301\u00e9\u0416\u0663\u4e2d"
                "\u00b2\u2160\U0001f600\ud800\udfff"
            )
        ),
        max_size=4,
    ),
)


@settings(max_examples=400, deadline=None)
@given(st.lists(SPECIAL_TEXTS, max_size=12))
def test_special_only_matches_isalnum(texts):
    column = pd.Series(texts + [None, 3.5], dtype=object)
    expected = reference.special_samples(column)
    got = DIC._get_special_samples(column)
    assert (got is None) == (expected is None)
    if got is not None:
        assert list(got.items()) == list(expected.items())


# Text of many lengths (non-ASCII and lone surrogates too), other values measured
# by their str(), and every kind of missing value pandas knows.
MIXED_VALUES = st.one_of(
    st.text(max_size=12),
    st.text(alphabet=st.sampled_from(list("ab\u00e9\u4e2d\U0001f600\ud800")), max_size=30),
    st.integers(),
    st.floats(),
    st.binary(max_size=5),
    st.sampled_from(
        [None, np.nan, pd.NA, pd.NaT, np.float64("nan"), decimal.Decimal("NaN"), np.int64(7), True]
    ),
)


@settings(max_examples=300, deadline=None)
@given(
    st.lists(MIXED_VALUES, min_size=1, max_size=25),
    st.floats(0, 1) | st.sampled_from([0.35, 0.5, 0.8, 1.0]),
    st.integers(-3, 6) | st.floats(-3, 6) | st.just(np.int32(2)),
    st.booleans(),
)
def test_text_lengths_match_len_of_str(values, quantile, difference, relabel):
    frame = pd.DataFrame({"v": pd.Series(values, dtype=object)})
    if relabel:  # the long values are reported by their row labels
        frame.index = [f"r{i}" for i in np.random.default_rng(len(values)).permutation(len(values))]
    original = qs.format_list
    qs.format_list = list  # the raw label lists, to compare with the reference
    try:
        got = DIC(frame, None).long_string(quantile, difference)
    finally:
        qs.format_list = original
    expected = reference.long_string(frame, quantile, difference)
    pd.testing.assert_frame_equal(got, expected, check_dtype=False)


def test_ten_megabyte_strings():
    big = "\u00e9" * 10_000_000
    frame = pd.DataFrame({"s": ["ab", "cd", big, "!" * 10_000_000, "1" * 10_000_000]})
    d = DIC(frame, None)
    assert d.long_string(0.2, 0).loc["s", "Long String Num"] == 3
    assert d.special_characters().loc["s"].iloc[1] == ["!" * 10_000_000]
    assert d.mixed_data_type().loc["s"].tolist() == [True, "0.8 : 0.2"]
