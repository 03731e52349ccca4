"""The dataset object: a table, its target and what the models need from them.

A :class:`Dataset` wraps a pandas DataFrame and the name of its target column.
It settles the task type, the feature names and types, a seeded train/test
split, the sample weights, the metrics that score models on it, and a
preprocessing (:class:`TablePreprocessing`) fitted on the training split that
turns raw feature columns into the numeric matrix the models consume.

The ten built-in demonstration datasets are built with :meth:`Dataset.load`
(or :func:`load_dataset`); :func:`load_frame` gives just their tables.
"""

import numpy as np
import pandas as pd
from pandas.api.types import is_bool_dtype, is_integer_dtype, is_numeric_dtype
from sklearn.model_selection import train_test_split

from zeka.config import misc_settings
from zeka.data.datasets.registry import DATASET_SOURCES
from zeka.data.tabular_prep import DataPreprocessor

TASK_TYPES = ("regression", "classification")
FEATURE_TYPES = ("numerical", "categorical")
NORMALIZE_STRATEGIES = ("unit_norm", "minmax", None)
ENCODE_STRATEGIES = ("ordinal", "one_hot", None)

# An integer-valued column with at most this many distinct values is taken as
# categorical (counts of children, star ratings, 0/1 flags).
MAX_CATEGORICAL_LEVELS = 10


def infer_feature_type(column):
    """ "categorical" for a non-numeric, boolean or few-valued integer column, else "numerical"."""
    if is_bool_dtype(column) or not is_numeric_dtype(column):
        return "categorical"
    values = column.dropna()
    integral = is_integer_dtype(column) or bool(np.all(np.mod(values.to_numpy(float), 1) == 0))
    if integral and len(values) > 0 and values.nunique() <= MAX_CATEGORICAL_LEVELS:
        return "categorical"
    return "numerical"


def sorted_categories(values):
    """The distinct non-missing values of a Series, sorted.

    Values of mixed types (say numbers and text in one column) do not compare,
    so they are sorted by type name first and then by their text form.
    """
    uniques = list(pd.unique(values.dropna().astype(object)))
    try:
        return sorted(uniques)
    except TypeError:
        return sorted(uniques, key=lambda v: (type(v).__name__, str(v)))


def _numeric_values(column, name):
    """The column as floats (missing as NaN); text that is not a number is an error."""
    numbers = pd.to_numeric(column, errors="coerce")
    bad = numbers.isna() & column.notna()
    if bad.any():
        raise ValueError(
            "numerical feature {!r} holds values that are not numbers, such as {!r}; "
            "declare it categorical or clean it".format(name, column[bad].iloc[0])
        )
    return numbers.to_numpy(dtype=float, na_value=np.nan, copy=True)


