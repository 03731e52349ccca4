"""The native pair scorer's handling of its inputs (its gains are compared with the numpy
definition in test_training_quality)."""

import inspect

import numpy as np
import pytest

from zeka.models import _pair_gain


def good_arguments():
    rng = np.random.default_rng(0)
    bins = rng.integers(0, 4, size=(20, 3))
    return dict(
        bins=bins,
        n_bins=np.array([4, 4, 4]),
        pairs=np.array([[0, 1], [1, 2]]),
        grad=rng.normal(size=20),
        hess=rng.uniform(size=20),
        min_hessian_share=0.005,
    )


def changed(**changes):
    arguments = good_arguments()
    for name, change in changes.items():
        arguments[name] = change(arguments[name])
    return arguments


def with_bin(row, feature, value):
    def change(bins):
        bins = bins.copy()
        bins[row, feature] = value
        return bins

    return change


@pytest.mark.parametrize(
    "arguments, message",
    [
        (
            changed(bins=lambda b: b.astype(np.int32)),
            "bins must be a C-contiguous numpy array of dtype int64",
        ),
        (changed(bins=np.asfortranarray), "bins must be a C-contiguous"),
        (changed(bins=lambda b: b.tolist()), "bins must be a C-contiguous numpy array"),
        (changed(bins=lambda b: b[:, :, None]), "bins must have 2 dimensions, got 3"),
        (changed(n_bins=lambda n: n[:2]), "n_bins has 2 entries along axis 0, expected 3"),
        (changed(n_bins=lambda n: np.array([4, -1, 4])), r"n_bins\[1\] is negative"),
        (
            changed(pairs=lambda p: np.array([[0, 1, 2]])),
            "pairs has 3 entries along axis 1, expected 2",
        ),
        (changed(pairs=lambda p: np.array([[0, 3]])), r"pairs holds feature 3, outside \[0, 3\)"),
        (changed(pairs=lambda p: np.array([[-1, 0]])), "pairs holds feature -1"),
        (changed(grad=lambda g: g[:5]), "grad has 5 entries along axis 0, expected 20"),
        (
            changed(hess=lambda h: h.astype(np.float32)),
            "hess must be a C-contiguous numpy array of dtype float64",
        ),
        (
            changed(bins=with_bin(7, 2, 4)),
            r"bin index 4 of feature 2 \(row 7\) is outside \[0, 4\)",
        ),
        (changed(bins=with_bin(0, 0, -1)), r"bin index -1 of feature 0 \(row 0\)"),
        (changed(n_bins=lambda n: np.array([2**13, 2**12, 4])), "more than 16777216 cells"),
        (changed(n_bins=lambda n: np.array([2**62, 4, 4])), "more than 16777216 cells"),
        (
            changed(min_hessian_share=lambda s: -0.1),
            "min_hessian_share must be a finite number >= 0",
        ),
        (
            changed(min_hessian_share=lambda s: float("nan")),
            "min_hessian_share must be a finite number",
        ),
    ],
)
def test_bad_input_is_refused_with_a_clear_value_error(arguments, message):
    with pytest.raises(ValueError, match=message):
        _pair_gain.pair_gains(**arguments)


def test_a_share_that_is_no_number_is_a_type_error():
    with pytest.raises(TypeError):
        _pair_gain.pair_gains(**changed(min_hessian_share=lambda s: "0.005"))


def test_pairs_of_a_constant_feature_and_no_pairs():
    arguments = changed(
        n_bins=lambda n: np.array([4, 1, 4]),
        bins=lambda b: b * np.array([1, 0, 1]),
        pairs=lambda p: np.array([[0, 1], [1, 2], [0, 2]]),
    )
    gains = _pair_gain.pair_gains(**arguments)
    assert gains[:2].tolist() == [-np.inf, -np.inf] and np.isfinite(gains[2])
    # a feature of a huge bin count paired only with constant features needs no table
    arguments.update(n_bins=np.array([4, 1, 2**40]), pairs=np.array([[1, 2]]))
    assert _pair_gain.pair_gains(**arguments).tolist() == [-np.inf]
    arguments.update(pairs=np.zeros((0, 2), np.int64))
    assert _pair_gain.pair_gains(**arguments).shape == (0,)


def test_signature():
    assert (
        str(inspect.signature(_pair_gain.pair_gains))
        == "(bins, n_bins, pairs, grad, hess, min_hessian_share)"
    )
