import numpy as np
import pandas as pd
import pytest

from zeka.config import misc_settings
from zeka.data.dataset import Dataset, infer_feature_type, load_dataset, load_frame
from zeka.data.datasets import credit
from zeka.data.datasets.registry import DATASET_SOURCES

NAMES = list(misc_settings.DATASET_NAMES)

TASKS = {
    "SimuCredit_raw": "classification",
    "SimuCredit_trim1": "classification",
    "SimuCredit_trim2": "classification",
    "SimuHousing": "regression",
    "SimuRegression": "regression",
    "SimuClassification": "classification",
    "Friedman1": "regression",
    "Hastie10": "classification",
    "Diabetes": "regression",
    "BreastCancer": "classification",
}


@pytest.fixture(scope="module")
def loaded():
    return {name: Dataset.load(name) for name in NAMES}


@pytest.fixture(scope="module")
def raw_credit():
    return load_frame("SimuCredit_raw")


def mixed_frame(n=200, seed=3):
    rng = np.random.default_rng(seed)
    return pd.DataFrame(
        {
            "amount": rng.normal(size=n),
            "age": rng.integers(18, 90, size=n),
            "children": rng.integers(0, 4, size=n),
            "colour": rng.choice(["red", "green", "blue"], size=n),
            "flag": rng.uniform(size=n) < 0.5,
            "rating": rng.integers(1, 6, size=n).astype(float),
            "grade": pd.Categorical(rng.choice(["a", "b"], size=n)),
            "y": rng.normal(size=n),
        }
    )


def test_every_table_name_has_a_builder():
    assert list(DATASET_SOURCES) == NAMES


@pytest.mark.parametrize("name", NAMES)
def test_loading_is_deterministic_and_small(name, loaded):
    first, second = load_frame(name), load_frame(name)
    pd.testing.assert_frame_equal(first, second)
    assert first is not second
    assert 300 <= len(first) <= 5000
    again = Dataset.load(name)
    pd.testing.assert_frame_equal(again.raw_data, loaded[name].raw_data)
    np.testing.assert_array_equal(again.train_index, loaded[name].train_index)
    np.testing.assert_array_equal(again.train_x, loaded[name].train_x)


@pytest.mark.parametrize("name", NAMES)
def test_loaded_dataset_is_model_ready(name, loaded):
    dataset = loaded[name]
    assert dataset.name == name
    assert dataset.task_type == TASKS[name]
    assert dataset.feature_names == [c for c in dataset.raw_data.columns if c != dataset.target]
    assert len(dataset.feature_types) == len(dataset.feature_names)
    for x in (dataset.train_x, dataset.test_x):
        assert x.shape[1] == len(dataset.feature_names)  # ordinal: one column per feature
        assert np.all(np.isfinite(x))
    if dataset.task_type == "classification":
        assert set(np.unique(dataset.y)) == {0, 1}


@pytest.mark.parametrize("name", NAMES)
def test_split_partitions_the_rows(name, loaded):
    dataset = loaded[name]
    n = len(dataset.raw_data)
    train, test = dataset.train_index, dataset.test_index
    assert len(train) + len(test) == n
    assert np.array_equal(np.sort(np.concatenate([train, test])), np.arange(n))
    assert len(test) == int(np.ceil(0.2 * n))
    for part, x, y, w in (
        (train, dataset.train_x, dataset.train_y, dataset.train_sample_weight),
        (test, dataset.test_x, dataset.test_y, dataset.test_sample_weight),
    ):
        assert len(x) == len(y) == len(w) == len(part)
        np.testing.assert_array_equal(y, dataset.y[part])


@pytest.mark.parametrize("name", [n for n in NAMES if TASKS[n] == "classification"])
@pytest.mark.parametrize("test_ratio", [0.2, 0.35])
def test_classification_split_is_stratified(name, test_ratio):
    dataset = Dataset.load(name, test_ratio=test_ratio, random_state=7)
    share = dataset.y.mean()
    for y in (dataset.train_y, dataset.test_y):
        assert abs(y.mean() - share) <= 1.0 / len(dataset.test_y) + 1e-12


def test_seed_changes_the_split_and_test_ratio_its_size():
    base = Dataset.load("SimuRegression")
    reseeded = Dataset.load("SimuRegression", random_state=1)
    assert not np.array_equal(base.test_index, reseeded.test_index)
    assert len(Dataset.load("SimuRegression", test_ratio=0.5).test_index) == 1000


