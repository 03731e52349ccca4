"""The native training step of the small networks against the numpy definition."""

import re

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from scipy.special import expit

from zeka.models import _subnet
from zeka.models._nn import Adam, SubnetBank
from zeka.models.reludnn import ReluDNNRegressor


def grid_bank(rng, m, d_in, hidden, monotone):
    """A bank whose weights are signed powers of two (or zero) and whose inputs and biases
    are small multiples of 1/4: the forward pass's float32 sums of such values are exact, so
    both paths must agree to the bit, kinks of the ReLUs and caps included."""
    bank = SubnetBank(m, d_in, hidden, rng, monotone=monotone)
    steps = np.array([0.0, 0.25, 0.5, 1.0, 2.0], np.float32)
    for W, b in zip(bank.weights, bank.biases):
        W[...] = rng.choice(steps, W.shape) * rng.choice([-1.0, 1.0], W.shape)
        b[...] = rng.integers(-4, 5, b.shape) / 4.0
    bank.project()
    return bank


@st.composite
def banks(draw):
    seed = draw(st.integers(0, 2**32 - 1))
    m = draw(st.integers(1, 4))
    n = draw(st.sampled_from([1, 2, 7, 30]))
    d_in = draw(st.sampled_from([1, 2, 3]))
    hidden = draw(st.lists(st.integers(1, 6), min_size=1, max_size=3))
    monotone = draw(st.lists(st.booleans(), min_size=m, max_size=m))
    scale = draw(st.sampled_from([0.0, 1.0, 2.0**12]))  # zeros, ordinary, large inputs
    rng = np.random.default_rng(seed)
    bank = grid_bank(rng, m, d_in, hidden, monotone)
    U = (rng.integers(-16, 17, (m, n, d_in)) / 4.0 * scale).astype(np.float32)
    if draw(st.booleans()):  # a missing value reaches the networks of its row
        U[rng.integers(m), rng.integers(n), rng.integers(d_in)] = np.nan
    d_out = rng.integers(-8, 9, (m, n)) / 8.0
    return bank, U, d_out


@settings(max_examples=150, deadline=None)
@given(banks())
def test_native_step_equals_numpy_on_exact_arithmetic(case):
    bank, U, d_out = case
    out, cache = bank.forward(U)
    ref_out, ref_cache = bank.forward_numpy(U)
    assert out.dtype == np.float64 and out.shape == ref_out.shape
    np.testing.assert_array_equal(out, ref_out)
    for hidden, (a, _, _) in zip(cache.hidden, ref_cache[1:]):
        np.testing.assert_array_equal(hidden, np.swapaxes(a, 1, 2))
    grads, ref_grads = bank.backward(cache, d_out), bank.backward_numpy(ref_cache, d_out)
    assert len(grads) == len(ref_grads) == len(bank.params)
    for g, ref, p in zip(grads, ref_grads, bank.params):
        assert g.dtype == np.float32 and g.shape == p.shape
        # sums over rows of large inputs outgrow float32's 24 bits: a few roundings apart
        finite = np.abs(ref[np.isfinite(ref)])
        np.testing.assert_allclose(g, ref, rtol=1e-6, atol=1e-6 * finite.max(initial=0.0))


@pytest.mark.parametrize(
    "m, n, d_in, hidden, monotone",
    [
        (30, 46, 1, [20], [False] * 28 + [True] * 2),  # gaminet's main effects
        (10, 46, 2, [20, 20], None),  # gaminet's pairs
        (1, 150, 10, [40, 40], None),  # reludnn
        (3, 5, 1, [4, 4, 4], [True, False, True]),
    ],
)
def test_native_step_matches_numpy_up_to_float32_rounding(m, n, d_in, hidden, monotone):
    rng = np.random.RandomState(1)
    bank = SubnetBank(m, d_in, hidden, rng, monotone=monotone)
    for b in bank.biases:
        b[...] = rng.normal(0, 0.5, b.shape)
    U = rng.normal(0, 2, (m, n, d_in))  # float64, as the estimators pass it
    d_out = rng.normal(size=(m, n))
    out, cache = bank.forward(U)
    ref_out, ref_cache = bank.forward_numpy(U)
    np.testing.assert_allclose(out, ref_out, rtol=1e-5, atol=1e-5 * np.abs(ref_out).max())
    for g, ref in zip(bank.backward(cache, d_out), bank.backward_numpy(ref_cache, d_out)):
        np.testing.assert_allclose(g, ref, rtol=1e-4, atol=1e-5 * np.abs(ref).max())


