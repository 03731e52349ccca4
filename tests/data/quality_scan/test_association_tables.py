"""highly_correlated_features through the association kernels against the
per-pair path: DataFrame.corr / corrwith calling the package's measures once
per pair, forced by binding the module names to thin wrappers of them."""

import contextlib

import numpy as np
import pandas as pd
import pytest
import seaborn as sns
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from zeka.data.quality_scan import correlation
from zeka.data.quality_scan import quality_scan as qs


def kernel_styler(frame, meta):
    return qs.DataIntegrityCheck(frame, meta).highly_correlated_features()


def per_pair_styler(frame, meta, monkeypatch):
    with monkeypatch.context() as m:
        m.setattr(
            qs,
            "symmetric_theil_u_correlation",
            lambda x, y: correlation.symmetric_theil_u_correlation(x, y),
        )
        m.setattr(qs, "correlation_ratio", lambda x, y: correlation.correlation_ratio(x, y))
        return kernel_styler(frame, meta)


def assert_same_table(frame, meta, monkeypatch):
    """Theil's U and the correlation ratio bit for bit, Spearman to 1e-12."""
    ours = kernel_styler(frame, meta).data
    theirs = per_pair_styler(frame, meta, monkeypatch).data
    pd.testing.assert_index_equal(ours.index, theirs.index)
    pd.testing.assert_index_equal(ours.columns, theirs.columns)
    assert ours.dtypes.eq(float).all() and theirs.dtypes.eq(float).all()
    a, b = ours.to_numpy(), theirs.to_numpy()
    np.testing.assert_array_equal(np.isnan(a), np.isnan(b))
    numerical = np.array([meta[c] == "numerical" for c in frame.columns])
    both_numerical = numerical[:, None] & numerical[None, :]
    np.testing.assert_array_equal(a[~both_numerical], b[~both_numerical])
    np.testing.assert_allclose(a[both_numerical], b[both_numerical], rtol=0, atol=1e-12)
    return ours


