"""zeka.data.quality_scan._column_scan.column_facts against plain-Python
definitions of every fact, on every storage; the merge rule over row ranges;
Arrow arrays whose layout does not fit, made by hand through the C data
interface."""

import ctypes
import math
from collections import Counter

import numpy as np
import pandas as pd
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from zeka.data.quality_scan import _column_scan

facts_of = _column_scan.column_facts


def parses(value):
    try:
        float(value)
    except ValueError:
        return False
    return True


def special_only(value):
    return isinstance(value, str) and len(value) > 0 and not any(c.isalnum() for c in value)


def reference_facts(values, examples=3, long_over=None):
    """Every fact from its definition, over the values (None is missing)."""
    present = [(i, v) for i, v in enumerate(values) if v is not None]
    out = {
        "size": len(values),
        "missing": len(values) - len(present),
        "strings": sum(isinstance(v, str) for _, v in present),
        "numbers": sum(parses(v) for _, v in present),
        "special": sum(special_only(v) for _, v in present),
        "lengths": dict(sorted(Counter(len(str(v)) for _, v in present).items())),
        "special_counts": dict(Counter(v for _, v in present if special_only(v))),
    }
    for key, wanted in (("number_examples", True), ("string_examples", False)):
        kept = []
        for i, v in present:
            if isinstance(v, str) and parses(v) == wanted and len(kept) < examples:
                if v not in [k for _, k in kept]:
                    kept.append((i, v))
        out[key] = kept
    if long_over is not None:
        out["long_positions"] = [i for i, v in present if len(str(v)) > long_over]
    return out


def storage(values, kind):
    if kind == "object":
        return pd.Series(values, dtype=object)
    if kind == "python":
        return pd.Series(values, dtype="string[python]")
    if kind == "categorical":
        return pd.Series(pd.Categorical(values))
    pa = pytest.importorskip("pyarrow")
    types = {"arrow": pa.string(), "large_string": pa.large_string(), "view": pa.string_view()}
    cut = len(values) // 3
    data = pa.chunked_array([values[:cut], [], values[cut:]], type=types[kind])
    return pd.Series(pd.arrays.ArrowExtensionArray(data))


STORAGE_KINDS = ["object", "python", "categorical", "arrow", "large_string", "view"]
TEXT = st.text(alphabet=st.sampled_from(list("aZ09 ._-+e?#\t") + ["é", "中", "٣", "🙂", "\u2003"]))


def without_storage(facts):
    return {k: v for k, v in facts.items() if k != "storage"}


@settings(max_examples=40, deadline=None)
@given(
    values=st.lists(st.one_of(st.none(), TEXT), max_size=30),
    kind=st.sampled_from(STORAGE_KINDS),
    long_over=st.one_of(st.none(), st.integers(0, 6)),
)
def test_facts_match_their_definitions(values, kind, long_over):
    got = facts_of(storage(values, kind), long_over=long_over)
    assert without_storage(got) == reference_facts(values, long_over=long_over)


@pytest.mark.parametrize(
    "kind,expected",
    [
        ("object", "object"),
        ("python", "object"),
        ("categorical", "categorical"),
        ("arrow", "arrow"),
    ],
)
def test_storage_is_reported(kind, expected):
    assert facts_of(storage(["a", None, "b"], kind))["storage"] == expected


def test_object_columns_with_numbers_and_missing_values():
    values = ["a", 1, 2.5, True, None, np.nan, pd.NA, "1", "??"]
    got = facts_of(pd.Series(values, dtype=object))
    assert got["missing"] == 3 and got["strings"] == 3 and got["numbers"] == 4
    assert got["lengths"] == dict(sorted(Counter([1, 1, 3, 4, 1, 2]).items()))
    assert facts_of(pd.Series(np.arange(5.0)))["storage"] == "none"


