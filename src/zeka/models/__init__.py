"""Model catalogue: the nine interpretable model families, for regression and classification.

``FAMILIES`` is the registry of the families, in catalogue order: each family's key (the
name the hyper-parameter tables and the training workflow use), display name and two
estimator classes, written once. Everything else is derived from it: ``FAMILY_KEYS``, and
the catalogues ``ZEKAREGRESSOR[key]`` and ``ZEKACLASSIFIER[key]``, estimator classes
following the scikit-learn protocol whose keyword arguments are the parameter keys of the
family's hyper-parameter table, with the table defaults as defaults. ``get_model_name``
tells which family an estimator belongs to, or "arbitrary" for any other estimator.
"""

from typing import NamedTuple

from .boosting import XGB1Classifier, XGB1Regressor, XGB2Classifier, XGB2Regressor
from .ebm import EBMClassifier, EBMRegressor
from .gaminet import GAMINetClassifier, GAMINetRegressor
from .linear import GAMClassifier, GAMRegressor, GLMClassifier, GLMRegressor
from .reludnn import ReluDNNClassifier, ReluDNNRegressor
from .trees import FIGSClassifier, FIGSRegressor, TreeClassifier, TreeRegressor


class Family(NamedTuple):
    key: str
    display_name: str
    regressor: type
    classifier: type


FAMILIES = (
    Family("glm", "GLM", GLMRegressor, GLMClassifier),
    Family("gam", "GAM", GAMRegressor, GAMClassifier),
    Family("tree", "Tree", TreeRegressor, TreeClassifier),
    Family("figs", "FIGS", FIGSRegressor, FIGSClassifier),
    Family("xgb1", "XGB1", XGB1Regressor, XGB1Classifier),
    Family("xgb2", "XGB2", XGB2Regressor, XGB2Classifier),
    Family("ebm", "EBM", EBMRegressor, EBMClassifier),
    Family("gaminet", "GAMI-Net", GAMINetRegressor, GAMINetClassifier),
    Family("reludnn", "ReLU-DNN", ReluDNNRegressor, ReluDNNClassifier),
)

FAMILY_KEYS = tuple(family.key for family in FAMILIES)

ZEKAREGRESSOR = {family.key: family.regressor for family in FAMILIES}

ZEKACLASSIFIER = {family.key: family.classifier for family in FAMILIES}


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
    "FAMILIES",
    "FAMILY_KEYS",
    "Family",
] + sorted({cls.__name__ for family in FAMILIES for cls in family[2:]})
