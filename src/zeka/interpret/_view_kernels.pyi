"""Native loops of the interpretation views: tree paths over many rows, class sums per bin."""

import numpy as np
import numpy.typing as npt

def tree_paths(
    feature: npt.NDArray[np.int64],
    threshold: npt.NDArray[np.float64],
    left: npt.NDArray[np.int64],
    right: npt.NDArray[np.int64],
    value: npt.NDArray[np.float64],
    X: npt.NDArray[np.float64],
    single_precision: bool,
    weights: npt.NDArray[np.float64] | None,
    contributions: npt.NDArray[np.float64] | None,
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]:
    """Every row's decision path through one binary tree."""

def bin_class_sums(
    X: npt.NDArray[np.float64],
    cuts: npt.NDArray[np.float64],
    offsets: npt.NDArray[np.int64],
    y: npt.NDArray[np.float64],
    weights: npt.NDArray[np.float64] | None,
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """Per feature and bin, the rows and the weight of each class of a 0/1 target."""