def test_adam_step_equals_numpy_update_to_the_bit():
    rng = np.random.RandomState(0)
    shapes = [(3, 1, 4), (3, 1, 1), (1,)]
    dtypes = [np.float32, np.float32, np.float64]
    params = [rng.normal(size=s).astype(d) for s, d in zip(shapes, dtypes)]
    ours = Adam([p.copy() for p in params], 0.01)
    reference = Adam([p.copy() for p in params], 0.01)
    for _ in range(5):
        # gradients in either precision, as backward and the intercept give them
        grads = [
            rng.normal(size=s).astype(d)
            for s, d in zip(shapes, [np.float32, np.float64, np.float64])
        ]
        ours.step(grads)
        reference.step_numpy(grads)
    for p, ref in zip(
        ours.params + [ours.m, ours.v], reference.params + [reference.m, reference.v]
    ):
        assert p.dtype == ref.dtype
        np.testing.assert_array_equal(p, ref)


def bank_arrays():
    rng = np.random.RandomState(0)
    bank = SubnetBank(2, 3, [4], rng)
    U = np.zeros((2, 5, 3), np.float32)
    return bank, U


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda a: a.update(inputs=a["inputs"].astype(np.float64)), "inputs must be a C-contig"),
        (
            lambda a: a.update(inputs=np.zeros((2, 3, 5), np.float32).transpose(0, 2, 1)),
            "inputs must be a C-contig",
        ),
        (lambda a: a.update(inputs=np.zeros((2, 5, 2), np.float32)), "inputs has 2 entries"),
        (lambda a: a.update(inputs=np.zeros((3, 5, 3), np.float32)), "inputs has 3 entries"),
        (lambda a: a.update(inputs=np.zeros((2, 5), np.float32)), "inputs must have 3 dim"),
        (lambda a: a.update(weights=[]), "at least one layer"),
        (lambda a: a.update(weights=a["weights"][0]), "weights must be a list or tuple"),
        (lambda a: a.update(weights=a["weights"][:1]), "one output"),
        (lambda a: a.update(weights=[a["weights"][0], a["weights"][0]]), "weights[1] has 3"),
        (
            lambda a: a.update(weights=[np.zeros((2, 3, 0), np.float32)] + a["weights"][1:]),
            "width 0",
        ),
        (lambda a: a.update(biases=a["biases"][:1]), "one array per layer"),
        (lambda a: a.update(biases=[a["biases"][0], a["biases"][0]]), "biases[1] has 4"),
        (lambda a: a.update(capped=np.zeros(2, np.uint8)), "capped must be a C-contig"),
        (lambda a: a.update(capped=np.zeros(3, bool)), "capped has 3"),
        (lambda a: a.update(inputs=a["inputs"].astype(">f4")), "inputs must be a C-contig"),
    ],
)
def test_forward_refuses_bad_arrays(change, message):
    bank, U = bank_arrays()
    args = dict(inputs=U, weights=bank.weights, biases=bank.biases, capped=bank.monotone)
    change(args)
    with pytest.raises(ValueError) as error:
        _subnet.forward(**args)
    assert message in str(error.value)


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda a: a.update(hidden=[]), "one array per hidden layer"),
        (lambda a: a.update(hidden=[np.zeros((2, 4, 4), np.float32)]), "hidden[0] has 4"),
        (lambda a: a.update(hidden=[np.zeros((2, 5, 4), np.float32)]), "hidden[0] has 5"),
        (lambda a: a.update(d_outputs=np.zeros((2, 5), np.float32)), "d_outputs must be a C-con"),
        (lambda a: a.update(d_outputs=np.zeros((2, 4))), "d_outputs has 4"),
    ],
)
def test_backward_refuses_bad_arrays(change, message):
    bank, U = bank_arrays()
    _, hidden = _subnet.forward(U, bank.weights, bank.biases, bank.monotone)
    args = dict(
        inputs=U,
        hidden=hidden,
        weights=bank.weights,
        capped=bank.monotone,
        d_outputs=np.zeros((2, 5)),
    )
    change(args)
    with pytest.raises(ValueError) as error:
        _subnet.backward(**args)
    assert message in str(error.value)


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda a: a.update(grads=a["grads"][:1]), "one array per parameter"),
        (lambda a: a.update(grads=[a["grads"][0], np.zeros(2)]), "grads[1] has 2 values"),
        (
            lambda a: a.update(params=[a["params"][0], a["params"][1].astype(np.int64)]),
            "params[1] must be a C-contiguous numpy array of dtype float32 or float64",
        ),
        (lambda a: a.update(m=np.zeros(5)), "m has 5"),
        (lambda a: a.update(v=np.zeros(7, np.float32)), "v must be a C-contig"),
        (lambda a: a["params"][0].setflags(write=False), "params[0] must be writeable"),
    ],
)
def test_adam_step_refuses_bad_arrays(change, message):
    args = dict(
        params=[np.zeros((2, 2), np.float32), np.zeros(3)],
        grads=[np.ones((2, 2), np.float32), np.ones(3)],
        m=np.zeros(7),
        v=np.zeros(7),
    )
    change(args)
    with pytest.raises(ValueError) as error:
        _subnet.adam_step(step_size=0.1, correction2=0.5, beta1=0.9, beta2=0.999, eps=1e-8, **args)
    assert message in str(error.value)


