// The class docstring.
#include "data/outlier_detection/novelty/one_class_svm.hpp"

namespace zeka::novelty {

const char* const kClassDoc =
    R"(One-class SVM for outlier detection, wrapping scikit-learn's OneClassSVM.

The covariates are optionally standardised before fitting and scoring. The
score of a row is the negated decision value of the inner SVM, so a larger
score means a more outlying row and rows inside the learned support score
negative. `predict` flags as outliers the rows whose score lies strictly above
a quantile of the scores being labelled.

Parameters
----------
kernel : {'linear', 'poly', 'rbf', 'sigmoid', 'precomputed'} or callable, default='rbf'
    Kernel type used by the algorithm.
degree : int, default=3
    Degree of the polynomial kernel ('poly'); ignored by the other kernels.
gamma : {'scale', 'auto'} or float, default='scale'
    Kernel coefficient for 'rbf', 'poly' and 'sigmoid': 'scale' uses
    1 / (n_features * X.var()), 'auto' uses 1 / n_features; a float must be
    non-negative.
coef0 : float, default=0.0
    Independent term of the kernel function, significant in 'poly' and
    'sigmoid'.
tol : float, default=1e-3
    Tolerance of the stopping criterion.
nu : float, default=0.5
    An upper bound on the fraction of training errors and a lower bound on the
    fraction of support vectors; in the interval (0, 1].
shrinking : bool, default=True
    Whether to use the shrinking heuristic.
cache_size : float, default=200
    Size of the kernel cache, in MB.
verbose : bool, default=False
    Enable verbose output of libsvm.
max_iter : int, default=-1
    Hard limit on iterations within the solver, or -1 for no limit.
standardization : bool, default=True
    Whether to standardise the covariates before running the algorithm.

Attributes
----------
estimator : sklearn.svm.OneClassSVM
    The inner estimator, fitted in place by `fit`. Once fitted it carries
    scikit-learn's attributes:

    - ``coef_`` : ndarray of shape (1, n_features), weights of the features,
      for the linear kernel only;
    - ``dual_coef_`` : ndarray of shape (1, n_SV), coefficients of the support
      vectors in the decision function;
    - ``fit_status_`` : int, 0 if correctly fitted, 1 otherwise;
    - ``intercept_`` : ndarray of shape (1,), constant in the decision
      function;
    - ``n_features_in_`` : int, number of features seen during fit;
    - ``feature_names_in_`` : ndarray of shape (n_features_in_,), names of the
      features seen during fit, when X has string feature names;
    - ``n_iter_`` : int, number of iterations run by the optimisation routine;
    - ``offset_`` : float, offset used to define the decision function from
      the raw scores (decision_function = score_samples - offset_);
    - ``shape_fit_`` : tuple of int of shape (n_dimensions_of_X,), array
      dimensions of the training vectors;
    - ``support_`` : ndarray of shape (n_SV,), indices of the support vectors;
    - ``support_vectors_`` : ndarray of shape (n_SV, n_features), the support
      vectors;
    - ``n_support_`` : ndarray of shape (n_classes,), number of support
      vectors for each class.
standardization : bool
    The `standardization` argument.
scaler_ : sklearn.preprocessing.StandardScaler or None
    The scaler fitted on the training covariates; None until a fit with
    standardisation.
score : ndarray of shape (n_samples,) or None
    Outlier scores of the training rows; None until fitted.)";

} // namespace zeka::novelty