class TablePreprocessing:
    """Raw feature columns to the numeric matrix a model consumes.

    ``TablePreprocessing(feature_names, feature_types, normalize="unit_norm", encoding="ordinal")``

    Fitting learns, from the rows it is given:

    - for each categorical feature its categories, sorted, which become the
      integer codes 0 to k-1 (``categories_``); missing values and categories
      not seen in fitting take the code of the most frequent category;
    - for each numerical feature its median, which fills missing values
      (``fill_values_``; 0 when the column has no value at all);
    - a :class:`~zeka.data.tabular_prep.DataPreprocessor` (``preprocessor_``)
      over the coded matrix, with the numerical positions
      ``nfeature_index_list``, the categorical positions ``cfeature_index_list``,
      ``normalize`` as its normalize strategy and ``encoding`` as its encode
      strategy.

    Input is a DataFrame holding the feature columns (by name; other columns
    are ignored) or a two-dimensional array with the features in order. The
    input is only read.
    """

    def __init__(self, feature_names, feature_types, normalize="unit_norm", encoding="ordinal"):
        if normalize not in NORMALIZE_STRATEGIES:
            raise ValueError(
                "normalize must be one of {}, not {!r}".format(NORMALIZE_STRATEGIES, normalize)
            )
        if encoding not in ENCODE_STRATEGIES:
            raise ValueError(
                "encoding must be one of {}, not {!r}".format(ENCODE_STRATEGIES, encoding)
            )
        self.feature_names = list(feature_names)
        self.feature_types = list(feature_types)
        self.normalize = normalize
        self.encoding = encoding
        self.nfeature_index_list = [
            j for j, kind in enumerate(self.feature_types) if kind == "numerical"
        ]
        self.cfeature_index_list = [
            j for j, kind in enumerate(self.feature_types) if kind == "categorical"
        ]

    def fit_transform(self, x):
        frame = self._as_frame(x)
        categories, fill_values = {}, {}
        for name, kind in zip(self.feature_names, self.feature_types):
            column = frame[name]
            if kind == "categorical":
                categories[name] = sorted_categories(column)
                codes = self._codes(column, categories[name], None)
                counts = np.bincount(
                    codes[~np.isnan(codes)].astype(int), minlength=max(len(categories[name]), 1)
                )
                fill_values[name] = float(np.argmax(counts))
            else:
                values = _numeric_values(column, name)
                present = values[~np.isnan(values)]
                fill_values[name] = float(np.median(present)) if len(present) else 0.0
        preprocessor = DataPreprocessor(
            list(self.nfeature_index_list),
            list(self.cfeature_index_list),
            normalize_strategy=self.normalize,
            encode_strategy=self.encoding,
            feature_names=list(self.feature_names),
        )
        result = preprocessor.fit_transform(self._coded_matrix(frame, categories, fill_values))
        self._check_width(result, categories)
        # The fitted state changes only once everything has succeeded.
        self.categories_, self.fill_values_ = categories, fill_values
        self.preprocessor_ = preprocessor
        return result

    def fit(self, x):
        self.fit_transform(x)
        return self

    def transform(self, x):
        if not hasattr(self, "preprocessor_"):
            raise AttributeError("TablePreprocessing is not fitted yet; call fit first")
        coded = self._coded_matrix(self._as_frame(x), self.categories_, self.fill_values_)
        return self.preprocessor_.transform(coded)

    def _output_width(self, categories):
        """Width of the transformed matrix: one column per feature, except one-hot coded ones."""
        width = len(self.nfeature_index_list)
        for j in self.cfeature_index_list:
            levels = len(categories[self.feature_names[j]])
            width += max(levels - 1, 0) if self.encoding == "one_hot" else 1
        return width

    def _as_frame(self, x):
        if isinstance(x, pd.DataFrame):
            missing = [name for name in self.feature_names if name not in x.columns]
            if missing:
                raise ValueError("the data lacks the feature columns {}".format(missing))
            return x
        array = np.asarray(x, dtype=object)
        if array.ndim != 2 or array.shape[1] != len(self.feature_names):
            raise ValueError(
                "expected a DataFrame or a 2-d array with {} columns, got shape {}".format(
                    len(self.feature_names), array.shape
                )
            )
        return pd.DataFrame(array, columns=self.feature_names)

    @staticmethod
    def _codes(column, categories, fill):
        """Category codes as floats; values outside `categories` become `fill` (NaN if None)."""
        mapping = {value: float(code) for code, value in enumerate(categories)}
        codes = column.astype(object).map(mapping).to_numpy(dtype=float, na_value=np.nan, copy=True)
        if fill is not None:
            codes[np.isnan(codes)] = fill
        return codes

    def _coded_matrix(self, frame, categories, fill_values):
        """The numeric matrix the DataPreprocessor expects: codes and gap-free numbers."""
        columns = []
        for name, kind in zip(self.feature_names, self.feature_types):
            fill = fill_values[name]
            if kind == "categorical":
                columns.append(self._codes(frame[name], categories[name], fill))
                continue
            values = _numeric_values(frame[name], name)
            values[np.isnan(values)] = fill
            if not np.all(np.isfinite(values)):
                raise ValueError("numerical feature {!r} holds infinite values".format(name))
            if self.normalize == "unit_norm":
                _require_standardisable(values, name)
            columns.append(values)
        if not columns:
            return np.empty((len(frame), 0))
        return np.column_stack(columns)

    def _check_width(self, result, categories):
        expected = self._output_width(categories)
        if result.shape[1] != expected:
            raise RuntimeError(
                "the preprocessing returned {} columns where {} were expected; "
                "encoded feature columns would be lost".format(result.shape[1], expected)
            )

    def __repr__(self):
        return "TablePreprocessing(normalize={!r}, encoding={!r}, {} features)".format(
            self.normalize, self.encoding, len(self.feature_names)
        )


# Standardising squares the values: beyond these magnitudes the squares
# overflow to infinity or fall below double precision's normal range.
_LARGEST_STANDARDISABLE = 1e150
_SMALLEST_STANDARDISABLE = 1e-150


def _require_standardisable(values, name):
    largest = float(np.max(np.abs(values), initial=0.0))
    if largest > _LARGEST_STANDARDISABLE:
        problem = "values as large as {:.3g}, whose squares overflow".format(largest)
    elif 0.0 < largest < _SMALLEST_STANDARDISABLE:
        problem = "only values as small as {:.3g}, whose squares vanish".format(largest)
    else:
        return
    raise ValueError(
        "numerical feature {!r} holds {}, so it cannot be standardised; rescale it "
        "to units near 1, or choose another normalisation".format(name, problem)
    )


