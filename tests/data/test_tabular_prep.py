import inspect
import pickle
import subprocess
import sys

import numpy as np
import pytest
import sklearn
from hypothesis import given, settings
from hypothesis import strategies as st
from numpy.testing import assert_allclose, assert_array_equal
from sklearn.base import TransformerMixin
from sklearn.pipeline import FeatureUnion, Pipeline
from sklearn.preprocessing import MinMaxScaler, OneHotEncoder, StandardScaler

from zeka.data import tabular_prep as tp
from zeka.data.tabular_prep import DataPreprocessor

SCALERS = {"unit_norm": StandardScaler, "minmax": MinMaxScaler}


def expected(x_fit, x, nums, cats, normalize="unit_norm", encode="one_hot"):
    """Each feature's columns at its input position: scaled numbers, or codes of the sorted
    fitted values (unseen -> most frequent code), one-hot without the first code."""
    blocks = {}
    if nums:
        num = x[:, nums].astype(float)
        if normalize is not None:
            num = SCALERS[normalize]().fit(x_fit[:, nums].astype(float)).transform(num)
        blocks.update({p: num[:, [j]] for j, p in enumerate(nums)})
    for p in cats:
        if encode is None:
            blocks[p] = x[:, [p]]
            continue
        values = list(np.unique(x_fit[:, p]))
        most = np.bincount([values.index(v) for v in x_fit[:, p]]).argmax()
        codes = np.array([values.index(v) if v in values else most for v in x[:, p]])
        width = np.arange(1, len(values)) if encode == "one_hot" else None
        blocks[p] = codes[:, None] if width is None else (codes[:, None] == width)
    return np.hstack([blocks[p].astype(float) for p in sorted(blocks)])


def mixed(rows, seed=0, levels=(3, 2)):
    """Numbers at 0, 2, 4 and categorical codes at 1, 3."""
    rng = np.random.default_rng(seed)
    x = rng.normal(3.0, 2.0, size=(rows, 5))
    for p, k in zip((1, 3), levels):
        x[:, p] = rng.integers(0, k, rows)
    return x


def test_module_attributes_in_order():
    public = [name for name in vars(tp) if not name.startswith("_")]
    assert public == [
        "np",
        "TransformerMixin",
        "ColumnTransformer",
        "SimpleImputer",
        "FeatureUnion",
        "Pipeline",
        "MinMaxScaler",
        "OneHotEncoder",
        "OrdinalEncoder",
        "StandardScaler",
        "DataPreprocessor",
    ]
    assert tp.np is np and tp.TransformerMixin is TransformerMixin and tp.Pipeline is Pipeline


def failed_import(module, dependency):
    """What importing `module` raises when `dependency` cannot be imported."""
    script = (
        f"import sys; sys.modules[{dependency!r}] = None\n"
        f"try:\n    import {module}\nexcept BaseException as e:\n"
        f"    print(type(e).__name__, e)"
    )
    return subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, check=True
    ).stdout.strip()


def test_a_failed_dependency_import_fails_the_import_with_that_error():
    assert failed_import("zeka.data.tabular_prep", "sklearn.impute") == (
        "ModuleNotFoundError import of sklearn.impute halted; None in sys.modules"
    )


def test_class_shape_and_signatures():
    assert DataPreprocessor.__bases__ == (TransformerMixin,)
    assert (DataPreprocessor.__module__, DataPreprocessor.__qualname__) == (
        "zeka.data.tabular_prep",
        "DataPreprocessor",
    )
    methods = [n for n in vars(DataPreprocessor) if callable(vars(DataPreprocessor)[n])]
    assert methods == [
        "__init__",
        "fit_transform",
        "fit",
        "transform",
        "get_params",
        "set_params",
        "get_feature_names_out",
        "__sklearn_tags__",
        "__repr__",
        "_repr_html_",
        "_repr_mimebundle_",
    ]
    assert str(inspect.signature(DataPreprocessor)) == (
        "(nfeature_index_list, cfeature_index_list, normalize_strategy='unit_norm', "
        "encode_strategy='one_hot', feature_names=None)"
    )
    obj = DataPreprocessor([0], [1])
    for name in ["fit_transform", "fit", "transform"]:
        assert str(inspect.signature(getattr(DataPreprocessor, name))) == "(self, x)"
        assert str(inspect.signature(getattr(obj, name))) == "(x)"
        assert getattr(DataPreprocessor, name).__qualname__ == f"DataPreprocessor.{name}"


def test_init_keeps_arguments_by_reference():
    nums, cats, names = [0, 2], [1], object()
    obj = DataPreprocessor(nums, cats, "minmax", "ordinal", names)
    assert list(vars(obj)) == [
        "nfeature_index_list",
        "cfeature_index_list",
        "normalize_strategy",
        "encode_strategy",
        "feature_names",
    ]
    assert obj.nfeature_index_list is nums and obj.cfeature_index_list is cats
    assert obj.feature_names is names


