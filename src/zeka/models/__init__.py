"""Model catalogue: the nine interpretable model families, for regression and classification.

``ZEKAREGRESSOR[key]`` and ``ZEKACLASSIFIER[key]`` are estimator classes following the
scikit-learn protocol; their keyword arguments are the parameter keys of the family's
hyper-parameter table, with the table defaults as defaults. ``get_model_name`` tells which
family an estimator belongs to, or "arbitrary" for any other estimator.
"""

from .boosting import XGB1Classifier, XGB1Regressor, XGB2Classifier, XGB2Regressor
from .ebm import EBMClassifier, EBMRegressor
from .gaminet import GAMINetClassifier, GAMINetRegressor
from .linear import GAMClassifier, GAMRegressor, GLMClassifier, GLMRegressor
from .reludnn import ReluDNNClassifier, ReluDNNRegressor
from .trees import FIGSClassifier, FIGSRegressor, TreeClassifier, TreeRegressor

ZEKAREGRESSOR = {
    "glm": GLMRegressor,
    "gam": GAMRegressor,
    "tree": TreeRegressor,
    "figs": FIGSRegressor,
    "xgb1": XGB1Regressor,
    "xgb2": XGB2Regressor,
    "ebm": EBMRegressor,
    "gaminet": GAMINetRegressor,
    "reludnn": ReluDNNRegressor,
}

ZEKACLASSIFIER = {
    "glm": GLMClassifier,
    "gam": GAMClassifier,
    "tree": TreeClassifier,
    "figs": FIGSClassifier,
    "xgb1": XGB1Classifier,
    "xgb2": XGB2Classifier,
    "ebm": EBMClassifier,
    "gaminet": GAMINetClassifier,
    "reludnn": ReluDNNClassifier,
}


def get_model_name(estimator):
    """Catalogue key of the family ``estimator`` belongs to, else "arbitrary"."""
    for catalogue in (ZEKAREGRESSOR, ZEKACLASSIFIER):
        for key, cls in catalogue.items():
            if isinstance(estimator, cls):
                return key
    return "arbitrary"


__all__ = [
    "ZEKAREGRESSOR",
    "ZEKACLASSIFIER",
    "get_model_name",
] + sorted({cls.__name__ for cls in list(ZEKAREGRESSOR.values()) + list(ZEKACLASSIFIER.values())})