def test_raw_data_is_held_by_reference_and_left_unchanged():
    frame = mixed_frame()
    frame.loc[3, "amount"] = np.nan
    before = frame.copy()
    dataset = Dataset(frame, "y")
    assert dataset.raw_data is frame
    pd.testing.assert_frame_equal(frame, before)
    x, _, _ = dataset.get_raw_data(train=True)
    x.iloc[:, 0] = 0.0
    pd.testing.assert_frame_equal(frame, before)


def test_feature_types_are_inferred_from_dtypes():
    dataset = Dataset(mixed_frame(), "y")
    assert dict(zip(dataset.feature_names, dataset.feature_types)) == {
        "amount": "numerical",
        "age": "numerical",
        "children": "categorical",
        "colour": "categorical",
        "flag": "categorical",
        "rating": "categorical",
        "grade": "categorical",
    }


@pytest.mark.parametrize(
    "values, expected",
    [
        (pd.Series([0.5, 1.0, 2.0, np.nan]), "numerical"),
        (pd.Series([1.0, 2.0, np.nan, 2.0]), "categorical"),
        (pd.Series(np.arange(11)), "numerical"),
        (pd.Series(np.arange(10)), "categorical"),
        (pd.Series(["1", "2"], dtype=object), "categorical"),
        (pd.Series([np.nan, np.nan]), "numerical"),
    ],
)
def test_infer_feature_type(values, expected):
    assert infer_feature_type(values) == expected


def test_feature_types_can_be_overridden():
    frame = mixed_frame()
    by_name = Dataset(frame, "y", feature_types={"children": "numerical", "amount": "categorical"})
    types = dict(zip(by_name.feature_names, by_name.feature_types))
    assert types["children"] == "numerical" and types["amount"] == "categorical"
    assert types["colour"] == "categorical"
    full = [
        "numerical",
        "categorical",
        "numerical",
        "categorical",
        "categorical",
        "numerical",
        "categorical",
    ]
    listed = Dataset(frame, "y", feature_types=full)
    assert listed.feature_types == full
    assert listed.preprocessing.cfeature_index_list == [1, 3, 4, 6]
    assert by_name.preprocessing.nfeature_index_list == [1, 2]


@pytest.mark.parametrize(
    "feature_types, message",
    [
        (["numerical"], "7 features"),
        ({"nope": "numerical"}, "not features"),
        ({"age": "ordinal"}, "'numerical' or 'categorical'"),
        ({"colour": "numerical"}, "not numbers"),
    ],
)
def test_bad_feature_types_are_refused(feature_types, message):
    with pytest.raises(ValueError, match=message):
        Dataset(mixed_frame(), "y", feature_types=feature_types)


@pytest.mark.parametrize(
    "task_type, scorers", [("regression", "REG_METRICS"), ("classification", "CLS_METRICS")]
)
def test_scoring_holds_the_scorers_of_the_task(task_type, scorers):
    name = next(n for n in NAMES if TASKS[n] == task_type)
    table = getattr(misc_settings, scorers)
    first, second = Dataset.load(name), Dataset.load(name)
    assert list(first.scoring) == list(table)
    assert all(first.scoring[key] is table[key] for key in table)
    assert first.scoring is not table and first.scoring is not second.scoring
    first.scoring.pop(next(iter(table)))
    assert len(table) == len(second.scoring) == len(first.scoring) + 1


@pytest.mark.parametrize(
    "labels, expected_classes",
    [
        (["no", "yes"], ["no", "yes"]),
        ([-1, 1], [-1, 1]),
        ([True, False], [False, True]),
    ],
)
def test_binary_targets_are_coded_0_1(labels, expected_classes):
    frame = mixed_frame()
    y = np.resize(np.array(labels, dtype=object), len(frame))
    frame["y"] = pd.Series(y, dtype=type(labels[0]))
    dataset = Dataset(frame, "y")
    assert dataset.task_type == "classification"
    assert dataset.class_labels == expected_classes
    np.testing.assert_array_equal(dataset.y, (frame["y"] == expected_classes[1]).astype(int))


def test_numeric_target_with_many_values_is_regression():
    dataset = Dataset(mixed_frame(), "y")
    assert dataset.task_type == "regression" and dataset.class_labels is None
    np.testing.assert_array_equal(dataset.y, mixed_frame()["y"].to_numpy())