@pytest.mark.parametrize("normalize", ["unit_norm", "minmax", None])
@pytest.mark.parametrize("encode", ["one_hot", "ordinal", None])
def test_matches_scalers_and_encoders_in_input_order(normalize, encode):
    x = mixed(60)
    obj = DataPreprocessor([0, 2, 4], [1, 3], normalize, encode)
    out = obj.fit_transform(x)
    assert_allclose(out, expected(x, x, [0, 2, 4], [1, 3], normalize, encode), atol=1e-12)
    widths = {"one_hot": {1: 2, 3: 1}, "ordinal": {1: 1, 3: 1}, None: {}}[encode]
    assert obj.c_hot_f == widths
    assert out.shape == (60, 3 + sum(widths.values()) + (2 if encode is None else 0))


@pytest.mark.parametrize("encode", ["ordinal", None])
def test_one_column_per_feature_keeps_the_argsort_selector(encode):
    obj = DataPreprocessor([4, 0, 2], [3, 1], encode_strategy=encode)
    obj.fit(mixed(20))
    columns = obj.transformer_.named_steps["selector"].transformers[0][2]
    assert_array_equal(columns, np.argsort([4, 0, 2, 3, 1]))


@pytest.mark.parametrize("as_sequence", [np.array, tuple, lambda v: np.array(v, dtype=np.int32)])
def test_positions_given_as_any_sequence_act_as_lists(as_sequence):
    x = mixed(40, levels=(3, 4))
    out = DataPreprocessor(as_sequence([4, 0, 2]), as_sequence([3, 1])).fit_transform(x)
    assert_allclose(out, expected(x, x, [4, 0, 2], [3, 1]), atol=1e-12)


def test_three_category_one_hot_keeps_all_columns_in_place():
    x = mixed(40, levels=(3, 4))
    out = DataPreprocessor([4, 0, 2], [3, 1]).fit_transform(x)
    assert out.shape == (40, 3 + 2 + 3)
    assert_allclose(out[:, 1:3], expected(x, x, [], [1])[:, :2])  # position 1, both columns
    assert_allclose(out, expected(x, x, [4, 0, 2], [3, 1]), atol=1e-12)


@pytest.mark.parametrize("values", [[1.0, 2.0, 3.0], [-5.0, 0.5, 7.0, 9.0], ["b", "a", "zz"]])
def test_one_hot_encodes_any_sortable_categories(values):
    rng = np.random.default_rng(1)
    x = np.empty((30, 2), dtype=object if isinstance(values[0], str) else float)
    x[:, 0] = rng.normal(size=30)
    x[:, 1] = rng.choice(values, 30)
    x[:3, 1] = values[:3]
    obj = DataPreprocessor([0], [1])
    assert_allclose(obj.fit_transform(x), expected(x, x, [0], [1]).astype(float), atol=1e-12)
    assert obj.c_hot_f == {1: len(values) - 1}


@pytest.mark.parametrize("encode", ["one_hot", "ordinal"])
def test_transform_new_rows_with_unseen_categories(encode):
    x_fit, x_new = mixed(80, seed=2), mixed(15, seed=3, levels=(5, 2))
    x_fit[:50, 1] = 2.0  # code 2 is the most frequent
    x_new[:4, 1] = [9.0, -1.0, 3.0, 4.0]
    obj = DataPreprocessor([0, 2, 4], [1, 3], encode_strategy=encode)
    fitted = obj.fit_transform(x_fit)
    assert_allclose(obj.transform(x_fit), fitted)
    assert_allclose(
        obj.transform(x_new),
        expected(x_fit, x_new, [0, 2, 4], [1, 3], "unit_norm", encode),
        atol=1e-12,
    )


def test_pipeline_structure():
    obj = DataPreprocessor([0, 2, 4], [1, 3])
    obj.fit(mixed(20))
    assert isinstance(obj.transformer_, Pipeline)
    assert list(obj.transformer_.named_steps) == ["union", "selector"]
    union = obj.transformer_.named_steps["union"]
    assert isinstance(union, FeatureUnion)
    assert [name for name, _ in union.transformer_list] == ["ntransformer", "ctransformer"]
    assert [name for name, _ in obj.ntransformer.steps] == ["ntrans", "scaling"]
    ntrans = obj.ntransformer.named_steps["ntrans"]
    assert ntrans.transformers[0][:2] == ("ntrans", "passthrough") and ntrans.remainder == "drop"
    assert ntrans.transformers[0][2] is obj.nfeature_index_list
    assert [(name, cols) for name, _, cols in obj.ctransformer.transformers] == [
        ("1", [1]),
        ("3", [3]),
    ]
    steps = obj.ctransformer.transformers[0][1].named_steps
    assert list(steps) == ["ordinal", "handle_unknown", "one_hot"]
    assert steps["ordinal"].handle_unknown == "use_encoded_value"
    assert np.isnan(steps["ordinal"].unknown_value)
    assert steps["handle_unknown"].strategy == "most_frequent"
    assert steps["one_hot"].drop == "first"
    assert_array_equal(steps["one_hot"].categories[0], [0.0, 1.0, 2.0])


