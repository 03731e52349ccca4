"""Native scoring of candidate feature pairs by the gain of a small pairwise tree."""

import numpy as np
import numpy.typing as npt

def pair_gains(
    bins: npt.NDArray[np.int64],
    n_bins: npt.NDArray[np.int64],
    pairs: npt.NDArray[np.int64],
    grad: npt.NDArray[np.float64],
    hess: npt.NDArray[np.float64],
    min_hessian_share: float,
) -> npt.NDArray[np.float64]:
    """Gain of the best pairwise tree of each candidate pair of features."""