def test_reludnn_trains_alike_on_both_paths(monkeypatch):
    rng = np.random.RandomState(0)
    X = rng.normal(size=(300, 4))
    y = X[:, 0] + np.sin(2 * X[:, 1]) + X[:, 2] * X[:, 3]
    make = lambda: ReluDNNRegressor(hidden_layer_sizes=[8, 8], max_epochs=6)  # noqa: E731
    native = make().fit(X, y)
    monkeypatch.setattr(SubnetBank, "forward", SubnetBank.forward_numpy)
    monkeypatch.setattr(SubnetBank, "backward", SubnetBank.backward_numpy)
    monkeypatch.setattr(Adam, "step", Adam.step_numpy)
    reference = make().fit(X, y)
    np.testing.assert_allclose(native.predict(X), reference.predict(X), atol=1e-3)


def numpy_epoch(
    main, pair, features, active, intercept, y, w, order, batch, logistic, reg_clarity, optimizer
):
    """The definition of an additive network's training epoch: a bank is a SubnetBank
    with every row's inputs to train, or its fixed outputs; Adam in numpy."""
    main_active, pair_active = active
    for start in range(0, len(order), batch):
        rows = order[start : start + batch]
        (fm, cm), (fp, cp) = numpy_outputs(main, rows), numpy_outputs(pair, rows)
        F = intercept[0] + main_active @ fm + pair_active @ fp
        total = w[rows].sum()
        if not total > 0:
            continue
        d_f = w[rows] * ((expit(F) if logistic else F) - y[rows]) / total
        d_fm, d_fp = main_active[:, None] * d_f, pair_active[:, None] * d_f
        for side in (0, 1):
            f = features[:, side]
            products = np.mean(fm[f] * fp, axis=1)
            coef = reg_clarity * pair_active * main_active[f] * np.sign(products) / len(rows)
            d_fp += coef[:, None] * fm[f]
            np.add.at(d_fm, f, coef[:, None] * fp)
        grads = []
        if isinstance(main, tuple):
            grads += main[0].backward_numpy(cm, d_fm)
        if isinstance(pair, tuple):
            grads += pair[0].backward_numpy(cp, d_fp)
        optimizer.step_numpy(grads + [np.array([d_f.sum()])])
        if isinstance(main, tuple):
            main[0].project()