@pytest.mark.parametrize("nums, cats, width", [([], [1, 3], 3), ([0, 2, 4], [], 3), ([], [], 0)])
def test_empty_blocks_contribute_no_columns(nums, cats, width):
    obj = DataPreprocessor(nums, cats)
    assert obj.fit_transform(mixed(10)).shape == (10, width)
    empty, name = (cats, "ctrans") if not cats else (nums, "ntrans")
    block = obj.ctransformer if not cats else obj.ntransformer
    if not empty:
        assert block.transformers == [(name, "passthrough", empty)]
        assert block.transformers[0][2] is empty


def test_one_hot_keyword_follows_installed_version(monkeypatch):
    seen = []

    def encoder(**kw):
        seen.append(next(k for k in kw if k.startswith("sparse")))
        kw["sparse_output"] = kw.pop(seen[-1])
        return OneHotEncoder(**kw)

    monkeypatch.setattr(tp, "OneHotEncoder", encoder)
    DataPreprocessor([0], [1]).fit(mixed(10))
    monkeypatch.setattr(sklearn, "__version__", "1.1.3")
    DataPreprocessor([0], [1]).fit(mixed(10))
    assert seen == ["sparse_output", "sparse"]


def test_module_names_are_read_at_call_time(monkeypatch):
    x = mixed(30)
    monkeypatch.setattr(tp, "StandardScaler", MinMaxScaler)
    out = DataPreprocessor([0, 2, 4], [1, 3]).fit_transform(x)
    assert_allclose(out, expected(x, x, [0, 2, 4], [1, 3], "minmax"), atol=1e-12)


def test_refit_rebuilds_from_current_settings_and_pickles():
    x = mixed(30)
    obj = DataPreprocessor([0, 2, 4], [1, 3])
    assert obj.fit(x) is None
    first = obj.transformer_
    obj.encode_strategy = "ordinal"
    out = obj.fit_transform(x)
    assert obj.transformer_ is not first and out.shape == (30, 5)
    assert_allclose(pickle.loads(pickle.dumps(obj)).transform(x), out)


def unbound_local_message():
    def f():
        if False:
            scaler = None
        return scaler  # noqa: F821

    with pytest.raises(UnboundLocalError) as info:
        f()
    return str(info.value)


def test_errors_propagate():
    with pytest.raises(AttributeError, match="transformer_"):
        DataPreprocessor([0], [1]).transform(mixed(5))
    with pytest.raises(UnboundLocalError) as info:
        DataPreprocessor([0], [1], normalize_strategy="zscore").fit(mixed(5))
    assert str(info.value) == unbound_local_message()
    x = mixed(5)
    x[:, 1] = [0, 1, 2, 0, 1]
    assert DataPreprocessor([], [1], "zscore").fit_transform(x).shape == (5, 2)
    obj = DataPreprocessor([0], [1], encode_strategy="binary")
    with pytest.raises(ValueError):
        obj.fit(mixed(5))
    assert obj.c_hot_f == {} and obj.ctransformer.transformers == []


@settings(max_examples=25, deadline=None)
@given(st.lists(st.integers(1, 5), min_size=1, max_size=6), st.integers(0, 10**6))
def test_any_layout_of_features_and_levels(levels, seed):
    rng = np.random.default_rng(seed)
    n_features = 2 * len(levels)
    order = [int(p) for p in rng.permutation(n_features)]
    nums, cats = order[: len(levels)], order[len(levels) :]
    x = rng.normal(size=(40, n_features))
    for p, k in zip(cats, levels):
        x[:, p] = np.arange(40) % k
    out = DataPreprocessor(nums, cats).fit_transform(x)
    assert_allclose(out, expected(x, x, nums, cats), atol=1e-12)


@pytest.mark.parametrize("encode", ["one_hot", "ordinal"])
@pytest.mark.parametrize(
    "as_frame, feature_names, shown",
    [(False, None, "at position 1"), (True, None, "'b'"), (False, ["p", "q", "r"], "'q'")],
)
def test_an_all_missing_categorical_column_is_named_in_the_error(
    encode, as_frame, feature_names, shown
):
    import pandas as pd

    x = np.random.default_rng(0).integers(0, 3, size=(12, 3)).astype(float)
    x[:, 1] = np.nan
    data = pd.DataFrame(x, columns=list("abc")) if as_frame else x
    before = x.copy()
    prep = DataPreprocessor([0, 2], [1], "unit_norm", encode, feature_names=feature_names)
    with pytest.raises(ValueError, match=f"categorical feature {shown} has no values"):
        prep.fit_transform(data)
    assert_array_equal(np.asarray(data), before)
    # passed through unencoded, the same column is no problem
    assert DataPreprocessor([0, 2], [1], "unit_norm", None).fit_transform(data).shape == (12, 3)
