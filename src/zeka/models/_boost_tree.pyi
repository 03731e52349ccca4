"""Native steps of growing a boosting tree: a node's histograms and the choice of its cut."""

from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

def bin_sums(
    bins: npt.NDArray[np.int64],
    width: int,
    rows: npt.NDArray[np.int64] | None,
    values: Sequence[npt.NDArray[np.float64]],
    lanes: int,
) -> list[npt.NDArray[np.float64]]:
    """Per feature and bin, the sums of one or two per-row arrays over a node's rows."""

def best_split(
    hist_grad: npt.NDArray[np.float64],
    hist_hess: npt.NDArray[np.float64],
    cuts: npt.NDArray[np.int64],
    signs: npt.NDArray[np.float64],
    G: float,
    H: float,
    weight: float,
    lower: float,
    upper: float,
    reg_lambda: float,
    reg_alpha: float,
    gamma: float,
    min_child_weight: float,
) -> tuple[int, int, float, float] | None:
    """The best allowed cut of a node as (feature, cut, w_left, w_right), or None."""
