"""The catalogue estimators honour their parameters."""

import numpy as np
import pandas as pd
import pytest

from zeka.models import ZEKACLASSIFIER, ZEKAREGRESSOR

FAST_GAMINET = {
    "max_epochs": [150, 60, 20],
    "learning_rates": [0.01, 0.01, 0.001],
    "batch_size": 200,
}


@pytest.fixture(scope="module")
def bumpy():
    """Target rising and falling in x0 and x1, so unconstrained fits are not monotone."""
    rng = np.random.RandomState(3)
    X = rng.uniform(-1, 1, size=(600, 4))
    y = 1.5 * np.sin(4 * X[:, 0]) - 1.5 * np.sin(4 * X[:, 1]) + X[:, 0] - X[:, 1] + X[:, 2]
    return X, y + 0.1 * rng.normal(size=len(y))


def _profile(est, X, feature, rows=5):
    """Predictions along a grid of one feature, for a few rows of the others."""
    grid = np.linspace(-1, 1, 41)
    out = []
    for row in X[:rows]:
        block = np.repeat(row[None], len(grid), axis=0)
        block[:, feature] = grid
        out.append(est.predict(block))
    return np.array(out)


def _monotone_models():
    yield "xgb1", {}
    yield "xgb1", {"refit_method": "xgb"}
    yield "xgb2", {}
    yield "gaminet", FAST_GAMINET


@pytest.mark.parametrize("key,extra", list(_monotone_models()))
def test_monotonic_feature_lists_give_monotone_predictions(key, extra, bumpy):
    X, y = bumpy
    frame = pd.DataFrame(X, columns=["a", "b", "c", "d"])
    free = ZEKAREGRESSOR[key](**extra).fit(frame, y)
    # the unconstrained fit follows the wiggles, so the check below can fail
    assert np.any(np.diff(_profile(free, X, 0), axis=1) < -1e-3)
    est = ZEKAREGRESSOR[key](mono_increasing_list=["a"], mono_decreasing_list=["b"], **extra)
    est.fit(frame, y)
    assert np.all(np.diff(_profile(est, X, 0), axis=1) >= -1e-6)
    assert np.all(np.diff(_profile(est, X, 1), axis=1) <= 1e-6)
    assert np.corrcoef(est.predict(X), y)[0, 1] > 0.8


@pytest.mark.parametrize("key", ["xgb1", "xgb2"])
def test_monotonic_lists_use_the_feature_names_keyword(key, bumpy):
    X, y = bumpy
    est = ZEKAREGRESSOR[key](
        feature_names=["a", "b", "c", "d"],
        feature_types=["numerical"] * 4,
        mono_increasing_list=["a"],
    ).fit(X, y)
    assert list(est.monotone_constraints_) == [1, 0, 0, 0]
    assert np.all(np.diff(_profile(est, X, 0), axis=1) >= -1e-6)
    # a single name, as a text, stands for a list of one name
    single = ZEKAREGRESSOR[key](feature_names=["a", "b", "c", "d"], mono_decreasing_list="b")
    assert list(single.fit(X, y).monotone_constraints_) == [0, -1, 0, 0]


@pytest.mark.parametrize(
    "lists,message",
    [
        ({"mono_increasing_list": ["zz"]}, "unknown feature"),
        ({"mono_increasing_list": ["a"], "mono_decreasing_list": ["a"]}, "both"),
        ({"mono_increasing_list": [7]}, "out of range"),
    ],
)
@pytest.mark.parametrize("key", ["xgb1", "xgb2", "gaminet"])
def test_bad_monotonic_lists_are_rejected(key, lists, message, bumpy):
    X, y = bumpy
    frame = pd.DataFrame(X, columns=["a", "b", "c", "d"])
    with pytest.raises(ValueError, match=message):
        ZEKAREGRESSOR[key](**lists).fit(frame, y)


def test_gaminet_finds_interactions_but_not_of_monotone_features(bumpy):
    X, y = bumpy
    y = y + 3 * X[:, 0] * X[:, 2] + 3 * X[:, 2] * X[:, 3]
    free = ZEKAREGRESSOR["gaminet"](interact_num=6, **FAST_GAMINET).fit(X, y)
    assert (0, 2) in free.interaction_pairs_ and (2, 3) in free.interaction_pairs_
    est = ZEKAREGRESSOR["gaminet"](mono_increasing_list=[0], interact_num=6, **FAST_GAMINET).fit(
        X, y
    )
    assert (2, 3) in est.interaction_pairs_
    assert all(0 not in pair for pair in est.interaction_pairs_)


