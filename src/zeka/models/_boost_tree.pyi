"""Native choice of a boosting tree node's cut from its gradient and hessian histograms."""

import numpy as np
import numpy.typing as npt

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
