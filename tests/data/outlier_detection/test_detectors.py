"""The seven detectors beside the one-class SVM: their parameters against the
outlier-detection table, scikit-learn's conventions, independent definitions of their
scores, sample weights against copies, the distribution-splitting tree on a planted
sub-population, and bad input."""

import inspect
import pickle

import numpy as np
import pytest
from numpy.testing import assert_allclose, assert_array_equal
from sklearn.base import clone
from sklearn.decomposition import PCA as SkPCA
from sklearn.preprocessing import StandardScaler

from reference import outliers as ref
from zeka.config.estimator_settings import od_param_items, param_render
from zeka.data import outlier_detection as od
from zeka.data.outlier_detection import DETECTORS, OneClassSVM, make_detector

SEVEN = [key for key in DETECTORS if key != "novelty"]
# small detectors so that every test stays quick
SMALL = {
    "if": dict(n_estimators=20),
    "cb": dict(n_clusters=4),
    "pca": {},
    "cbtree": dict(min_samples_leaf=10),
    "knn": {},
    "hbos": {},
    "novelty": {},
    "ecod": {},
}


def small(key, **params):
    return DETECTORS[key](**{**SMALL[key], **params})


@pytest.fixture(scope="module")
def data():
    rng = np.random.default_rng(0)
    x = rng.normal([5.0, -2.0, 40.0, 0.0], [1.0, 3.0, 10.0, 0.5], size=(150, 4))
    x[:, 3] += 0.8 * x[:, 0]
    return x, rng.normal([5.0, -2.0, 40.0, 4.0], [2.0, 6.0, 20.0, 1.0], size=(30, 4))


def rendered_defaults(key):
    return {p: param_render(key, p, entry[3]) for p, entry in od_param_items[key].items()}


def test_registry_holds_every_method_of_the_table_in_its_order():
    assert list(DETECTORS) == list(od_param_items)
    assert DETECTORS["novelty"] is OneClassSVM
    assert len(set(DETECTORS.values())) == 8
    for cls in DETECTORS.values():
        assert getattr(od, cls.__name__) is cls


@pytest.mark.parametrize("key", SEVEN)
def test_constructor_takes_the_table_keys_with_the_rendered_defaults(key):
    signature = inspect.signature(DETECTORS[key])
    assert list(signature.parameters) == list(od_param_items[key])
    for name, value in rendered_defaults(key).items():
        default = signature.parameters[name].default
        if isinstance(value, str) and value in ("True", "False"):
            # left as text by param_render: the detector reads the widget's text
            assert default is (value == "True")
        else:
            assert default == value and type(default) is type(value)


@pytest.mark.parametrize("key", SEVEN)
def test_table_values_as_widgets_deliver_them_give_the_default_detector(key, data):
    x, _ = data
    from_table = DETECTORS[key](**{**rendered_defaults(key), **SMALL[key]})
    assert_array_equal(from_table.fit(x).score, small(key).fit(x).score)


@pytest.mark.parametrize("text, on", [("True", True), ("False", False), (0, False), (1, True)])
def test_standardization_given_as_widget_text(text, on, data):
    x, _ = data
    for key in SEVEN:
        detector = small(key, standardization=text).fit(x)
        assert (detector.scaler_ is not None) is on


@pytest.mark.parametrize("key", list(DETECTORS))
def test_scores_larger_means_more_outlying_and_quantile_labels(key, data):
    x, new = data
    detector = small(key)
    fitted = detector.fit(x)
    if key != "novelty":
        assert fitted is detector
    score = detector.score
    assert score.shape == (len(x),) and score.dtype == np.float64 and np.isfinite(score).all()
    far = np.full((1, 4), 1e3)
    assert detector.decision_function(far)[0] >= np.quantile(score, 0.95)
    labels = detector.predict()
    assert set(np.unique(labels)) <= {1.0, -1.0}
    assert_array_equal(labels, np.where(score > np.quantile(score, 0.9), -1.0, 1.0))
    scores_new = detector.decision_function(new)
    assert_array_equal(
        detector.predict(new, threshold=0.5),
        np.where(scores_new > np.quantile(scores_new, 0.5), -1.0, 1.0),
    )