@pytest.mark.parametrize("task", ["regression", "classification"])
def test_glm_penalties_shrink_coefficients(task):
    rng = np.random.RandomState(4)
    X = rng.normal(size=(400, 6))
    score = X @ np.array([1.5, -1.0, 0.5, 0.0, 0.0, 0.0])
    y = score + 0.3 * rng.normal(size=400) if task == "regression" else (score > 0).astype(int)
    cat = ZEKAREGRESSOR if task == "regression" else ZEKACLASSIFIER
    plain = np.ravel(cat["glm"]().fit(X, y).coef_)
    ridge = np.ravel(cat["glm"](l2_regularization=1.0).fit(X, y).coef_)
    lasso = np.ravel(cat["glm"](l1_regularization=0.1).fit(X, y).coef_)
    assert np.linalg.norm(ridge) < 0.8 * np.linalg.norm(plain)
    assert np.abs(lasso).sum() < np.abs(plain).sum()
    assert np.sum(lasso == 0) >= 2 and np.all(lasso[:2] != 0)


def test_glm_matches_least_squares_and_honours_sample_weights():
    rng = np.random.RandomState(5)
    X = rng.normal(size=(200, 3))
    y = X @ np.array([1.0, 2.0, -1.0]) + 0.5 + rng.normal(size=200)
    est = ZEKAREGRESSOR["glm"]().fit(X, y)
    design = np.column_stack([np.ones(200), X])
    exact = np.linalg.lstsq(design, y, rcond=None)[0]
    np.testing.assert_allclose(est.coef_, exact[1:], atol=1e-8)
    assert est.intercept_ == pytest.approx(exact[0])
    weights = np.r_[np.ones(120), np.zeros(80)]
    weighted = ZEKAREGRESSOR["glm"](l1_regularization=0.01).fit(X, y, sample_weight=weights)
    subset = ZEKAREGRESSOR["glm"](l1_regularization=0.01).fit(X[:120], y[:120])
    np.testing.assert_allclose(weighted.coef_, subset.coef_, atol=1e-8)


def test_gam_smoothness_penalty_smooths_the_terms(bumpy):
    X, y = bumpy

    def roughness(est):
        return sum(np.sum(np.diff(c, 2) ** 2) for c in est.term_coefficients().values())

    rough = ZEKAREGRESSOR["gam"](lam=0.001).fit(X, y)
    smooth = ZEKAREGRESSOR["gam"](lam=5.0).fit(X, y)
    assert roughness(smooth) < 0.2 * roughness(rough)
    assert all(len(c) == 20 for c in rough.term_coefficients().values())
    assert all(
        len(c) == 8
        for c in ZEKAREGRESSOR["gam"](n_splines=8).fit(X, y).term_coefficients().values()
    )


def test_tree_depth_leaf_size_and_criterion(bumpy):
    X, y = bumpy
    est = ZEKAREGRESSOR["tree"](max_depth=3, min_samples_leaf=40).fit(X, y)
    assert est.estimator_.get_depth() <= 3
    leaves = est.tree_.children_left == -1
    assert est.tree_.n_node_samples[leaves].min() >= 40
    # the table's classification criterion and the older name both mean squared error here
    for criterion in ("gini", "mse", "squared_error"):
        fitted = ZEKAREGRESSOR["tree"](criterion=criterion).fit(X, y)
        assert fitted.estimator_.criterion == "squared_error"
    pruned = ZEKAREGRESSOR["tree"](ccp_alpha=0.05).fit(X, y)
    assert pruned.tree_.node_count < ZEKAREGRESSOR["tree"]().fit(X, y).tree_.node_count
    entropy = ZEKACLASSIFIER["tree"](criterion="entropy").fit(X, y > 0)
    assert entropy.estimator_.criterion == "entropy"


def test_figs_respects_split_budget_and_depth(bumpy):
    X, y = bumpy
    est = ZEKAREGRESSOR["figs"](max_depth=2, max_iter=12).fit(X, y)
    assert est.n_splits_ == 12
    assert all(tree["depth"].max() <= 2 for tree in est.trees_)
    assert sum(int((tree["feature"] >= 0).sum()) for tree in est.trees_) == 12
    # several trees grow side by side, which one depth-2 tree could not do with 12 splits
    assert len(est.trees_) > 1
    more = ZEKAREGRESSOR["figs"](max_depth=2, max_iter=40).fit(X, y)
    assert np.mean((more.predict(X) - y) ** 2) < np.mean((est.predict(X) - y) ** 2)


