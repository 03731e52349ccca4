import inspect

import numpy as np
import pandas as pd
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from zeka.data.quality_scan import utils


@settings(max_examples=300, deadline=None)
@given(st.text(max_size=15), st.booleans())
def test_string_baseform_definition(text, remove):
    expected = "".join(c for c in text if c.isalnum()) if remove else text
    assert utils.string_baseform(text, remove) == expected.strip().lower()


@pytest.mark.parametrize(
    "text, base",
    [("  Hé-llo!! ", "héllo"), ("中文, ٣٤", "中文٣٤"), ("?!\u00a0", ""), ("\ud800x", "x")],
)
def test_string_baseform_keeps_letters_and_digits_of_any_script(text, base):
    assert utils.string_baseform(text, True) == base


def test_string_baseform_refuses_non_text():
    with pytest.raises(TypeError, match="str"):
        utils.string_baseform(b"abc", True)


@pytest.mark.parametrize(
    "values, expected",
    [
        (["a", "b", 1], True),
        (["a", 1], False),
        (["a", 1, None, np.nan, pd.NA], False),
        (["a", None, None], True),
        ([], False),
        ([None, np.nan], False),
        ([b"a", b"b"], False),
        ([1.0, 2.0], False),
    ],
)
def test_is_string_column_majority_of_non_missing(values, expected):
    assert utils.is_string_column(pd.Series(values, dtype=object)) is expected


@pytest.mark.parametrize(
    "column, expected",
    [
        (pd.Series(["a", "b"], dtype="string"), True),
        (pd.Series(pd.Categorical(["a", "b"])), True),
        (pd.Series([1, 2], dtype="Int64"), False),
        (pd.Series([True, False]), False),
        (pd.Series(pd.to_datetime(["2020-01-01"])), False),
    ],
)
def test_is_string_column_dtypes(column, expected):
    assert utils.is_string_column(column) is expected


def test_format_list_stays_short():
    assert utils.format_list([]) == "[]"
    assert utils.format_list([3, "a", (1, 2)]) == "[3, a, (1, 2)]"
    text = utils.format_list(list(range(100_000)))
    assert text == "[0, 1, 2, 3, 4, ... +99,995 more]"
    assert utils.format_list(list(range(10)), max_items=2) == "[0, 1, ... +8 more]"


def test_truncate_and_format_number():
    assert utils.truncate_string("abcdefgh", 6) == "abc..."
    assert utils.truncate_string("abc", 6) == "abc"
    assert utils.truncate_string(12345678, 5) == "12..."
    with pytest.raises(ValueError):
        utils.truncate_string("abc", 2)
    assert utils.format_number(1234567.891) == "1,234,567.8910"
    assert utils.format_number(2, decimals=1) == "2.0"


@pytest.mark.parametrize(
    "call",
    [
        lambda limit: utils.format_list(list(range(10)), max_items=limit),
        lambda limit: utils.truncate_string("abcdefgh", limit),
    ],
)
def test_limits_beyond_the_machine_range(call):
    # a limit too large for a machine integer keeps everything; too small, refused
    assert call(2**70) == call(10**6)
    with pytest.raises(ValueError, match=str(-(2**70))):
        call(-(2**70))


def test_signatures_and_docs():
    assert (
        str(inspect.signature(utils.string_baseform)) == "(text, remove_special_characters=False)"
    )
    for name in (
        "string_baseform",
        "is_string_column",
        "truncate_string",
        "format_list",
        "format_number",
    ):
        assert getattr(utils, name).__doc__