def numpy_outputs(bank, rows):
    """A bank's outputs on some rows and its cache (None for fixed outputs)."""
    if bank is None:
        return np.zeros((0, len(rows))), None
    if isinstance(bank, tuple):
        return bank[0].forward_numpy(bank[1][:, rows])
    return bank[:, rows], None


def numpy_loss(main, pair, features, active, intercept, y, w, rows, logistic, reg_clarity):
    """The definition of the loss that a stage's early stopping watches."""
    fm, fp = numpy_outputs(main, rows)[0], numpy_outputs(pair, rows)[0]
    F = intercept[0] + active[0] @ fm + active[1] @ fp
    y = y[rows]
    loss = np.average(
        np.logaddexp(0.0, F) - y * F if logistic else 0.5 * (F - y) ** 2, weights=w[rows]
    )
    for side in (0, 1):
        f = features[:, side]
        loss += reg_clarity * (active[1] * active[0][f]) @ np.abs(np.mean(fm[f] * fp, axis=1))
    return loss


def epoch_case(main_role, pair_role, seed=0, n=40):
    """Banks (4 main effects, one monotone and one switched off; 3 pairs) in the given
    roles ("train", "fixed", None), their inputs and targets."""
    rng = np.random.RandomState(seed)
    main = SubnetBank(4, 1, [3], rng, monotone=[False, True, False, False])
    pair = SubnetBank(3, 2, [3, 2], rng)
    for bank in (main, pair):
        for b in bank.biases:
            b[...] = rng.normal(0, 0.5, b.shape)
    U_main = rng.normal(size=(4, n, 1)).astype(np.float32)
    U_pair = rng.normal(size=(3, n, 2)).astype(np.float32)
    roles = []
    for bank, U, role in ((main, U_main, main_role), (pair, U_pair, pair_role)):
        roles.append(
            None if role is None else (bank, U) if role == "train" else bank.forward_numpy(U)[0]
        )
    features = np.array([[0, 1], [1, 2], [3, 0]], np.int64)[: 0 if pair_role is None else 3]
    active = (np.array([1.0, 1.0, 1.0, 0.0]), np.ones(len(features)))
    y = rng.normal(size=n)
    w = rng.uniform(0.5, 2, n)
    return roles, features, active, y, w, rng.permutation(n)


def native_argument(role):
    if isinstance(role, tuple):
        bank, U = role
        return bank.weights, bank.biases, bank.monotone, U
    return role


@pytest.mark.parametrize("logistic", [False, True])
@pytest.mark.parametrize(
    "main_role, pair_role, reg_clarity",
    [
        ("train", None, 0.0),
        ("train", "fixed", 0.0),  # a warm start's first stage
        ("fixed", "train", 0.1),  # interactions
        ("train", "train", 0.1),  # fine tuning
        ("train", "train", 0.0),
    ],
)
def test_train_epoch_matches_numpy_definition(logistic, main_role, pair_role, reg_clarity):
    roles, features, active, y, w, order = epoch_case(main_role, pair_role)
    if logistic:
        y = (y > 0).astype(float)
    w[order[14:21]] = 0.0  # a batch of weightless rows carries nothing and is skipped
    runs = []
    for native in (True, False):
        banks = [r if not isinstance(r, tuple) else (copy_bank(r[0]), r[1]) for r in roles]
        trained = [r[0] for r in banks if isinstance(r, tuple)]
        intercept = np.array([0.3])
        optimizer = Adam([p for bank in trained for p in bank.params] + [intercept], 0.05)
        for _ in range(3):
            if native:
                _subnet.train_epoch(
                    *[native_argument(r) for r in banks],
                    features,
                    *active,
                    intercept,
                    y,
                    w,
                    order,
                    7,
                    logistic,
                    reg_clarity,
                    optimizer,
                )
            else:
                numpy_epoch(
                    *banks,
                    features,
                    active,
                    intercept,
                    y,
                    w,
                    order,
                    7,
                    logistic,
                    reg_clarity,
                    optimizer,
                )
        runs.append(optimizer)
    ours, reference = runs
    assert ours.t == reference.t == 3 * 5  # 6 batches an epoch, one weightless
    for p, ref in zip(
        ours.params + [ours.m, ours.v], reference.params + [reference.m, reference.v]
    ):
        np.testing.assert_allclose(p, ref, rtol=2e-4, atol=1e-6)
    if main_role == "train":
        assert (ours.params[1][1] >= 0).all()  # the monotone network's second layer


