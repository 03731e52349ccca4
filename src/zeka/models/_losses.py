"""Losses of the additive models on raw scores: squared error, and log-loss on log-odds.

Each gives the starting score of an intercept-only model, the gradients and hessians per
row, and the loss per row.
"""

import numpy as np

from ._base import sigmoid


class SquaredLoss:
    def base_score(self, y, weights):
        return np.average(y, weights=weights)

    def gradients(self, F, y):
        return F - y, np.ones_like(F)

    def loss(self, F, y):
        return 0.5 * (F - y) ** 2


class LogLoss:
    def base_score(self, y, weights):
        mean = np.clip(np.average(y, weights=weights), 1e-6, 1 - 1e-6)
        return np.log(mean / (1 - mean))

    def gradients(self, F, y):
        p = sigmoid(F)
        return p - y, np.clip(p * (1 - p), 1e-12, None)

    def loss(self, F, y):
        return np.logaddexp(0.0, F) - y * F