def _resolve_task(y, target, task_type):
    """The task type, the encoded target and the class labels (None for regression)."""
    numeric = is_numeric_dtype(y) and not is_bool_dtype(y)
    n_distinct = y.nunique()
    if task_type is None:
        task_type = "classification" if n_distinct == 2 or not numeric else "regression"
    elif task_type not in TASK_TYPES:
        raise ValueError(
            "task_type must be 'regression' or 'classification', not {!r}".format(task_type)
        )
    if task_type == "regression":
        if not numeric:
            raise ValueError(
                "a regression target must be numeric; target {!r} has dtype {}".format(
                    target, y.dtype
                )
            )
        return task_type, y.to_numpy(dtype=float), None
    if n_distinct != 2:
        raise ValueError(
            "only binary classification is supported; target {!r} has {} distinct values".format(
                target, n_distinct
            )
        )
    labels = sorted_categories(y)
    codes = y.astype(object).map({labels[0]: 0, labels[1]: 1}).to_numpy(dtype=np.int64)
    return task_type, codes, labels


def _resolve_feature_types(data, feature_names, feature_types):
    inferred = [infer_feature_type(data[name]) for name in feature_names]
    if feature_types is None:
        return inferred
    if isinstance(feature_types, dict):
        unknown = [name for name in feature_types if name not in feature_names]
        if unknown:
            raise ValueError(
                "feature_types names columns that are not features: {}".format(unknown)
            )
        given = [feature_types.get(name, kind) for name, kind in zip(feature_names, inferred)]
    else:
        given = list(feature_types)
        if len(given) != len(feature_names):
            raise ValueError(
                "feature_types has {} entries for {} features".format(
                    len(given), len(feature_names)
                )
            )
    bad = [kind for kind in given if kind not in FEATURE_TYPES]
    if bad:
        raise ValueError(
            "feature types must be 'numerical' or 'categorical', not {!r}".format(bad[0])
        )
    return given


def _resolve_sample_weight(sample_weight, n_rows):
    if sample_weight is None:
        return np.ones(n_rows)
    weights = np.asarray(sample_weight, dtype=float)
    if weights.shape != (n_rows,):
        raise ValueError(
            "sample_weight must hold one weight per row ({}), got shape {}".format(
                n_rows, weights.shape
            )
        )
    if not np.all(np.isfinite(weights)) or np.any(weights < 0) or not weights.sum() > 0:
        raise ValueError("sample weights must be finite, non-negative and not all zero")
    return weights


def _check_choice(train, test):
    if bool(train) == bool(test):
        raise ValueError("choose one split: train=True or test=True")
    return "train" if train else "test"


