"""Penalised generalised linear models ("glm") and penalised spline additive models ("gam")."""

import numpy as np
from sklearn.preprocessing import SplineTransformer

from ._base import (
    ZekaClassifier,
    ZekaEstimator,
    ZekaRegressor,
    check_non_negative,
    check_positive_int,
)
from ._solvers import fit_penalized


class _GLM(ZekaEstimator):
    """Linear model with elastic-net penalty.

    Minimises ``mean(loss) + l1_regularization * |coef|_1 + l2_regularization / 2 * |coef|^2``
    with squared-error loss (regression, halved) or log-loss (classification); the intercept
    is not penalised. Inputs are used as given, so scale them beforehand for the penalty to
    treat features alike.

    Unpenalised logistic regression (``l1_regularization = l2_regularization = 0``, the
    defaults) has no finite estimate when the classes are separable, and on nearly
    separable data its estimate is huge and its probabilities are all but 0 or 1. The
    classifier therefore puts a weakly informative prior on the coefficients in that
    case: a standard normal prior on the change in log-odds per standard deviation of each
    feature, that is ``sum((coef_j * sd_j) ** 2) / 2`` added to the summed log-loss. It
    weighs as much as one observation per coefficient, so it barely moves a well
    determined fit, is the same whatever the units of the inputs, and keeps a separable
    fit finite and calibrated. Any positive ``l1_regularization`` or
    ``l2_regularization`` replaces it.
    """

    # the prior is worth one observation, so the weights must count rows
    _weights_in_rows = True

    def __init__(self, l1_regularization=0.0, l2_regularization=0.0):
        self.l1_regularization = l1_regularization
        self.l2_regularization = l2_regularization

    def _fit(self, X, y, w):
        l1 = check_non_negative(self.l1_regularization, "l1_regularization")
        l2 = check_non_negative(self.l2_regularization, "l2_regularization")
        Q = l2 * np.eye(X.shape[1])
        if self._logistic and l1 == 0 and l2 == 0:
            Q = np.diag(_column_variances(X, w)) / w.sum()
        b0, beta, self.n_iter_ = fit_penalized(
            X, y, w / w.mean(), Q, l1=l1, logistic=self._logistic
        )
        self._store(b0, beta)

    def _raw_predict(self, X):
        return X @ np.ravel(self.coef_) + np.ravel(self.intercept_)[0]


class GLMRegressor(ZekaRegressor, _GLM):
    _logistic = False

    def _store(self, b0, beta):
        self.coef_ = beta
        self.intercept_ = float(b0)


class GLMClassifier(ZekaClassifier, _GLM):
    _logistic = True

    def _store(self, b0, beta):
        self.coef_ = beta[None, :]
        self.intercept_ = np.array([b0])


class _GAM(ZekaEstimator):
    """Additive model of penalised B-splines, one smooth term per feature.

    Each feature with at least two distinct values gets ``n_splines`` B-spline basis
    functions of degree ``spline_order`` on evenly spaced knots over its training range
    (constant beyond it). The coefficients of a term pay ``lam / 2`` times the sum of their
    squared second differences (first differences when a term has only two coefficients),
    so a larger ``lam`` gives smoother terms; the data term is the mean loss. Classification
    runs at most ``max_iter`` penalised Newton steps; regression is solved exactly.

    The difference penalty leaves each term's linear part free, and on separable or nearly
    separable classes the log-likelihood grows without bound along it. The classifier
    therefore adds a weakly informative prior on every term: a standard normal prior on
    the spread (standard deviation over the training rows) of the term's contribution to
    the log-odds, that is half its variance added to the summed log-loss. It weighs as
    much as one observation per term, binds where the smoothness penalty does not, and
    keeps the fit finite and calibrated whatever ``lam`` is.
    """

    # the prior is worth one observation, so the weights must count rows
    _weights_in_rows = True

    def __init__(self, spline_order=3, n_splines=20, lam=0.6, max_iter=100):
        self.spline_order = spline_order
        self.n_splines = n_splines
        self.lam = lam
        self.max_iter = max_iter

    def _fit(self, X, y, w):
        degree = check_positive_int(self.spline_order, "spline_order", minimum=0)
        n_basis = check_positive_int(self.n_splines, "n_splines")
        lam = check_non_negative(self.lam, "lam")
        max_iter = check_positive_int(self.max_iter, "max_iter")
        n_knots = max(2, n_basis - degree + 1)
        self.terms_ = []
        blocks, penalties = [], []
        for j in range(X.shape[1]):
            column = X[:, [j]]
            if np.ptp(column) == 0:
                continue
            spline = SplineTransformer(n_knots=n_knots, degree=degree, extrapolation="constant")
            basis = spline.fit_transform(column)
            center = w @ basis / w.sum()
            self.terms_.append((j, spline, center))
            blocks.append(basis - center)
            penalties.append(_difference_penalty(basis.shape[1]))
        if blocks:
            Z = np.hstack(blocks)
            Q = lam * _block_diagonal(penalties)
            if self._logistic:
                spread = [(b * w[:, None]).T @ b / w.sum() for b in blocks]
                Q += _block_diagonal(spread) / w.sum()
        else:
            Z, Q = np.zeros((X.shape[0], 0)), np.zeros((0, 0))
        b0, beta, self.n_iter_ = fit_penalized(
            Z, y, w / w.mean(), Q, logistic=self._logistic, max_iter=max_iter
        )
        self.intercept_ = float(b0)
        self.coef_ = beta

    def term_coefficients(self):
        """Coefficients of each smooth term, as ``{feature position: array}``."""
        out, start = {}, 0
        for j, spline, _ in self.terms_:
            size = spline.n_features_out_
            out[j] = self.coef_[start : start + size]
            start += size
        return out

    def _raw_predict(self, X):
        eta = np.full(X.shape[0], self.intercept_)
        start = 0
        for j, spline, center in self.terms_:
            basis = spline.transform(X[:, [j]]) - center
            eta += basis @ self.coef_[start : start + basis.shape[1]]
            start += basis.shape[1]
        return eta


def _column_variances(X, w):
    mean = w @ X / w.sum()
    return w @ (X - mean) ** 2 / w.sum()


def _difference_penalty(size):
    order = min(2, size - 1)
    if order < 1:
        return np.zeros((size, size))
    D = np.diff(np.eye(size), n=order, axis=0)
    return D.T @ D


def _block_diagonal(blocks):
    size = sum(b.shape[0] for b in blocks)
    out = np.zeros((size, size))
    start = 0
    for b in blocks:
        k = b.shape[0]
        out[start : start + k, start : start + k] = b
        start += k
    return out


class GAMRegressor(ZekaRegressor, _GAM):
    _logistic = False


class GAMClassifier(ZekaClassifier, _GAM):
    _logistic = True
