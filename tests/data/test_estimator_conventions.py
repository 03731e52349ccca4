"""scikit-learn's estimator conventions on DataPreprocessor and OneClassSVM, checked against
scikit-learn's own BaseEstimator and encoders."""

import re

import numpy as np
import pandas as pd
import pytest
import sklearn
from numpy.testing import assert_allclose, assert_array_equal
from sklearn.base import BaseEstimator, clone
from sklearn.exceptions import NotFittedError
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import OneHotEncoder, StandardScaler
from sklearn.utils import estimator_html_repr
from sklearn.utils.validation import check_is_fitted

from zeka.data.outlier_detection.novelty import OneClassSVM
from zeka.data.tabular_prep import DataPreprocessor

SVM_DEFAULTS = dict(
    kernel="rbf",
    degree=3,
    gamma="scale",
    coef0=0.0,
    tol=0.001,
    nu=0.5,
    shrinking=True,
    cache_size=200,
    verbose=False,
    max_iter=-1,
)


class PrepReference(BaseEstimator):
    """scikit-learn's BaseEstimator with DataPreprocessor's constructor."""

    def __init__(
        self,
        nfeature_index_list,
        cfeature_index_list,
        normalize_strategy="unit_norm",
        encode_strategy="one_hot",
        feature_names=None,
    ):
        self.nfeature_index_list = nfeature_index_list
        self.cfeature_index_list = cfeature_index_list
        self.normalize_strategy = normalize_strategy
        self.encode_strategy = encode_strategy
        self.feature_names = feature_names


class SvmReference(BaseEstimator):
    """scikit-learn's BaseEstimator with OneClassSVM's constructor."""

    def __init__(
        self,
        kernel="rbf",
        degree=3,
        gamma="scale",
        coef0=0.0,
        tol=0.001,
        nu=0.5,
        shrinking=True,
        cache_size=200,
        verbose=False,
        max_iter=-1,
        standardization=True,
    ):
        for name, value in list(locals().items())[1:]:
            setattr(self, name, value)


PrepReference.__name__ = "DataPreprocessor"
SvmReference.__name__ = "OneClassSVM"


def mixed(rows, seed=0, levels=(3, 4)):
    """Numbers at 0, 2, 4 and categorical codes at 1, 3."""
    rng = np.random.default_rng(seed)
    x = rng.normal(3.0, 2.0, size=(rows, 5))
    for p, k in zip((1, 3), levels):
        x[:, p] = rng.integers(0, k, rows)
    return x


def outputs(estimator, x):
    """What a fit on x yields: the transformed matrix, or the scores and labels."""
    if isinstance(estimator, DataPreprocessor):
        return [estimator.fit_transform(x)]
    estimator.fit(x)
    return [estimator.score, estimator.predict(x), estimator.predict(x[:20], threshold=0.5)]


ESTIMATORS = [
    (lambda: DataPreprocessor([4, 0, 2], [3, 1]), dict(normalize_strategy="minmax")),
    (lambda: DataPreprocessor([0, 2, 4], [1, 3], None, "ordinal"), dict(encode_strategy="one_hot")),
    (lambda: DataPreprocessor([0, 2], [1, 3], "minmax", None), dict(cfeature_index_list=[1])),
    (lambda: OneClassSVM(), dict(nu=0.1)),
    (lambda: OneClassSVM(gamma=0.3, standardization=False), dict(standardization=True)),
    (lambda: OneClassSVM(kernel="poly", degree=2), dict(degree=3, coef0=1.0)),
]
REFERENCES = {DataPreprocessor: PrepReference, OneClassSVM: SvmReference}


def reference_of(estimator):
    params = estimator.get_params(deep=False)
    return REFERENCES[type(estimator)](**params)


@pytest.mark.parametrize("make, change", ESTIMATORS)
def test_clone_refits_to_the_same_output(make, change):
    x = mixed(80)
    original = make()
    expected = outputs(original, x)
    copy = clone(original)
    assert type(copy) is type(original) and copy is not original
    assert not hasattr(copy, "transformer_") and getattr(copy, "score", None) is None
    for got, want in zip(outputs(copy, x), expected):
        assert_array_equal(got, want)


