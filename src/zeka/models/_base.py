"""Shared plumbing of the catalogue estimators: input checks, labels, feature lists."""

import numbers
import warnings

import numpy as np
import pandas as pd
from sklearn.base import BaseEstimator, ClassifierMixin, RegressorMixin
from sklearn.exceptions import DataConversionWarning
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_array, check_consistent_length, check_is_fitted


class ZekaEstimator(BaseEstimator):
    """Base of every catalogue estimator.

    Subclasses implement ``_fit(X, y, w)``, where ``X`` is a float matrix, ``y`` the float
    target (0/1 for classifiers) and ``w`` sample weights scaled to mean one, and
    ``_raw_predict(X)`` returning the regression prediction or the log-odds of the second
    class. Families whose rules count rows (leaf sizes, hessian floors, quantile bins) set
    ``_weights_in_rows`` and get the weights as given instead, so that an integer weight
    stands for that many copies of the row.
    """

    _weights_in_rows = False

    def fit(self, X, y, sample_weight=None):
        if y is None:
            raise ValueError(
                "%s requires y to be passed, but the target y is None" % type(self).__name__
            )
        X, feature_names = _as_matrix(X)
        y = np.asarray(y)
        if y.ndim == 2 and y.shape[1] == 1:
            warnings.warn(
                "A column-vector y was passed when a 1d array was expected; it is "
                "used as a 1d array",
                DataConversionWarning,
                stacklevel=2,
            )
            y = y.ravel()
        if y.ndim != 1:
            raise ValueError("y must be one-dimensional, got shape %s" % (y.shape,))
        check_consistent_length(X, y)
        w = _sample_weight(sample_weight, X.shape[0], self._weights_in_rows)
        if sample_weight is not None and np.any(w == 0):
            # a row of weight zero is a row that is not there: it must not shape bins,
            # spline ranges or split points either
            kept = w > 0
            X, y, w = X[kept], y[kept], w[kept]
            if not self._weights_in_rows:
                w = w / w.mean()
        self.n_features_in_ = X.shape[1]
        if feature_names is not None:
            self.feature_names_in_ = feature_names
        elif hasattr(self, "feature_names_in_"):
            del self.feature_names_in_
        self._fit(X, self._prepare_target(y), w)
        return self

    def _check_X(self, X):
        check_is_fitted(self, "n_features_in_")
        X, _ = _as_matrix(X)
        if X.shape[1] != self.n_features_in_:
            raise ValueError(
                "X has %d features, but %s is expecting %d features as input"
                % (X.shape[1], type(self).__name__, self.n_features_in_)
            )
        return X

    def _feature_names(self):
        """Names under which monotonicity lists may refer to features, or None."""
        names = getattr(self, "feature_names", None)
        if names is not None:
            return [str(name) for name in names]
        names = getattr(self, "feature_names_in_", None)
        return None if names is None else [str(name) for name in names]

    def _monotone_signs(self):
        """Per-feature constraint: +1 increasing, -1 decreasing, 0 free."""
        signs = np.zeros(self.n_features_in_, dtype=int)
        names = self._feature_names()
        increasing = resolve_features(
            self.mono_increasing_list, names, self.n_features_in_, "mono_increasing_list"
        )
        decreasing = resolve_features(
            self.mono_decreasing_list, names, self.n_features_in_, "mono_decreasing_list"
        )
        both = sorted(set(increasing) & set(decreasing))
        if both:
            raise ValueError("features listed as both increasing and decreasing: %s" % both)
        signs[increasing] = 1
        signs[decreasing] = -1
        return signs


class ZekaRegressor(RegressorMixin, ZekaEstimator):
    """Regression side: the target is used as it is."""

    def _prepare_target(self, y):
        try:
            y = y.astype(np.float64)
        except (TypeError, ValueError) as exc:
            raise ValueError("regression target must be numeric") from exc
        _refuse_missing_or_infinite(y)
        return y

    def predict(self, X):
        return self._raw_predict(self._check_X(X))


