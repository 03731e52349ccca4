"""Native loops of the model-own interpretation views."""

import numpy as np
import numpy.typing as npt

def step_values(
    X: npt.NDArray[np.float64],
    axes: npt.NDArray[np.int64],
    edges: npt.NDArray[np.float64],
    tables: npt.NDArray[np.float64],
    table_start: npt.NDArray[np.int64],
) -> npt.NDArray[np.float64]:
    """The value of every piecewise constant term at every row: (n, T) float64."""

def step_cells(
    X: npt.NDArray[np.float64],
    axes: npt.NDArray[np.int64],
    edges: npt.NDArray[np.float64],
    tables: npt.NDArray[np.float64],
    table_start: npt.NDArray[np.int64],
) -> npt.NDArray[np.int64]:
    """The cell of every row in every term's table: (n, T) int64."""

def step_counts(
    X: npt.NDArray[np.float64],
    axes: npt.NDArray[np.int64],
    edges: npt.NDArray[np.float64],
    tables: npt.NDArray[np.float64],
    table_start: npt.NDArray[np.int64],
) -> npt.NDArray[np.float64]:
    """The rows of X in every cell of every term's table, laid out as tables."""

def step_summary(
    X: npt.NDArray[np.float64],
    axes: npt.NDArray[np.int64],
    edges: npt.NDArray[np.float64],
    tables: npt.NDArray[np.float64],
    table_start: npt.NDArray[np.int64],
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """Every row's contributions per feature and every term's sums over the rows."""

def cell_sums(
    cells: npt.NDArray[np.int64], values: npt.NDArray[np.float64], width: int
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """Sums of per-row values over the rows of every cell, and the rows per cell."""

def purify(
    table: npt.NDArray[np.float64], weights: npt.NDArray[np.float64], tol: float, max_iter: int
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.float64], float, int]:
    """Purification of a pairwise table under cell weights."""

def relu_local_linear(
    Z: npt.NDArray[np.float64],
    weights: list[npt.NDArray[np.float64]],
    biases: list[npt.NDArray[np.float64]],
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.int64]]:
    """Output, gradient and activation region of a ReLU network at every row."""