@pytest.mark.parametrize(
    "change, kwargs, error, message",
    [
        (None, {"target": "missing"}, ValueError, "not a column"),
        ("nan_target", {}, ValueError, "missing values"),
        ("three_text_classes", {}, ValueError, "only binary"),
        ("three_int_classes", {"task_type": "classification"}, ValueError, "only binary"),
        ("text_target", {"task_type": "regression"}, ValueError, "must be numeric"),
        (None, {"task_type": "ranking"}, ValueError, "task_type"),
        (None, {"test_ratio": 1.0}, ValueError, "test_ratio"),
        (None, {"sample_weight": np.ones(5)}, ValueError, "one weight per row"),
        (None, {"sample_weight": -np.ones(200)}, ValueError, "non-negative"),
        (None, {"normalize": "zscore"}, ValueError, "normalize"),
        (None, {"encoding": "binary"}, ValueError, "encoding"),
    ],
)
def test_bad_input_is_refused(change, kwargs, error, message):
    frame = mixed_frame()
    if change == "nan_target":
        frame.loc[5, "y"] = np.nan
    elif change == "three_text_classes":
        frame["y"] = np.resize(["a", "b", "c"], len(frame))
    elif change == "three_int_classes":
        frame["y"] = np.resize([0, 1, 2], len(frame))
    elif change == "text_target":
        frame["y"] = np.resize(["a", "b"], len(frame))
    kwargs = {"target": "y", **kwargs}
    with pytest.raises(error, match=message):
        Dataset(frame, **kwargs)


def test_data_must_be_a_frame():
    with pytest.raises(TypeError, match="DataFrame"):
        Dataset(mixed_frame().to_numpy(), "y")


@pytest.mark.parametrize("bad", ["Iris", "simucredit_raw", ""])
def test_unknown_dataset_name_is_refused(bad):
    with pytest.raises(ValueError, match="unknown dataset"):
        Dataset.load(bad)
    with pytest.raises(ValueError, match="unknown dataset"):
        load_frame(bad)


def test_load_dataset_passes_options_on():
    dataset = load_dataset("SimuHousing", test_ratio=0.3, normalize=None, encoding="one_hot")
    assert isinstance(dataset, Dataset)
    assert len(dataset.test_index) == 600
    raw = dataset.raw_data
    types = dict(zip(dataset.feature_names, dataset.feature_types))
    levels = [
        raw[n].iloc[dataset.train_index].nunique() for n, t in types.items() if t == "categorical"
    ]
    n_numerical = list(types.values()).count("numerical")
    assert dataset.train_x.shape[1] == n_numerical + sum(k - 1 for k in levels)
    # without scaling the numerical columns keep their values
    kept = np.sort(raw["Area"].iloc[dataset.train_index].to_numpy())
    assert any(np.array_equal(np.sort(col), kept) for col in dataset.train_x.T)


def test_sample_weights_default_to_ones_and_follow_the_split():
    frame = mixed_frame()
    assert np.array_equal(Dataset(frame, "y").sample_weight, np.ones(len(frame)))
    weights = np.arange(len(frame), dtype=float) + 1
    dataset = Dataset(frame, "y", sample_weight=weights)
    np.testing.assert_array_equal(dataset.train_sample_weight, weights[dataset.train_index])
    _, _, w = dataset.get_raw_data(test=True)
    np.testing.assert_array_equal(w, weights[dataset.test_index])


def test_missing_values_are_filled_from_the_training_split():
    frame = mixed_frame()
    frame["amount"] = frame["amount"].astype(float)
    frame["colour"] = frame["colour"].astype(object)
    frame.loc[frame.index[::10], "amount"] = np.nan
    frame.loc[frame.index[::7], "colour"] = None
    dataset = Dataset(frame, "y", normalize=None)
    train = frame.iloc[dataset.train_index]
    position = dataset.feature_names.index("amount")
    gaps = train["amount"].isna().to_numpy()
    assert np.all(dataset.train_x[gaps, position] == train["amount"].median())
    colour = dataset.feature_names.index("colour")
    most_frequent = train["colour"].value_counts().idxmax()
    code = dataset.preprocessing.categories_["colour"].index(most_frequent)
    assert np.all(dataset.train_x[train["colour"].isna().to_numpy(), colour] == code)
    assert np.all(np.isfinite(dataset.test_x))