def mixed_frame(rows, seed=0):
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame(
        {
            "n_gap": rng.normal(size=rows),
            "c_gap": rng.choice(["a", "b", "c"], rows).astype(object),
            "n_ties": rng.integers(0, 4, rows).astype(float),
            "c_full": rng.choice(["x", "y"], rows),
            "n_full": rng.normal(size=rows),
            "c_many": rng.integers(0, max(rows // 2, 1), rows).astype(str),
            "other": rng.normal(size=rows),
            "n_inf": rng.choice([-np.inf, 0.0, 1.0, 2.5, np.inf, np.nan], rows),
        }
    )
    frame.loc[rng.random(rows) < 0.15, "n_gap"] = np.nan
    frame.loc[rng.random(rows) < 0.2, "c_gap"] = None
    meta = {c: "numerical" if c.startswith("n") else "categorical" for c in frame}
    meta["other"] = "text"
    return frame, meta


@pytest.mark.parametrize("rows", [0, 1, 2, 7, 300])
def test_mixed_kinds_with_missing_values(rows, monkeypatch):
    frame, meta = mixed_frame(rows)
    table = assert_same_table(frame, meta, monkeypatch)
    assert table.loc["other"].isna().all() and table["other"].isna().all()


@pytest.mark.parametrize(
    "columns",
    [
        {"n1": [1.0, 1, 1, 1], "n2": [3.0, 1, 2, 5], "c1": list("aaaa"), "c2": list("abab")},
        {"n1": [np.nan] * 4, "n2": [3.0, 1, 2, 5], "c1": [None] * 4, "c2": list("abab")},
        {
            "n1": [np.nan, 1, 2, 3],
            "n2": [4.0, np.nan, 2, 5],
            "c1": ["a", None, "b", "b"],
            "c2": [None, "p", None, "q"],
        },
        {
            "n1": [1.0, np.nan, np.nan, 2],
            "n2": [np.nan, 1, 2, np.nan],
            "c1": ["a", None, None, "b"],
            "c2": [None, "p", "q", None],
        },  # pairs without common rows
        {
            "n1": [-np.inf, 1, 2, 3],
            "n2": [-np.inf, 5, 4, 6],
            "c1": list("abca"),
            "c2": list("aabb"),
        },
        {
            "n1": [np.inf, 1, 2, 3],
            "n2": [4.0, 5, np.inf, 6],
            "c1": list("abca"),
            "c2": list("aabb"),
        },
    ],
    ids=["constant", "all-missing", "scattered-gaps", "disjoint", "same-inf-rows", "inf-rows"],
)
def test_edge_columns(columns, monkeypatch):
    frame = pd.DataFrame(columns)
    meta = {c: "numerical" if c.startswith("n") else "categorical" for c in frame}
    assert_same_table(frame, meta, monkeypatch)


def test_pure_blocks_equal_pandas_and_the_measures():
    rng = np.random.default_rng(5)
    frame = pd.DataFrame(rng.normal(size=(200, 6)), columns=list("abcdef"))
    frame.iloc[rng.random((200, 6)) < 0.1] = np.nan
    frame["b"] = np.round(frame["b"])
    table = kernel_styler(frame, dict.fromkeys(frame, "numerical")).data
    np.testing.assert_allclose(table, frame.corr(method="spearman"), rtol=0, atol=1e-12)
    cats = pd.DataFrame({k: rng.choice(list("pqrs"), 200) for k in "xyz"})
    table = kernel_styler(cats, dict.fromkeys(cats, "categorical")).data
    codes = cats.apply(lambda c: pd.factorize(c)[0]).astype(float)
    assert table.loc["x", "z"] == correlation.symmetric_theil_u_correlation(
        codes["x"].to_numpy(), codes["z"].to_numpy()
    )
    assert np.diag(table).tolist() == [1.0, 1.0, 1.0]


def test_codes_beyond_the_direct_range(monkeypatch):
    # More than 65,536 levels: the measures renumber such codes themselves.
    rows = 70_000
    rng = np.random.default_rng(2)
    ids = np.arange(rows).astype(str).astype(object)
    ids[rng.random(rows) < 0.01] = None
    frame = pd.DataFrame(
        {"id": ids, "level": rng.choice(list("abc"), rows), "value": rng.normal(size=rows)}
    )
    meta = {"id": "categorical", "level": "categorical", "value": "numerical"}
    assert_same_table(frame, meta, monkeypatch)


values = st.sampled_from([0.0, -0.0, 1.0, 1.0, 2.5, -3.0, 7.0, np.nan, np.inf, -np.inf])
labels = st.sampled_from(["a", "b", "c", None, "d"])


@st.composite
def frames(draw):
    rows = draw(st.integers(0, 12))
    kinds = draw(
        st.lists(st.sampled_from(["numerical", "categorical", "text"]), min_size=1, max_size=6)
    )
    data = {}
    for i, kind in enumerate(kinds):
        pool = labels if kind == "categorical" else values
        data[f"f{i}"] = pd.Series(
            draw(st.lists(pool, min_size=rows, max_size=rows)),
            dtype=object if kind == "categorical" else float,
        )
    return pd.DataFrame(data, index=range(rows)), {f"f{i}": k for i, k in enumerate(kinds)}


@pytest.mark.filterwarnings("ignore:invalid value encountered:RuntimeWarning")
@settings(
    max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture]
)
@given(frame_and_meta=frames())
def test_random_frames(frame_and_meta, monkeypatch):
    assert_same_table(*frame_and_meta, monkeypatch)


def test_one_replaced_measure_is_called_for_its_pairs(monkeypatch):
    frame, meta = mixed_frame(40)
    original = kernel_styler(frame, meta).data
    seen = []
    monkeypatch.setattr(qs, "correlation_ratio", lambda x, y: seen.append(len(x)) or 0.5)
    table = kernel_styler(frame, meta).data
    assert len(seen) == 4 * 3  # numerical x categorical pairs
    numerical = [c for c in frame if meta[c] == "numerical"]
    categorical = [c for c in frame if meta[c] == "categorical"]
    assert (table.loc[numerical, categorical] == 0.5).all().all()
    pd.testing.assert_frame_equal(
        table.loc[categorical, categorical], original.loc[categorical, categorical]
    )


def today_styler(table):
    cmap = sns.diverging_palette(250, 5, as_cmap=True)
    return (
        table.style.background_gradient(cmap=cmap)
        .set_properties(**{"width": "15em", "text-align": "center"})
        .format(precision=2)
    )


@pytest.mark.filterwarnings("ignore:All-NaN slice:RuntimeWarning")
@pytest.mark.parametrize(
    "options",
    [
        (),
        ("styler.format.precision", 4),
        ("styler.format.thousands", ","),
        ("styler.format.na_rep", "-"),
    ],
)
def test_styler_renders_as_with_format_precision_2(options):
    frame, meta = mixed_frame(30)
    frame["n_full"] *= 1e4
    with pd.option_context(*options) if options else contextlib.nullcontext():
        ours = kernel_styler(frame, meta)
        theirs = today_styler(ours.data)
        for styler in (ours, theirs):
            styler.set_uuid("t")
        assert ours.to_html() == theirs.to_html()
        assert ours.to_latex() == theirs.to_latex()
    assert "width: 15em" in ours.to_html()


def test_the_kernels_serve_while_the_measures_are_the_packages(monkeypatch):
    # Guards the comparisons above: they would hold trivially if both sides
    # took the per-pair path.
    calls = []
    for name in ("corr", "corrwith"):
        original = getattr(pd.DataFrame, name)
        monkeypatch.setattr(
            pd.DataFrame,
            name,
            lambda self, *a, _f=original, _n=name, **k: calls.append(_n) or _f(self, *a, **k),
        )
    frame, meta = mixed_frame(20)
    kernel_styler(frame, meta)
    assert calls == []
    per_pair_styler(frame, meta, monkeypatch)
    assert calls.count("corr") == 2 and calls.count("corrwith") == 3
