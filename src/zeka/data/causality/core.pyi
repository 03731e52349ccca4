"""Conditional independence tests on random Fourier features."""

from typing import Literal

import numpy.typing as npt

def conditional_independence_test(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    z: npt.ArrayLike | None = None,
    method: Literal["rcit", "rit"] = "rcit",
    num_f: int = 100,
    num_f2: int = 5,
    n_subsamples: int = 1000,
    seed: int | None = None,
) -> tuple[float, float]:
    """The p-value and the statistic of the test of x and y independent (given z)."""
