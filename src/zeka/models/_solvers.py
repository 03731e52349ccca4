"""Penalised least squares and logistic fits shared by the linear and additive models.

Objective, with weights ``w`` of mean one and an unpenalised intercept::

    mean(w * loss(y, b0 + Z @ beta)) + l1 * |beta|_1 + 0.5 * beta' Q beta

``loss`` is half the squared error or the logistic log-loss; ``Q`` is a penalty matrix.
Logistic fits run penalised IRLS (Newton) with step halving on the objective.
"""

import numpy as np

from ._base import sigmoid


def fit_penalized(Z, y, w, Q, l1=0.0, logistic=False, max_iter=100, tol=1e-8, bounds=None):
    """Return ``(b0, beta, n_iter)`` minimising the objective above.

    ``bounds``, a pair of arrays, confines each coefficient to an interval containing zero.
    """
    n, p = Z.shape
    beta = np.zeros(p)
    b0 = _null_intercept(y, w, logistic)
    if not logistic:
        b0, beta = _weighted_step(Z, y, w, Q, l1, beta, bounds)
        return b0, beta, 1
    objective = _objective(Z, y, w, Q, l1, b0, beta)
    n_iter = 0
    for n_iter in range(1, max_iter + 1):  # noqa: B007 - the count is returned
        eta = b0 + Z @ beta
        mu = sigmoid(eta)
        h = np.clip(mu * (1.0 - mu), 1e-10, None)
        z = eta + (y - mu) / h
        new_b0, new_beta = _weighted_step(Z, z, w * h, Q, l1, beta, bounds)
        # Newton steps can overshoot on nearly separable data: halve until the objective drops
        step = 1.0
        while True:
            cand_b0 = b0 + step * (new_b0 - b0)
            cand_beta = beta + step * (new_beta - beta)
            cand = _objective(Z, y, w, Q, l1, cand_b0, cand_beta)
            if cand <= objective or step < 1e-4:
                break
            step *= 0.5
        improvement = objective - cand
        b0, beta = cand_b0, cand_beta
        if improvement < tol * max(1.0, abs(cand)):
            break
        objective = cand
    return b0, beta, n_iter


def _null_intercept(y, w, logistic):
    mean = np.average(y, weights=w)
    if not logistic:
        return mean
    mean = np.clip(mean, 1e-6, 1 - 1e-6)
    return np.log(mean / (1.0 - mean))


def _objective(Z, y, w, Q, l1, b0, beta):
    eta = b0 + Z @ beta
    # log(1 + e^eta) - y * eta, computed without overflow
    loss = np.logaddexp(0.0, eta) - y * eta
    return np.mean(w * loss) + l1 * np.abs(beta).sum() + 0.5 * beta @ Q @ beta


def _weighted_step(Z, z, v, Q, l1, beta0, bounds):
    """Minimise mean(v * (z - b0 - Z beta)^2) / 2 + l1 |beta|_1 + beta' Q beta / 2."""
    n = Z.shape[0]
    vsum = v.sum()
    zbar = v @ z / vsum
    Zbar = v @ Z / vsum
    Zc = Z - Zbar
    A = (Zc * v[:, None]).T @ Zc / n + Q
    c = Zc.T @ (v * (z - zbar)) / n
    if l1 > 0 or bounds is not None:
        beta = _coordinate_descent(A, c, l1, beta0.copy(), bounds)
    else:
        # a tiny ridge keeps directions the data and the penalty both leave free at zero
        jitter = 1e-10 * max(np.trace(A) / max(len(c), 1), 1e-12)
        beta = np.linalg.solve(A + jitter * np.eye(len(c)), c)
    return zbar - Zbar @ beta, beta


def _coordinate_descent(A, c, l1, beta, bounds, max_sweeps=1000, tol=1e-10):
    """Minimise beta' A beta / 2 - c' beta + l1 |beta|_1 one coordinate at a time.

    With ``bounds`` each one-dimensional minimum is clipped to its interval, which is the
    exact minimum over the interval because each coordinate's objective is convex.
    """
    diag = np.diag(A).copy()
    if bounds is None:
        lower, upper = np.full(len(c), -np.inf), np.full(len(c), np.inf)
    else:
        lower, upper = bounds
    beta = np.clip(beta, lower, upper)
    for _ in range(max_sweeps):
        largest = 0.0
        for j in range(len(c)):
            if diag[j] <= 0:
                beta[j] = 0.0
                continue
            rho = c[j] - A[j] @ beta + diag[j] * beta[j]
            new = np.sign(rho) * max(abs(rho) - l1, 0.0) / diag[j]
            new = min(max(new, lower[j]), upper[j])
            largest = max(largest, abs(new - beta[j]) * np.sqrt(diag[j]))
            beta[j] = new
        if largest < tol:
            break
    return beta