@pytest.mark.parametrize("key", SEVEN)
def test_training_scores_are_those_of_decision_function_where_no_row_is_left_out(key, data):
    x, _ = data
    detector = small(key).fit(x)
    again = detector.decision_function(x)
    if key == "knn":  # a training row is not its own neighbour in its training score
        assert (again <= detector.score + 1e-12).all()
    else:
        assert_allclose(again, detector.score, rtol=1e-10, atol=1e-12)
    raw = small(key, standardization=False).fit(StandardScaler().fit_transform(x))
    assert_allclose(raw.score, detector.score, rtol=1e-9, atol=1e-9)


@pytest.mark.parametrize("key", SEVEN)
def test_clone_pickle_and_parameters_follow_scikit_learn(key, data):
    x, new = data
    detector = small(key).fit(x)
    copy = clone(detector)
    assert copy.score is None and copy.get_params() == detector.get_params()
    assert_array_equal(copy.fit(x).score, detector.score)
    restored = pickle.loads(pickle.dumps(detector))
    assert_array_equal(restored.decision_function(new), detector.decision_function(new))
    first = next(iter(od_param_items[key]))
    assert repr(detector).startswith(type(detector).__name__ + "(")
    with pytest.raises(ValueError, match="Invalid parameter"):
        detector.set_params(bogus=1)
    assert detector.set_params(**{first: detector.get_params()[first]}) is detector
    for method in ("fit", "decision_function", "predict"):
        assert list(inspect.signature(getattr(detector, method)).parameters)[0] == "X"


# independent definitions of the scores


def test_hbos_and_ecod_match_their_numpy_definitions(data):
    x, new = data
    z = StandardScaler().fit_transform(x)
    both = np.vstack([z, StandardScaler().fit(x).transform(new)])
    hbos = od.HBOS(n_bins=7, alpha=0.2, tol=0.3).fit(x)
    assert_allclose(hbos.decision_function(np.vstack([x, new])), ref.hbos(z, both, 7, 0.2, 0.3))
    ecod = od.ECOD().fit(x)
    assert_allclose(ecod.decision_function(np.vstack([x, new])), ref.ecod(z, both))


@pytest.mark.parametrize("method", ["mean", "largest", "median"])
@pytest.mark.parametrize("k", [1, 4])
def test_knn_matches_brute_force(method, k, data):
    x, new = data
    z = StandardScaler().fit_transform(x)
    detector = od.KNN(n_neighbors=k, score_method=method).fit(x)
    assert_allclose(detector.score, ref.knn(z, z, k, method, leave_self_out=True), rtol=1e-12)
    znew = StandardScaler().fit(x).transform(new)
    assert_allclose(detector.decision_function(new), ref.knn(z, znew, k, method), rtol=1e-12)


@pytest.mark.parametrize("score_type", ["mahalanobis", "reconstruction_error"])
@pytest.mark.parametrize("variance", [0.5, 0.9, 1.0])
def test_pca_scores_match_scikit_learns_pca(score_type, variance, data):
    x, new = data
    z = StandardScaler().fit_transform(x)
    reference = SkPCA(svd_solver="full").fit(z)
    k = int(np.searchsorted(np.cumsum(reference.explained_variance_ratio_), variance - 1e-12) + 1)
    detector = od.PCA(cumulative_variance=variance, score_type=score_type).fit(x)
    assert detector.n_components_ == k
    zz = np.vstack([z, StandardScaler().fit(x).transform(new)])
    t = reference.transform(zz)[:, :k]
    if score_type == "mahalanobis":
        # scikit-learn's variances divide by n - 1, the detector's by n
        expected = (t**2 / reference.explained_variance_[:k]).sum(axis=1) * len(z) / (len(z) - 1)
    else:
        expected = ((zz - reference.mean_ - t @ reference.components_[:k]) ** 2).sum(axis=1)
    got = detector.decision_function(np.vstack([x, new]))
    assert_allclose(got, expected, rtol=1e-8, atol=1e-10)


def test_sparse_pca_scores_rank_like_pca(data):
    x, _ = data
    sparse = od.PCA(d_reduction_method="sparse_pca", alpha=0.01).fit(x)
    dense = od.PCA().fit(x)
    assert sparse.n_components_ == dense.n_components_
    assert np.corrcoef(sparse.score, dense.score)[0, 1] > 0.9