@pytest.mark.parametrize(
    "odd", [type("Text", (str,), {})("x"), np.float64(1.5), b"1", 10**400, object()]
)
def test_values_only_python_can_judge_leave_the_column_to_python(odd):
    assert facts_of(pd.Series(["a", odd], dtype=object)) is None


def merge(first, second, examples=3):
    """The documented merge of the facts of two consecutive row ranges."""
    out = {}
    for key in ("size", "missing", "strings", "numbers", "special"):
        out[key] = first[key] + second[key]
    lengths = Counter(first["lengths"]) + Counter(second["lengths"])
    out["lengths"] = dict(sorted(lengths.items()))
    specials = dict(first["special_counts"])
    for value, count in second["special_counts"].items():
        specials[value] = specials.get(value, 0) + count
    out["special_counts"] = specials
    for key in ("number_examples", "string_examples"):
        kept = list(first[key])
        for position, value in second[key]:
            if len(kept) < examples and value not in [v for _, v in kept]:
                kept.append((position + first["size"], value))
        out[key] = kept
    return out


@settings(max_examples=30, deadline=None)
@given(
    values=st.lists(st.one_of(st.none(), TEXT), max_size=30),
    cut=st.integers(0, 30),
    kind=st.sampled_from(["object", "arrow"]),
)
def test_facts_of_row_ranges_merge_into_the_whole(values, cut, kind):
    cut = min(cut, len(values))
    whole = without_storage(facts_of(storage(values, kind)))
    parts = [without_storage(facts_of(storage(v, kind))) for v in (values[:cut], values[cut:])]
    assert merge(*parts) == whole


# --- Arrow arrays made by hand through the C data interface ------------------------------


class ArrowArrayStruct(ctypes.Structure):
    pass


RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArrayStruct))
ArrowArrayStruct._fields_ = [
    ("length", ctypes.c_int64),
    ("null_count", ctypes.c_int64),
    ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.c_void_p),
    ("dictionary", ctypes.c_void_p),
    ("release", RELEASE),
    ("private_data", ctypes.c_void_p),
]


@RELEASE
def _release(array):
    array.contents.release = RELEASE()


class HandMadeArray:
    """An exporter of one Arrow array over numpy buffers (`__arrow_c_array__`)."""

    def __init__(self, arrow_type, length, buffers, offset=0):
        self.arrow_type = arrow_type
        self.keep = [b for b in buffers if b is not None]
        pointers = [None if b is None else b.ctypes.data for b in buffers]
        self.pointers = (ctypes.c_void_p * len(buffers))(*pointers)
        self.struct = ArrowArrayStruct(
            length, 0, offset, len(buffers), 0, self.pointers, None, None, _release, None
        )

    def __arrow_c_array__(self, requested_schema=None):
        new_capsule = ctypes.pythonapi.PyCapsule_New
        new_capsule.restype = ctypes.py_object
        new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
        array = new_capsule(ctypes.addressof(self.struct), b"arrow_array", None)
        return self.arrow_type.__arrow_c_schema__(), array


class Column:
    """What the scan asks of a pandas column: an Arrow dtype and its array."""

    def __init__(self, exporter):
        self.dtype = pd.ArrowDtype(exporter.arrow_type)
        self.array = exporter


def offsets_column(pa, offsets, data, arrow_type=None, offset=0):
    arrow_type = arrow_type or pa.string()
    width = np.int64 if arrow_type == pa.large_string() else np.int32
    buffers = [None, np.asarray(offsets, dtype=width), np.frombuffer(data, dtype=np.uint8).copy()]
    return Column(HandMadeArray(arrow_type, len(offsets) - 1 - offset, buffers, offset))


