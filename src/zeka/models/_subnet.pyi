"""Native training step of banks of small ReLU networks, and Adam."""

from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

def forward(
    inputs: npt.NDArray[np.float32],
    weights: Sequence[npt.NDArray[np.float32]],
    biases: Sequence[npt.NDArray[np.float32]],
    capped: npt.NDArray[np.bool_],
) -> tuple[npt.NDArray[np.float64], list[npt.NDArray[np.float32]]]:
    """Outputs (m, n) of a bank of m networks, and the hidden activations."""

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
