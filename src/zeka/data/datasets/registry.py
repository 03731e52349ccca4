"""Which builder, target column and task type make each demonstration dataset."""

from collections import namedtuple

from zeka.data.datasets import bundled, credit, simulated

DatasetSource = namedtuple("DatasetSource", ["build", "target", "task_type"])
DatasetSource.__doc__ = """How to make one demonstration dataset.

build: a function of no arguments returning a new DataFrame (features and target);
target: the name of the target column; task_type: "regression" or "classification".
"""

DATASET_SOURCES = {
    "SimuCredit_raw": DatasetSource(credit.credit_raw, credit.TARGET, "classification"),
    "SimuCredit_trim1": DatasetSource(credit.credit_trim1, credit.TARGET, "classification"),
    "SimuCredit_trim2": DatasetSource(credit.credit_trim2, credit.TARGET, "classification"),
    "SimuHousing": DatasetSource(simulated.housing, "Price", "regression"),
    "SimuRegression": DatasetSource(simulated.regression, "y", "regression"),
    "SimuClassification": DatasetSource(simulated.classification, "y", "classification"),
    "Friedman1": DatasetSource(bundled.friedman1, "y", "regression"),
    "Hastie10": DatasetSource(bundled.hastie10, "y", "classification"),
    "Diabetes": DatasetSource(bundled.diabetes, "target", "regression"),
    "BreastCancer": DatasetSource(bundled.breast_cancer, "target", "classification"),
}