def test_hand_made_arrays_are_read_in_place():
    pa = pytest.importorskip("pyarrow")
    data = b"ab??x1.5\xc3\xa9"
    got = facts_of(offsets_column(pa, [0, 2, 2, 4, 10], data), long_over=2)
    assert got["storage"] == "arrow" and got["size"] == 4
    assert got["lengths"] == {0: 1, 2: 2, 5: 1}
    assert got["special_counts"] == {"??": 1} and got["long_positions"] == [3]
    assert got["string_examples"] == [(0, "ab"), (1, ""), (2, "??")]
    sliced = facts_of(offsets_column(pa, [0, 2, 2, 4, 10], data, offset=2))
    assert sliced["size"] == 2 and sliced["lengths"] == {2: 1, 5: 1}


@pytest.mark.parametrize(
    "offsets,data,message",
    [
        ([0, 3, 1, 4], b"abcd", "decreasing offsets"),
        ([-1, 2], b"ab", "negative offset"),
        ([0, 1, 3], b"a\xc3(", "invalid UTF-8"),  # a lead byte without its continuation
        ([0, 1, 2], b"\xc3\xa9", "invalid UTF-8"),  # a value cut inside a character
        ([0, 3], b"\xed\xa0\x80", "invalid UTF-8"),  # a surrogate
        ([0, 2], b"\xc0\x80", "invalid UTF-8"),  # an overlong form
    ],
)
def test_layouts_that_do_not_fit_are_refused(offsets, data, message):
    pa = pytest.importorskip("pyarrow")
    for arrow_type in (pa.string(), pa.large_string()):
        with pytest.raises(ValueError, match=message):
            facts_of(offsets_column(pa, offsets, data, arrow_type))


def view_entry(text, buffer=0, offset=0):
    entry = np.zeros(16, dtype=np.uint8)
    entry[:4] = np.frombuffer(np.int32(len(text)).tobytes(), dtype=np.uint8)
    if len(text) <= 12:
        entry[4 : 4 + len(text)] = np.frombuffer(text, dtype=np.uint8)
    else:
        entry[4:8] = np.frombuffer(text[:4], dtype=np.uint8)
        entry[8:12] = np.frombuffer(np.int32(buffer).tobytes(), dtype=np.uint8)
        entry[12:16] = np.frombuffer(np.int32(offset).tobytes(), dtype=np.uint8)
    return entry


def views_column(pa, entries, data):
    views = np.concatenate(entries)
    sizes = np.array([len(data)], dtype=np.int64)
    buffers = [None, views, np.frombuffer(data, dtype=np.uint8).copy(), sizes]
    return Column(HandMadeArray(pa.string_view(), len(entries), buffers))


def test_string_views_inline_and_out_of_line():
    pa = pytest.importorskip("pyarrow")
    long_text = "a longer text, é included".encode()
    column = views_column(pa, [view_entry(b"??"), view_entry(long_text, 0, 3)], b"xyz" + long_text)
    got = facts_of(column)
    assert got["lengths"] == {2: 1, len(long_text.decode()): 1}
    assert got["string_examples"] == [(0, "??"), (1, long_text.decode())]
    beyond = views_column(pa, [view_entry(long_text, 0, 5)], b"xyz" + long_text)
    with pytest.raises(ValueError, match="beyond its data buffer"):
        facts_of(beyond)
    wrong_buffer = views_column(pa, [view_entry(long_text, 1, 0)], long_text)
    with pytest.raises(ValueError, match="beyond its data buffer"):
        facts_of(wrong_buffer)


def test_large_chunked_column_matches_its_definition():
    pa = pytest.importorskip("pyarrow")
    rng = np.random.default_rng(0)
    pool = np.array(["alpha", "??", "1.5", "中文", "", "x" * 40], dtype=object)
    values = list(pool[rng.integers(0, len(pool), 5000)])
    values[::7] = [None] * len(values[::7])
    chunks = [values[i : i + 997] for i in range(0, len(values), 997)]
    column = pd.Series(pd.arrays.ArrowStringArray(pa.chunked_array(chunks, type=pa.string())))
    got = without_storage(facts_of(column, long_over=10))
    assert got == reference_facts(values, long_over=10)
    assert math.isclose(sum(got["lengths"].values()), 5000 - got["missing"])