def test_unseen_category_takes_the_most_frequent_code():
    frame = mixed_frame()
    dataset = Dataset(frame, "y", normalize=None)
    new = frame.iloc[:3].drop(columns="y").copy()
    new["colour"] = ["purple", "red", None]
    coded = dataset.preprocessing.transform(new)
    colour = dataset.feature_names.index("colour")
    train = frame["colour"].iloc[dataset.train_index]
    common = dataset.preprocessing.categories_["colour"].index(train.value_counts().idxmax())
    red = dataset.preprocessing.categories_["colour"].index("red")
    assert list(coded[:, colour]) == [common, red, common]


def test_get_data_needs_exactly_one_split():
    dataset = Dataset(mixed_frame(), "y")
    for kwargs in ({}, {"train": True, "test": True}):
        with pytest.raises(ValueError, match="one split"):
            dataset.get_data(**kwargs)
        with pytest.raises(ValueError, match="one split"):
            dataset.get_raw_data(**kwargs)
    x, y, w = dataset.get_raw_data(train=True)
    assert list(x.columns) == dataset.feature_names
    np.testing.assert_allclose(dataset.preprocessing.transform(x), dataset.train_x)


def is_special_only(value):
    return isinstance(value, str) and value.strip() != "" and not any(c.isalnum() for c in value)


def long_values(column):
    text = column.dropna().map(str)
    lengths = text.map(len)
    return lengths > lengths.quantile(0.8, interpolation="nearest") + 5


def test_raw_credit_table_has_each_integrity_problem(raw_credit):
    single = [c for c in raw_credit.columns if raw_credit[c].nunique(dropna=False) == 1]
    assert single == ["Country"]
    assert raw_credit.drop(columns=credit.TARGET).isna().any().sum() >= 3
    duplicated = raw_credit[raw_credit.duplicated(keep=False)]
    assert len(duplicated) >= 2 * 50 and duplicated.notna().all(axis=None)

    income = raw_credit["Income"].dropna()
    assert income.map(lambda v: isinstance(v, str)).all()
    parses = income.map(lambda v: pd.notna(pd.to_numeric(v, errors="coerce")))
    assert 0.9 < parses.mean() < 1.0

    assert long_values(raw_credit["LoanPurpose"]).sum() >= 10
    assert raw_credit["Education"].map(is_special_only).sum() >= 20


def test_trimmed_credit_tables_remove_the_problems(raw_credit):
    trim1, trim2 = load_frame("SimuCredit_trim1"), load_frame("SimuCredit_trim2")
    assert len(trim1) == len(trim2) == len(raw_credit.drop_duplicates())
    for table in (trim1, trim2):
        assert "Country" not in table.columns
        assert not table.duplicated().any()
        assert pd.api.types.is_float_dtype(table["Income"])
    # trim1 keeps the gaps and odd strings, trim2 has none
    assert trim1.isna().any().any() and not trim2.isna().any().any()
    assert trim1["Education"].map(is_special_only).any()
    assert not trim2["Education"].map(is_special_only).any()
    assert long_values(trim1["LoanPurpose"]).any() and not long_values(trim2["LoanPurpose"]).any()
    assert set(trim2["Education"]) <= set(credit.EDUCATION)
    assert set(trim2["LoanPurpose"]) <= set(credit.PURPOSE)
    # rows that were complete in trim1 are unchanged in trim2
    complete = (
        trim1.notna().all(axis=1)
        & trim1["Education"].isin(credit.EDUCATION)
        & trim1["LoanPurpose"].isin(credit.PURPOSE)
    )
    pd.testing.assert_frame_equal(trim1[complete].astype(object), trim2[complete].astype(object))


@pytest.mark.parametrize(
    "factor, word", [(1e300, "large"), (1e160, "large"), (1e-300, "small"), (1e-310, "small")]
)
def test_a_feature_too_extreme_to_standardise_is_named(factor, word):
    frame = mixed_frame()
    frame["amount"] = frame["amount"] * factor
    with pytest.raises(ValueError, match=f"feature 'amount' holds .*values as {word} as"):
        Dataset(frame, "y")
    # min-max scaling and no scaling need no squares: the same column is usable there
    for normalize in ["minmax", None]:
        dataset = Dataset(frame, "y", normalize=normalize)
        assert np.all(np.isfinite(dataset.train_x))


def test_ordinary_magnitudes_are_standardised_as_before():
    frame = mixed_frame()
    plain = Dataset(frame, "y").train_x
    frame["amount"] = frame["amount"] * 1e140
    np.testing.assert_allclose(Dataset(frame, "y").train_x, plain, rtol=1e-9, atol=1e-12)