@pytest.mark.parametrize("key,depth", [("xgb1", 1), ("xgb2", 2)])
def test_boosting_rounds_depth_and_regularisation(key, depth, bumpy):
    X, y = bumpy
    est = (
        ZEKAREGRESSOR[key](n_estimators=30, refit_method="xgb")
        if key == "xgb1"
        else ZEKAREGRESSOR[key](n_estimators=30)
    )
    est.fit(X, y)
    assert len(est.trees_) == 30
    assert max(int(tree["depth"].max()) for tree in est.trees_) == depth
    # gamma above every possible gain leaves only leaf-only trees
    flat = ZEKAREGRESSOR[key](n_estimators=5, gamma=1e9).fit(X, y)
    assert all(tree["feature"][0] == -1 for tree in flat.trees_)
    # a strong leaf penalty slows the fit down
    heavy = ZEKAREGRESSOR[key](n_estimators=30, reg_lambda=500).fit(X, y)
    light = ZEKAREGRESSOR[key](n_estimators=30).fit(X, y)
    assert np.mean((heavy.predict(X) - y) ** 2) > np.mean((light.predict(X) - y) ** 2)


def test_xgb1_is_a_sum_of_step_functions_and_refit_choice(bumpy):
    X, y = bumpy
    boosted = ZEKAREGRESSOR["xgb1"](refit_method="xgb").fit(X, y)
    refit = ZEKAREGRESSOR["xgb1"](refit_method="glm").fit(X, y)
    np.testing.assert_array_equal(boosted.step_thresholds_, refit.step_thresholds_)
    assert not np.allclose(boosted.step_heights_, refit.step_heights_)
    # the refit minimises the penalised training loss over the same steps
    train_mse = [np.mean((m.predict(X) - y) ** 2) for m in (boosted, refit)]
    assert train_mse[1] <= train_mse[0] + 1e-9
    coarse = ZEKAREGRESSOR["xgb1"](min_bin_size=0.25).fit(X, y)
    for j in range(X.shape[1]):
        assert np.sum(coarse.step_features_ == j) <= 3
    with pytest.raises(ValueError, match="refit_method"):
        ZEKAREGRESSOR["xgb1"](refit_method="lasso").fit(X, y)


@pytest.mark.parametrize(
    "key,params",
    [
        ("ebm", {"outer_bags": 2, "max_rounds": 100, "interactions": 2}),
        ("gaminet", {**FAST_GAMINET, "interact_num": 2}),
        ("reludnn", {"max_epochs": 40, "dropout_prob": 0.1}),
    ],
)
def test_random_state_makes_training_reproducible(key, params, bumpy):
    X, y = bumpy
    first = ZEKAREGRESSOR[key](random_state=7, **params).fit(X, y).predict(X)
    again = ZEKAREGRESSOR[key](random_state=7, **params).fit(X, y).predict(X)
    other = ZEKAREGRESSOR[key](random_state=8, **params).fit(X, y).predict(X)
    np.testing.assert_array_equal(first, again)
    assert not np.allclose(first, other)


def test_ebm_terms_bins_and_interactions(bumpy):
    X, y = bumpy
    est = ZEKAREGRESSOR["ebm"](
        outer_bags=2,
        max_rounds=200,
        interactions=2,
        max_bins=16,
        feature_names=["a", "b", "c", "d"],
    ).fit(X, y)
    assert len(est.pairs_) == 2
    assert est.term_names_[:4] == ["a", "b", "c", "d"]
    assert all(len(table) <= 16 for table in est.term_scores_[:4])
    importance = est.term_importances_
    # x3 plays no part in the target
    assert importance["d"] < 0.2 * min(importance["a"], importance["b"])
    none = ZEKAREGRESSOR["ebm"](outer_bags=1, max_rounds=50, interactions=0).fit(X, y)
    assert none.pairs_ == [] and len(none.term_scores_) == 4


def test_ebm_early_stopping_rounds():
    X, y = np.random.RandomState(0).normal(size=(300, 3)), np.random.RandomState(1).normal(size=300)
    # pure noise: validation loss stops improving almost at once
    quick = ZEKAREGRESSOR["ebm"](outer_bags=1, interactions=0, early_stopping_rounds=5)
    quick.fit(X, y)
    full = ZEKAREGRESSOR["ebm"](
        outer_bags=1, interactions=0, early_stopping_rounds=0, max_rounds=60
    ).fit(X, y)
    # without early stopping the noise is fitted harder
    assert (
        np.abs(full.predict(X) - full.intercept_).mean()
        > np.abs(quick.predict(X) - quick.intercept_).mean()
    )