@pytest.mark.parametrize("make, change", ESTIMATORS)
def test_set_params_changes_the_output_as_the_constructor_would(make, change):
    x = mixed(80)
    estimator = make()
    before = outputs(estimator, x)
    assert estimator.set_params(**change) is estimator
    built = type(estimator)(**{**estimator.get_params(deep=False), **change})
    after = outputs(estimator, x)
    for got, want in zip(after, outputs(built, x)):
        assert_array_equal(got, want)
    assert any(a.shape != b.shape or not np.allclose(a, b) for a, b in zip(after, before))


@pytest.mark.parametrize("make, change", ESTIMATORS)
def test_parameters_and_repr_match_base_estimator(make, change):
    estimator = make()
    reference = reference_of(estimator)
    assert estimator.get_params() == reference.get_params()
    assert list(estimator.get_params()) == list(reference.get_params())
    # scikit-learn wraps a long repr over lines; the text is the same
    assert repr(estimator) == " ".join(repr(reference).split())
    estimator.set_params(**change)
    reference.set_params(**change)
    assert repr(estimator) == " ".join(repr(reference).split())


def test_inner_svm_arguments_live_on_the_inner_estimator():
    detector = OneClassSVM(nu=0.2)
    assert detector.get_params(deep=False) == {**SVM_DEFAULTS, "nu": 0.2, "standardization": True}
    detector.set_params(kernel="linear", standardization=0)
    assert detector.estimator.kernel == "linear" and detector.standardization == 0


@pytest.mark.parametrize("make, change", ESTIMATORS[:1] + ESTIMATORS[3:4])
def test_unknown_parameter_is_refused_with_scikit_learns_message(make, change):
    estimator = make()
    before = estimator.get_params()
    with pytest.raises(ValueError) as ours:
        estimator.set_params(**change, bogus=1)
    with pytest.raises(ValueError) as theirs:
        reference_of(estimator).set_params(bogus=1)
    assert str(ours.value) == str(theirs.value)
    assert estimator.get_params() == before  # nothing set before the bad name was found


def test_deep_parameters_reach_a_nested_estimator():
    scaler = StandardScaler()
    prep = DataPreprocessor([0], [], feature_names=scaler)
    reference = PrepReference([0], [], feature_names=StandardScaler())
    assert prep.get_params(deep=True).keys() == reference.get_params(deep=True).keys()
    assert prep.get_params(deep=True)["feature_names__with_mean"] is True
    assert "feature_names__with_mean" not in prep.get_params(deep=False)
    prep.set_params(feature_names__with_mean=False)
    assert scaler.with_mean is False
    with pytest.raises(ValueError, match="Invalid parameter 'nope' for estimator StandardScaler"):
        prep.set_params(feature_names__nope=1)


@pytest.mark.parametrize(
    "make", [lambda: DataPreprocessor([0, 2, 4], [1, 3]), lambda: OneClassSVM(nu=0.3)]
)
def test_notebook_display_shows_the_estimator_and_its_fitted_state(make):
    estimator = make()
    name = type(estimator).__name__
    html = estimator._repr_html_()
    assert html.startswith("<style>") and 'class="sk-' in html and name in html
    bundle = estimator._repr_mimebundle_()
    assert bundle["text/plain"] == repr(estimator)
    assert re.sub(r"id-\d+", "", bundle["text/html"]) == re.sub(r"id-\d+", "", html)
    with sklearn.config_context(display="text"):
        assert "text/html" not in estimator._repr_mimebundle_()
    with pytest.raises(NotFittedError):
        check_is_fitted(estimator)
    outputs(estimator, mixed(40))
    check_is_fitted(estimator)
    assert name in estimator_html_repr(make_pipeline(StandardScaler(), estimator))


# Output column names


def reference_names(x, nums, cats, encode, names):
    """Each input position's names in ascending position order: a number or an ordinal or
    passed-through category keeps its name, a one-hot feature is named by scikit-learn's
    OneHotEncoder (first category dropped)."""
    out = []
    for p in sorted(nums + cats):
        if p in cats and encode == "one_hot":
            encoder = OneHotEncoder(drop="first").fit(x[:, [p]])
            out.extend(encoder.get_feature_names_out([names[p]]))
        else:
            out.append(names[p])
    return out


def expected_column(x, name, names):
    """The column a name stands for: the input column, or the indicator of one category."""
    if name in names:
        return x[:, names.index(name)]
    feature, category = name.rsplit("_", 1)
    return (x[:, names.index(feature)] == float(category)).astype(float)


