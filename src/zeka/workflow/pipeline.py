"""ModelPipeline: an estimator bound to a dataset and its preprocessing."""

import inspect
import warnings

import numpy as np

from zeka.exceptions import ZekaWarning


def _accepts_sample_weight(estimator):
    """Whether the estimator's fit names a sample_weight parameter."""
    try:
        parameters = inspect.signature(estimator.fit).parameters
    except (TypeError, ValueError):
        return False
    return "sample_weight" in parameters


class ModelPipeline:
    """An estimator bound to a dataset (see :class:`zeka.data.dataset.Dataset`).

    ``ModelPipeline(dataset=..., estimator=..., name=None)``

    The pipeline holds both objects by reference. ``name`` defaults to the
    estimator's class name.

    Preprocessing: until the pipeline is fitted, it uses the dataset's own
    preprocessing, fitted once on the dataset's training split, so an estimator
    fitted elsewhere on ``dataset.get_data(train=True)`` can be wrapped as it is.
    :meth:`fit` fits a new preprocessing of the dataset's kind on the covariates
    it is given (``preprocessing_``) and then the estimator; from then on
    :meth:`get_data`, :meth:`predict` and :meth:`predict_proba` go through that
    preprocessing, so they always feed the estimator what it was trained on.
    The dataset itself is never changed. Fitted on the dataset's training split,
    the pipeline's preprocessing gives the same matrices as the dataset's.
    """

    def __init__(self, dataset, estimator, name=None):
        self.dataset = dataset
        self.estimator = estimator
        self.name = type(estimator).__name__ if name is None else name

    def get_raw_data(self, train=False, test=False):
        """(x, y, sample_weight) of the dataset's train or test split, x as raw feature columns."""
        return self.dataset.get_raw_data(train=train, test=test)

    def get_data(self, train=False, test=False):
        """(x, y, sample_weight) of the train or test split, x preprocessed for the estimator."""
        preprocessing = getattr(self, "preprocessing_", None)
        if preprocessing is None:
            return self.dataset.get_data(train=train, test=test)
        x, y, sample_weight = self.dataset.get_raw_data(train=train, test=test)
        return preprocessing.transform(x), y, sample_weight

    def fit(self, x, y, sample_weight=None):
        """Fit a preprocessing on the raw covariates `x`, then the estimator; returns self.

        The sample weights go to the estimator when its fit takes ``sample_weight``;
        otherwise non-uniform weights are ignored with a :class:`ZekaWarning`.
        """
        preprocessing = self.dataset.make_preprocessing()
        x_model = preprocessing.fit_transform(x)
        if sample_weight is not None and _accepts_sample_weight(self.estimator):
            self.estimator.fit(x_model, y, sample_weight=sample_weight)
        else:
            if sample_weight is not None and np.ptp(np.asarray(sample_weight, dtype=float)) > 0:
                warnings.warn(
                    "{} does not take sample weights; the non-uniform sample weights are "
                    "ignored".format(type(self.estimator).__name__),
                    ZekaWarning,
                    stacklevel=2,
                )
            self.estimator.fit(x_model, y)
        self.preprocessing_ = preprocessing
        return self

    def transform(self, x):
        """Raw covariates to the matrix the estimator consumes."""
        preprocessing = getattr(self, "preprocessing_", None)
        if preprocessing is None:
            preprocessing = self.dataset.preprocessing
        return preprocessing.transform(x)

    def predict(self, x):
        """The estimator's predictions for raw covariates `x`."""
        return self.estimator.predict(self.transform(x))

    def predict_proba(self, x):
        """The estimator's class probabilities for raw covariates `x`."""
        return self.estimator.predict_proba(self.transform(x))

    def __repr__(self):
        return "ModelPipeline(name={!r}, estimator={!r})".format(self.name, self.estimator)
