"""Native loops of the outlier detectors: histogram and empirical-tail scores, neighbour
aggregation, and the cross tables of a distribution-splitting tree."""

import numpy as np
import numpy.typing as npt

def histogram_scores(
    x: npt.NDArray[np.float64],
    edges: npt.NDArray[np.float64],
    log_density: npt.NDArray[np.float64],
    tol: float,
) -> npt.NDArray[np.float64]:
    """Per row, the sum over features of -log_density of the value's bin."""

def tail_scores(
    x: npt.NDArray[np.float64],
    sorted: npt.NDArray[np.float64],
    cumulative: npt.NDArray[np.float64] | None,
    floor: float,
) -> npt.NDArray[np.float64]:
    """Per row, the sum over features of -log of the smaller empirical tail share."""

def training_tail_scores(
    sorted: npt.NDArray[np.float64],
    order: npt.NDArray[np.int64],
    cumulative: npt.NDArray[np.float64] | None,
    floor: float,
) -> npt.NDArray[np.float64]:
    """tail_scores for the training rows themselves, from each feature's sort order."""

def neighbour_scores(
    dist: npt.NDArray[np.float64],
    weights: npt.NDArray[np.float64] | None,
    own: npt.NDArray[np.float64] | None,
    k: float,
    method: int,
) -> npt.NDArray[np.float64]:
    """Mean, largest or median of each row's first k units of neighbour weight."""

def cross_tables(
    codes: npt.NDArray[np.int64],
    width: int,
    rows: npt.NDArray[np.int64] | None,
    weights: npt.NDArray[np.float64] | None,
    values: npt.NDArray[np.float64] | None,
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64] | None]:
    """A tree node's weighted cross tables of bin codes, and per-bin value sums."""