class Dataset:
    """A table with a target column, ready for modelling.

    ``Dataset(data, target, task_type=None, feature_types=None, sample_weight=None,
    test_ratio=0.2, random_state=0, normalize="unit_norm", encoding="ordinal", name=None)``

    Parameters
    ----------
    data : pandas.DataFrame
        The table, features and target. Held by reference as ``raw_data``, never
        copied or changed; it is read when the dataset is built and again
        whenever raw covariates are asked for, so leave it unchanged afterwards.
    target : column label
        The target column. It may not have missing values.
    task_type : "regression", "classification" or None
        None infers it: a target with two distinct values, or a non-numeric
        target, is classification; any other numeric target is regression.
        Classification is binary only: the two labels, sorted, are coded 0 and 1
        (``class_labels`` holds them in code order).
    feature_types : list, dict or None
        "numerical" or "categorical" per feature. None infers them (see
        :func:`infer_feature_type`); a list gives all of them in the order of
        ``feature_names``; a dict overrides the inferred type of some features.
    sample_weight : array-like or None
        One non-negative weight per row, taken by position; None gives ones.
    test_ratio : float
        Share of rows in the test split, strictly between 0 and 1.
    random_state : int
        Seed of the split. Classification splits are stratified by the target.
    normalize : "unit_norm", "minmax" or None
        Scaling of numerical features (standardise, scale to [0, 1], none).
    encoding : "ordinal", "one_hot" or None
        Encoding of categorical features. The default "ordinal" keeps one column
        per feature, so the model matrix lines up with ``feature_names`` and
        ``feature_types``; "one_hot" gives one column per category but the first.
    name : str or None
        A name for display; the built-in datasets carry theirs.

    Attributes
    ----------
    raw_data, target, name, task_type, feature_names, feature_types, class_labels,
    test_ratio, random_state, normalize, encoding, y (the encoded target of all rows),
    sample_weight (all rows), train_index and test_index (row positions, sorted),
    scoring (a new dict of the metric scorers of the task type, from
    ``zeka.config.misc_settings``), preprocessing (a :class:`TablePreprocessing`
    fitted on the training split), and the preprocessed splits ``train_x``,
    ``train_y``, ``train_sample_weight``, ``test_x``, ``test_y``,
    ``test_sample_weight``.

    Missing values in features are filled by the preprocessing (median for
    numerical, most frequent category for categorical features), so a raw
    table with gaps still gives a usable dataset.
    """

    def __init__(
        self,
        data,
        target,
        task_type=None,
        feature_types=None,
        sample_weight=None,
        test_ratio=0.2,
        random_state=0,
        normalize="unit_norm",
        encoding="ordinal",
        name=None,
    ):
        if not isinstance(data, pd.DataFrame):
            raise TypeError("data must be a pandas DataFrame, not {}".format(type(data).__name__))
        if not data.columns.is_unique:
            raise ValueError("the data has repeated column labels")
        if target not in data.columns:
            raise ValueError("target {!r} is not a column of the data".format(target))
        if not 0 < test_ratio < 1:
            raise ValueError("test_ratio must be between 0 and 1, not {!r}".format(test_ratio))
        y = data[target]
        if y.isna().any():
            raise ValueError("target {!r} has {} missing values".format(target, y.isna().sum()))

        self.raw_data = data
        self.target = target
        self.name = name
        self.test_ratio = test_ratio
        self.random_state = random_state
        self.feature_names = [column for column in data.columns if column != target]
        if not self.feature_names:
            raise ValueError("the data has no feature columns besides the target")
        self._feature_positions = [data.columns.get_loc(c) for c in self.feature_names]

        self.task_type, self.y, self.class_labels = _resolve_task(y, target, task_type)
        self.feature_types = _resolve_feature_types(data, self.feature_names, feature_types)
        self.sample_weight = _resolve_sample_weight(sample_weight, len(data))
        self.scoring = dict(
            misc_settings.REG_METRICS
            if self.task_type == "regression"
            else misc_settings.CLS_METRICS
        )

        train, test = train_test_split(
            np.arange(len(data)),
            test_size=test_ratio,
            random_state=random_state,
            stratify=self.y if self.task_type == "classification" else None,
        )
        self.train_index = np.sort(train)
        self.test_index = np.sort(test)

        self.normalize = normalize
        self.encoding = encoding
        self.preprocessing = self.make_preprocessing()
        self.train_x = self.preprocessing.fit_transform(self._raw_x(self.train_index))
        self.test_x = self.preprocessing.transform(self._raw_x(self.test_index))
        self.train_y = self.y[self.train_index]
        self.test_y = self.y[self.test_index]
        self.train_sample_weight = self.sample_weight[self.train_index]
        self.test_sample_weight = self.sample_weight[self.test_index]

    def make_preprocessing(self):
        """A new, unfitted :class:`TablePreprocessing` with this dataset's features and settings."""
        return TablePreprocessing(
            self.feature_names, self.feature_types, self.normalize, self.encoding
        )

    def get_raw_data(self, train=False, test=False):
        """(x, y, sample_weight) of one split, with x the raw feature columns.

        x is a new DataFrame of the feature columns (row labels as in
        ``raw_data``); y is the encoded target.
        """
        index = self.train_index if _check_choice(train, test) == "train" else self.test_index
        return self._raw_x(index), self.y[index], self.sample_weight[index]

    def get_data(self, train=False, test=False):
        """(x, y, sample_weight) of one split, with x preprocessed for the model."""
        if _check_choice(train, test) == "train":
            return self.train_x, self.train_y, self.train_sample_weight
        return self.test_x, self.test_y, self.test_sample_weight

    def _raw_x(self, index):
        return self.raw_data.iloc[index, self._feature_positions]

    @classmethod
    def load(cls, name, **options):
        """The built-in demonstration dataset `name` (a key of ``misc_settings.DATASET_NAMES``).

        `options` are passed to the constructor (test_ratio, random_state,
        normalize, encoding, feature_types, sample_weight).
        """
        source = _source(name)
        return cls(source.build(), source.target, task_type=source.task_type, name=name, **options)

    def __repr__(self):
        return "Dataset(name={!r}, task_type={!r}, rows={}, features={}, train={}, test={})".format(
            self.name,
            self.task_type,
            len(self.raw_data),
            len(self.feature_names),
            len(self.train_index),
            len(self.test_index),
        )


def _source(name):
    if name not in DATASET_SOURCES:
        raise ValueError(
            "unknown dataset {!r}; the built-in datasets are {}".format(
                name, ", ".join(DATASET_SOURCES)
            )
        )
    return DATASET_SOURCES[name]


def load_dataset(name, **options):
    """The built-in demonstration dataset `name` as a :class:`Dataset`; see :meth:`Dataset.load`."""
    return Dataset.load(name, **options)


def load_frame(name):
    """A new DataFrame holding the table of the built-in dataset `name`, target included."""
    return _source(name).build()