def test_ebm_early_stopping_ends_on_separable_data():
    # a bag's validation loss shrinks towards zero by ever smaller steps here, so progress
    # measured relative to the current loss would never stop before max_rounds
    rng = np.random.RandomState(6)
    X = rng.normal(size=(400, 3))
    y = (X[:, 0] > 0).astype(int)
    est = ZEKACLASSIFIER["ebm"](outer_bags=3, interactions=0).fit(X, y)
    assert est.n_rounds_[0] < est.max_rounds / 4
    assert np.mean(est.predict(X) == y) > 0.98


def test_reludnn_layers_sparsity_and_device(bumpy):
    X, y = bumpy
    est = ZEKAREGRESSOR["reludnn"](hidden_layer_sizes=[8, 4, 3], max_epochs=20).fit(X, y)
    assert [w.shape[1:] for w in est.network_.weights] == [(4, 8), (8, 4), (4, 3), (3, 1)]
    sparse = ZEKAREGRESSOR["reludnn"](iht=True, threshold=0.3, max_epochs=20, phase_epochs=5).fit(
        X, y
    )
    first = sparse.network_.weights[0]
    assert np.mean(first == 0) > 0.2
    assert np.all((first == 0) | (np.abs(first) >= 0.3))
    assert len(sparse.loss_curve_) == sparse.n_epochs_ <= 20
    with pytest.raises(ValueError, match="cpu"):
        ZEKAREGRESSOR["reludnn"](device="cuda").fit(X, y)


def test_gaminet_prunes_and_warm_starts(bumpy):
    X, y = bumpy
    est = ZEKAREGRESSOR["gaminet"](interact_num=3, **FAST_GAMINET).fit(X, y)
    assert set(est.active_main_effects_) >= {0, 1}
    assert 3 not in est.active_main_effects_
    assert len(est.interaction_pairs_) <= 3
    first = est.predict(X)
    warm = ZEKAREGRESSOR["gaminet"](interact_num=3, warm_start=True, **FAST_GAMINET)
    warm.fit(X, y)
    pairs = list(warm.network_.pairs)
    warm.set_params(max_epochs=[1, 1, 1]).fit(X, y)
    # a warm refit keeps the learnt network: one epoch changes little
    assert list(warm.network_.pairs) == pairs
    assert np.corrcoef(warm.predict(X), first)[0, 1] > 0.9


def test_reludnn_l1_penalty_shrinks_weights(bumpy):
    X, y = bumpy

    def total_weight(l1):
        est = ZEKAREGRESSOR["reludnn"](
            l1_reg=l1, max_epochs=60, learning_rate=0.01, n_epoch_no_change=60
        ).fit(X, y)
        return sum(np.abs(w).sum() for w in est.network_.weights)

    assert total_weight(0.01) < 0.5 * total_weight(0.0)


def test_gaminet_clarity_penalty_decorrelates_mains_and_interactions(bumpy):
    X, y = bumpy
    y = y + 3 * X[:, 0] * X[:, 2]

    def overlap(reg_clarity):
        est = ZEKAREGRESSOR["gaminet"](reg_clarity=reg_clarity, interact_num=2, **FAST_GAMINET).fit(
            X, y
        )
        net = est.network_
        Z = (X - est.x_mean_) / est.x_scale_
        fm, _, fp, _ = net.outputs(Z)
        return sum(
            abs(np.mean(fm[j] * fp[t])) + abs(np.mean(fm[k] * fp[t]))
            for t, (j, k) in enumerate(net.pairs)
            if net.pair_active[t]
        )

    assert overlap(1.0) < 0.3 * overlap(0.0)


def test_gam_classifier_newton_steps_and_ebm_inner_bags(bumpy):
    X, y = bumpy
    labels = y > 0
    one = ZEKACLASSIFIER["gam"](max_iter=1).fit(X, labels)
    full = ZEKACLASSIFIER["gam"]().fit(X, labels)
    assert one.n_iter_ == 1 and 1 < full.n_iter_ <= 100
    assert not np.allclose(one.predict_proba(X), full.predict_proba(X))
    params = {"outer_bags": 1, "max_rounds": 50, "interactions": 0}
    plain = ZEKAREGRESSOR["ebm"](**params).fit(X, y).predict(X)
    bagged = ZEKAREGRESSOR["ebm"](inner_bags=3, **params).fit(X, y).predict(X)
    assert not np.allclose(plain, bagged)
    assert np.corrcoef(plain, bagged)[0, 1] > 0.95