def test_cblof_scores_by_cluster_size_and_centre():
    rng = np.random.default_rng(2)
    big = rng.normal(0, 1, size=(180, 2))
    tiny = rng.normal(12, 0.3, size=(8, 2))
    x = np.vstack([big, tiny])
    detector = od.CBLOF(n_clusters=2, standardization=False).fit(x)
    sizes = detector.cluster_sizes_
    assert sorted(sizes) == [8, 180]
    large = int(np.argmax(sizes))
    assert list(detector.large_clusters_) == [large]
    centre = x[:180].mean(axis=0)
    assert_allclose(detector.cluster_centers_[large], centre, atol=1e-9)
    # the small cluster's rows score their distance to the large cluster's centre
    assert_allclose(detector.score[180:], np.sqrt(((tiny - centre) ** 2).sum(axis=1)), rtol=1e-9)
    weighted = od.CBLOF(n_clusters=2, use_weights="True", standardization=False).fit(x)
    assert_allclose(weighted.score, detector.score * sizes[weighted.clustering_.labels_])


# sample weights


def weighted_and_copied(key, x, rng, **params):
    w = rng.integers(1, 3, size=len(x)).astype(float)
    copies = np.repeat(x, w.astype(int), axis=0)
    first = np.concatenate([[0], np.cumsum(w.astype(int))[:-1]])
    weighted = small(key, **params).fit(x, sample_weight=w)
    copied = small(key, **params).fit(copies)
    return weighted, copied, first


@pytest.mark.parametrize(
    "key, params",
    [
        ("pca", {}),
        ("pca", dict(score_type="reconstruction_error", cumulative_variance=0.6)),
        ("knn", dict(score_method="mean")),
        ("knn", dict(score_method="median", n_neighbors=4)),
        ("knn", dict(score_method="largest")),
        ("hbos", {}),
        ("ecod", {}),
        *[
            ("cbtree", dict(distance_measure=m))
            for m in ("ReconstErr", "KS", "PSI", "WD1", "Euclidean")
        ],
    ],
)
def test_a_row_of_weight_two_scores_as_two_copies(key, params, data):
    x, new = data
    weighted, copied, first = weighted_and_copied(key, x, np.random.default_rng(5), **params)
    assert_allclose(weighted.score, copied.score[first], rtol=1e-9, atol=1e-12)
    assert_allclose(
        weighted.decision_function(new), copied.decision_function(new), rtol=1e-9, atol=1e-12
    )


def test_cblof_weights_equal_copies_when_the_clustering_agrees():
    rng = np.random.default_rng(4)
    x = np.vstack([rng.normal(c, 0.2, size=(20, 2)) for c in ([0, 0], [6, 0], [0, 6])])
    weighted, copied, first = weighted_and_copied("cb", x, rng, n_clusters=3)
    assert_allclose(weighted.score, copied.score[first], rtol=1e-9)


def test_zero_weight_rows_are_scored_but_not_learned(data):
    x, _ = data
    w = np.ones(len(x))
    w[:5] = 0
    for key in ("knn", "hbos", "ecod", "pca", "cbtree"):
        weighted = small(key).fit(x, sample_weight=w)
        without = small(key).fit(x[5:])
        assert_allclose(weighted.score[5:], without.score, rtol=1e-9, atol=1e-12)
        assert_allclose(weighted.score[:5], without.decision_function(x[:5]), rtol=1e-9)


# the distribution-splitting tree