@pytest.mark.parametrize("normalize", ["unit_norm", "minmax", None])
@pytest.mark.parametrize("encode", ["one_hot", "ordinal", None])
@pytest.mark.parametrize(
    "nums, cats", [([4, 0, 2], [3, 1]), ([0, 2, 4], [1, 3]), ([], [3, 1]), ([2, 0], [])]
)
def test_pandas_output_is_labelled_one_name_per_column(normalize, encode, nums, cats):
    x = mixed(50)
    prep = DataPreprocessor(nums, cats, normalize, encode)
    plain = prep.fit_transform(x)
    names = [f"x{i}" for i in range(5)]
    expected = reference_names(x, nums, cats, encode, names)
    assert list(prep.get_feature_names_out()) == expected
    assert prep.set_output(transform="pandas") is prep
    frame = prep.transform(x)
    assert isinstance(frame, pd.DataFrame) and list(frame.columns) == expected
    assert_allclose(frame.to_numpy(), plain)
    assert list(prep.fit_transform(x).columns) == expected
    if normalize is None:  # unscaled columns can be told apart by their values
        for name in expected:
            assert_allclose(frame[name], expected_column(x, name, names))


def test_names_come_from_input_features_or_fitted_frame_columns():
    x = mixed(30)
    prep = DataPreprocessor([0, 2], [1])
    prep.fit(x)
    given = ["a", "b", "c", "d", "e"]
    assert list(prep.get_feature_names_out(given)) == ["a", "b_1.0", "b_2.0", "c"]
    with pytest.raises(ValueError, match=r"equal to number of features \(5\), got 2"):
        prep.get_feature_names_out(["a", "b"])

    frame = pd.DataFrame(x[:, [0, 2]], columns=["age", "income"], index=range(100, 130))
    prep = DataPreprocessor([1, 0], []).set_output(transform="pandas")
    prep.fit(frame)
    assert list(prep.get_feature_names_out()) == ["age", "income"]
    out = prep.transform(frame)
    assert list(out.index) == list(frame.index) and list(out.columns) == ["age", "income"]
    with pytest.raises(ValueError, match="input_features is not equal to feature_names_in_"):
        prep.get_feature_names_out(["income", "age"])


@pytest.mark.parametrize(
    "labels",
    [None, [f"c{i}" for i in range(5)], [4, 3, 2, 1, 0]],
    ids=["array", "named frame", "frame labelled backwards"],
)
@pytest.mark.parametrize("encode", ["one_hot", "ordinal"])
def test_constructor_feature_names_name_the_outputs(labels, encode):
    """Positions address a frame's columns as they do an array's, whatever the labels."""
    x = mixed(40)
    given = ["age", "region", "income", "grade", "tenure"]
    data = x if labels is None else pd.DataFrame(x, columns=labels)
    prep = DataPreprocessor([0, 2, 4], [1, 3], None, encode, feature_names=given)
    plain = prep.fit_transform(data)
    expected = reference_names(x, [0, 2, 4], [1, 3], encode, given)
    assert list(prep.get_feature_names_out()) == expected
    frame = prep.set_output(transform="pandas").transform(data)
    assert list(frame.columns) == expected
    assert_allclose(frame.to_numpy(), plain)
    for name in expected:
        assert_allclose(frame[name], expected_column(x, name, given))


@pytest.mark.parametrize("given", [["a", "b"], "abcde", [["a", "b", "c", "d", "e"]]])
def test_constructor_feature_names_of_the_wrong_shape_are_refused(given):
    prep = DataPreprocessor([0, 2, 4], [1, 3], feature_names=given)
    prep.fit(mixed(20))
    with pytest.raises(ValueError, match=r"one name per input feature \(5 features\)"):
        prep.get_feature_names_out()


def test_names_need_a_fit():
    prep = DataPreprocessor([0], [1])
    with pytest.raises(NotFittedError):
        prep.get_feature_names_out()


def test_a_clone_keeps_the_output_setting():
    x = mixed(30)
    prep = DataPreprocessor([0, 2, 4], [1, 3]).set_output(transform="pandas")
    copy = clone(prep)
    assert list(copy.fit_transform(x).columns) == list(prep.fit_transform(x).columns)
