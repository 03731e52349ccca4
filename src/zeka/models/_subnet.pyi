"""Native training step of banks of small ReLU networks, and Adam."""

from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

def forward(
    inputs: npt.NDArray[np.float32],
    weights: Sequence[npt.NDArray[np.float32]],
    biases: Sequence[npt.NDArray[np.float32]],
    capped: npt.NDArray[np.bool_],
) -> tuple[npt.NDArray[np.float64], list[npt.NDArray[np.float32]]]:
    """Outputs (m, n) of a bank of m networks, and the hidden activations, each of
    shape (m, fan_out, n)."""

def backward(
    inputs: npt.NDArray[np.float32],
    hidden: Sequence[npt.NDArray[np.float32]],
    weights: Sequence[npt.NDArray[np.float32]],
    capped: npt.NDArray[np.bool_],
    d_outputs: npt.NDArray[np.float64],
) -> list[npt.NDArray[np.float32]]:
    """Gradients of the weights, then of the biases, layer by layer."""

def adam_step(
    params: Sequence[npt.NDArray[np.floating]],
    grads: Sequence[npt.NDArray[np.floating]],
    m: npt.NDArray[np.float64],
    v: npt.NDArray[np.float64],
    step_size: float,
    correction2: float,
    beta1: float,
    beta2: float,
    eps: float,
) -> None:
    """One Adam update of params (and of the moments m and v), in place."""

# a bank to train: (weights, biases, capped, every row's inputs); or a frozen bank's
# outputs on every row
_EpochBank = (
    tuple[
        Sequence[npt.NDArray[np.float32]],
        Sequence[npt.NDArray[np.float32]],
        npt.NDArray[np.bool_],
        npt.NDArray[np.float32],
    ]
    | npt.NDArray[np.float64]
)

def train_epoch(
    main: _EpochBank,
    pair: _EpochBank | None,
    pair_features: npt.NDArray[np.int64],
    main_active: npt.NDArray[np.float64],
    pair_active: npt.NDArray[np.float64],
    intercept: npt.NDArray[np.float64],
    y: npt.NDArray[np.float64],
    w: npt.NDArray[np.float64],
    order: npt.NDArray[np.int64],
    batch_size: int,
    logistic: bool,
    reg_clarity: float,
    optimizer: Any,
) -> None:
    """One epoch of mini-batch Adam on an additive network of two banks, in place."""

def additive_loss(
    main: _EpochBank,
    pair: _EpochBank | None,
    pair_features: npt.NDArray[np.int64],
    main_active: npt.NDArray[np.float64],
    pair_active: npt.NDArray[np.float64],
    intercept: npt.NDArray[np.float64],
    y: npt.NDArray[np.float64],
    w: npt.NDArray[np.float64],
    rows: npt.NDArray[np.int64],
    logistic: bool,
    reg_clarity: float,
) -> float:
    """Weighted mean loss of an additive network on some rows, with the clarity penalty."""