def planted(seed, correlated=False, n=1500, d=6, m=100, shift=4.0):
    """Standard-normal features (or two factors plus noise), the first m rows shifted in
    half the features."""
    rng = np.random.default_rng(seed)
    if correlated:
        x = rng.normal(size=(n, 2)) @ rng.normal(size=(2, d)) + 0.5 * rng.normal(size=(n, d))
    else:
        x = rng.normal(size=(n, d))
    x[:m, : d // 2] += shift
    return x, m


@pytest.mark.parametrize("measure", ["ReconstErr", "Euclidean", "PSI", "WD1", "KS"])
@pytest.mark.parametrize("seed", [0, 1])
def test_cbtree_isolates_a_planted_sub_population(measure, seed):
    # the reconstruction error sees a group that leaves the correlation structure of the
    # rest: its bulk has one; the distribution measures compare features one by one
    x, m = planted(seed, correlated=measure == "ReconstErr")
    detector = od.CBTree(distance_measure=measure).fit(x)
    flagged = detector.predict(threshold=0.9) == -1
    assert flagged[:m].mean() >= 0.9
    assert flagged[m:].mean() <= 0.05
    # the leaf that holds most of it is mostly its own (axis-parallel cuts let some rows of
    # the rest in)
    leaves = detector.leaf_of(x)
    main = np.bincount(leaves[:m]).argmax()
    assert (leaves[:m] == main).mean() >= 0.5
    assert (leaves[m:] == main).sum() <= (leaves == main).sum() / 3


def test_cbtree_makes_no_cut_in_featureless_data():
    x = np.random.default_rng(8).standard_t(5, size=(3000, 8))
    for measure in ("ReconstErr", "KS", "Euclidean"):
        assert od.CBTree(distance_measure=measure).fit(x).n_leaves_ == 1


def test_cbtree_respects_its_limits():
    x, _ = planted(3)
    detector = od.CBTree(max_depth=1, distance_measure="KS").fit(x)
    assert detector.n_leaves_ <= 2
    detector = od.CBTree(max_leaves=3, min_samples_leaf=20).fit(x)
    assert detector.n_leaves_ <= 3
    assert np.bincount(detector.leaf_of(x)).max() >= 20
    sizes = np.bincount(detector.leaf_of(x))
    assert sizes[sizes > 0].min() >= 20
    assert od.CBTree(min_distance=1e9).fit(x).n_leaves_ == 1


# bad input


@pytest.mark.parametrize(
    "key, params, rows", [("knn", dict(n_neighbors=5), 5), ("cb", dict(n_clusters=10), 9)]
)
def test_fewer_rows_than_neighbours_or_clusters_is_a_clear_error(key, params, rows, data):
    x, _ = data
    with pytest.raises(ValueError, match="n_(neighbors|clusters)"):
        small(key, **params).fit(x[:rows])


@pytest.mark.parametrize("key", SEVEN)
def test_constant_feature_and_one_row(key, data):
    x, _ = data
    constant = x.copy()
    constant[:, 1] = 7.0
    score = small(key).fit(constant).score
    assert np.isfinite(score).all()
    try:
        one = small(key).fit(x[:1]).score
    except ValueError as error:
        assert key in ("knn", "cb") and "training rows" in str(error)
    else:
        assert one.shape == (1,) and np.isfinite(one).all()


@pytest.mark.parametrize("key", SEVEN)
@pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
def test_nan_and_infinite_values_are_refused(key, bad, data):
    x, _ = data
    broken = x.copy()
    broken[3, 2] = bad
    with pytest.raises(ValueError, match="NaN|infinity"):
        small(key).fit(broken)
    detector = small(key).fit(x)
    with pytest.raises(ValueError, match="NaN|infinity"):
        detector.decision_function(broken)


@pytest.mark.parametrize("key", SEVEN)
def test_thresholds_outside_the_unit_interval_and_unfitted_use_are_refused(key, data):
    x, _ = data
    detector = small(key)
    with pytest.raises(ValueError, match="not fitted"):
        detector.predict()
    detector.fit(x)
    for threshold in (-0.1, 1.5, np.nan, "0.9"):
        with pytest.raises(ValueError, match="threshold"):
            detector.predict(threshold=threshold)
    assert (detector.predict(threshold=1.0) == 1).all()
    with pytest.raises(ValueError, match="features"):
        detector.decision_function(x[:, :2])


def test_unknown_method_key_or_parameter():
    with pytest.raises(KeyError, match="unknown outlier-detection method 'lof'"):
        make_detector("lof")
    with pytest.raises(TypeError):
        make_detector("hbos", n_neighbors=3)
    assert isinstance(make_detector("knn", n_neighbors=3), od.KNN)
    with pytest.raises(ValueError, match="distance_measure"):
        od.CBTree(distance_measure="L2").fit(np.zeros((5, 2)))


@pytest.mark.parametrize("key", SEVEN)
def test_inputs_are_left_unmodified(key, data):
    x, new = data
    xs, news = x.copy(), new.copy()
    w = np.linspace(0.5, 2.0, len(x))
    ws = w.copy()
    detector = small(key).fit(x, sample_weight=w)
    detector.decision_function(new)
    detector.predict(new)
    assert_array_equal(x, xs) and assert_array_equal(new, news) and assert_array_equal(w, ws)