def copy_bank(bank):
    return bank.subset(np.arange(len(bank.monotone)))


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda a: a.update(order=a["order"] + 1), "order holds 40, outside [0, 40)"),
        (
            lambda a: a.update(order=a["order"].astype(np.int32)),
            "order must be a C-contiguous int64",
        ),
        (lambda a: a.update(pair_features=a["pair_features"] + 2), "pair_features holds 4"),
        (lambda a: a.update(batch_size=0), "batch_size must be at least 1"),
        (lambda a: a.update(reg_clarity=float("nan")), "reg_clarity must be a number >= 0"),
        (lambda a: a.update(w=a["w"][:-1]), "w has 39"),
        (lambda a: a.update(main=a["main"][:3]), "main must be (weights, biases, capped, inputs)"),
        (lambda a: a.update(main=np.zeros((4, 39))), "main has 39"),
        (lambda a: a["optimizer"].__setattr__("m", np.zeros(3)), "m has 3"),
        (lambda a: a["intercept"].setflags(write=False), "intercept must be writeable"),
    ],
)
def test_train_epoch_refuses_bad_arguments(change, message):
    roles, features, active, y, w, order = epoch_case("train", "train")
    intercept = np.zeros(1)
    params = roles[0][0].params + roles[1][0].params + [intercept]
    args = dict(
        main=native_argument(roles[0]),
        pair=native_argument(roles[1]),
        pair_features=features,
        main_active=active[0],
        pair_active=active[1],
        intercept=intercept,
        y=y,
        w=w,
        order=order,
        batch_size=7,
        logistic=False,
        reg_clarity=0.1,
        optimizer=Adam(params, 0.01),
    )
    change(args)
    with pytest.raises(ValueError) as error:
        _subnet.train_epoch(**args)
    assert message in str(error.value)


@pytest.mark.parametrize("logistic", [False, True])
@pytest.mark.parametrize(
    "main_role, pair_role, reg_clarity",
    [
        ("train", None, 0.0),
        ("train", "fixed", 0.0),
        ("fixed", "train", 0.1),
        ("train", "train", 0.1),
    ],
)
def test_additive_loss_matches_numpy_definition(logistic, main_role, pair_role, reg_clarity):
    # 1,100 rows, 1,037 of them scored: blocks of 512 rows and a ragged last block
    roles, features, active, y, w, order = epoch_case(main_role, pair_role, n=1100)
    if logistic:
        y = (y > 0).astype(float)
    rows = order[:1037]
    # scores near 800 when logistic, where exp overflows: the loss must stay finite
    intercept = np.array([800.0 if logistic else 0.3])
    intercept.setflags(write=False)  # read, never written
    ours = _subnet.additive_loss(
        *[native_argument(r) for r in roles],
        features,
        *active,
        intercept,
        y,
        w,
        rows,
        logistic,
        reg_clarity,
    )
    reference = numpy_loss(*roles, features, active, intercept, y, w, rows, logistic, reg_clarity)
    assert ours == pytest.approx(reference, rel=1e-6)


@pytest.mark.parametrize(
    "rows, message",
    [
        (np.zeros(0, np.int64), "rows must not be empty"),
        (np.array([3, 40]), "rows holds 40, outside [0, 40)"),
    ],
)
def test_additive_loss_refuses_bad_rows(rows, message):
    roles, features, active, y, w, _ = epoch_case("train", "train")
    with pytest.raises(ValueError, match=re.escape(message)):
        _subnet.additive_loss(
            *[native_argument(r) for r in roles],
            features,
            *active,
            np.zeros(1),
            y,
            w,
            rows,
            False,
            0.1,
        )