class ZekaClassifier(ClassifierMixin, ZekaEstimator):
    """Binary classification side: any two labels, encoded as 0/1 in ``classes_`` order.

    The families are binary only; scikit-learn learns it from the estimator tags, and a
    target with more than two classes is refused.
    """

    def _more_tags(self):
        return {"binary_only": True}

    def __sklearn_tags__(self):
        tags = super().__sklearn_tags__()
        tags.classifier_tags.multi_class = False
        return tags

    def _prepare_target(self, y):
        if y.dtype.kind in "fc":
            _refuse_missing_or_infinite(y)
        elif y.dtype.kind == "O" and np.any(pd.isna(y)):
            raise ValueError(
                "target y has %d missing labels (None or NaN); drop those rows or "
                "give them a label" % int(np.sum(pd.isna(y)))
            )
        classes, encoded = np.unique(y, return_inverse=True)
        if len(classes) > 2:
            # any two values are labels (3.5 and 7.0 too); many floats are a regression target
            check_classification_targets(y)
            raise ValueError(
                "Only binary classification is supported. %s is a binary classifier, but y "
                "has %d classes; reduce the target to two classes (for example one class "
                "against the rest)" % (type(self).__name__, len(classes))
            )
        if len(classes) != 2:
            raise ValueError("binary classification needs exactly two classes in y, got 1 class")
        self.classes_ = classes
        return encoded.astype(np.float64)

    def decision_function(self, X):
        """Log-odds of ``classes_[1]``."""
        return self._raw_predict(self._check_X(X))

    def predict_proba(self, X):
        return np.column_stack(self._probabilities(self._check_X(X)))

    def predict(self, X):
        p1 = self._probabilities(self._check_X(X))[1]
        return self.classes_[(p1 > 0.5).astype(int)]

    def _probabilities(self, X):
        """Probabilities of both classes, each computed directly so that neither rounds
        to exactly 0 or 1 while the log-odds stay within +-709."""
        z = self._raw_predict(X)
        return sigmoid(-z), sigmoid(z)


def sigmoid(z):
    """1 / (1 + exp(-z)) in three whole-array passes: numpy's vectorised exp makes it
    about three times faster than scipy's expit, and boosting evaluates it over every
    row at every step. Below z = -709, exp(-z) overflows to inf and the value is 0,
    where expit gives a number under 1e-307."""
    with np.errstate(over="ignore"):
        out = np.exp(-np.asarray(z, dtype=np.float64))
    out += 1.0
    return np.reciprocal(out, out=out)


def _refuse_missing_or_infinite(y):
    """A NaN or infinite target would silently turn every prediction into NaN."""
    finite = np.isfinite(y)
    if finite.all():
        return
    n_nan = int(np.isnan(y).sum())
    n_inf = int((~finite).sum()) - n_nan
    problems = []
    if n_nan:
        problems.append("%d NaN" % n_nan)
    if n_inf:
        problems.append("%d infinite" % n_inf)
    raise ValueError(
        "target y contains %s value(s); drop or fill those rows before fitting"
        % " and ".join(problems)
    )


def _as_matrix(X):
    """Dense float matrix and, for a frame with text column labels, their names."""
    names = None
    columns = getattr(X, "columns", None)
    if columns is not None and all(isinstance(c, str) for c in columns):
        names = np.asarray(columns, dtype=object)
    X = check_array(X, dtype=np.float64)
    return X, names


def _sample_weight(sample_weight, n, in_rows=False):
    """Checked weights, scaled to mean one unless ``in_rows`` asks for them as given."""
    if sample_weight is None:
        return np.ones(n)
    w = np.asarray(sample_weight, dtype=np.float64).ravel()
    if w.shape[0] != n:
        raise ValueError("sample_weight has %d entries for %d samples" % (w.shape[0], n))
    if not np.all(np.isfinite(w)) or np.any(w < 0):
        raise ValueError("sample_weight must be finite and non-negative")
    total = w.sum()
    if total <= 0:
        raise ValueError("sample_weight must not be all zero: no row would be left to fit")
    return w.copy() if in_rows else w * (n / total)


def resolve_features(items, names, n_features, what):
    """Column positions of a feature list given by names or positions.

    A single name (as a text) stands for a list of one name.
    """
    if items is None:
        return []
    if isinstance(items, str):
        items = [items]
    positions = []
    for item in items:
        if isinstance(item, numbers.Integral) and not isinstance(item, bool):
            if not -n_features <= item < n_features:
                raise ValueError("%s: feature position %d out of range" % (what, item))
            positions.append(int(item) % n_features)
        elif isinstance(item, str):
            key = item.strip()
            if names is None or key not in names:
                raise ValueError("%s: unknown feature %r" % (what, item))
            positions.append(names.index(key))
        else:
            raise ValueError("%s: %r is neither a feature name nor a position" % (what, item))
    return sorted(set(positions))


def bin_edges(x, max_bins, min_bin_fraction=0.0, weights=None):
    """Cut points of at most ``max_bins`` quantile bins of one feature.

    A sample goes to bin ``searchsorted(edges, x, side="left")``, so bin k holds values
    in (edges[k-1], edges[k]]. Cut points are midpoints between distinct values.
    ``weights`` count rows: an integer weight gives the cut points of that many copies.
    """
    n_bins = max_bins
    if min_bin_fraction > 0:
        n_bins = min(n_bins, max(1, int(np.floor(1.0 / min_bin_fraction))))
    values = np.unique(x)
    if len(values) <= n_bins:
        return (values[:-1] + values[1:]) / 2.0
    levels = np.linspace(0, 1, n_bins + 1)[1:-1]
    if weights is None:
        quantiles = np.quantile(x, levels)
    else:
        quantiles = _weighted_quantiles(x, weights, levels)
    # snap each quantile to the midpoint after the largest value not above it
    upper = np.searchsorted(values, quantiles, side="right")
    upper = np.unique(np.clip(upper, 1, len(values) - 1))
    return (values[upper - 1] + values[upper]) / 2.0


def _weighted_quantiles(x, weights, levels):
    """``np.quantile`` (linear interpolation) of the data with each row repeated by weight.

    Row k of the repeated, sorted data is the value whose cumulative weight first exceeds k;
    fractional weights extend the same rule.
    """
    order = np.argsort(x, kind="stable")
    xs, cum = x[order], np.cumsum(weights[order])
    position = (cum[-1] - 1.0) * levels
    below = np.floor(position)
    last = len(xs) - 1
    lo = xs[np.minimum(np.searchsorted(cum, below, side="right"), last)]
    hi = xs[np.minimum(np.searchsorted(cum, below + 1.0, side="right"), last)]
    return lo + (position - below) * (hi - lo)


def bin_matrix(X, edges):
    """Bin index of every entry, column by column."""
    out = np.empty(X.shape, dtype=np.intp)
    for j, e in enumerate(edges):
        out[:, j] = np.searchsorted(e, X[:, j], side="left")
    return out


def first_best(gain):
    """Flat index of the first entry within rounding of the largest finite gain.

    Gradients often take only a few distinct values, so different splits can have the same
    gain; taking the first of them, rather than whichever rounding favours, makes the
    choice independent of the order in which the sums were formed (a row of weight 3 and
    three copies of it give the same tree).
    """
    flat = gain.ravel()
    top = flat.max()
    if not np.isfinite(top):
        return int(np.argmax(flat))
    return int(np.argmax(flat >= top - 1e-9 * max(abs(top), 1e-300)))


def check_positive_int(value, name, minimum=1):
    if not isinstance(value, numbers.Integral) or isinstance(value, bool) or value < minimum:
        raise ValueError("%s must be an integer >= %d, got %r" % (name, minimum, value))
    return int(value)


def check_non_negative(value, name):
    if not isinstance(value, numbers.Real) or isinstance(value, bool) or not value >= 0:
        raise ValueError("%s must be a non-negative number, got %r" % (name, value))
    return float(value)
