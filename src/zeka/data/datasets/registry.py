"""Which builder, target column and task type make each demonstration dataset.

==================  =====  ========  ==============  =========================================
name                rows   features  task            content
==================  =====  ========  ==============  =========================================
SimuCredit_raw      3060   12        classification  simulated loan defaults with integrity
                                                     problems, for the integrity checks
SimuCredit_trim1    3000   11        classification  the same, duplicates, the single-valued
                                                     column and text in "Income" removed
SimuCredit_trim2    3000   11        classification  the same, clean and model-ready
SimuHousing         2000   9         regression      simulated house prices, mixed features
SimuRegression      2000   8         regression      additive terms and three interactions
SimuClassification  3000   8         classification  additive logit
Friedman1           2000   10        regression      make_friedman1, fixed seed
Hastie10            3000   10        classification  make_hastie_10_2, fixed seed, labels 0/1
Diabetes            442    10        regression      scikit-learn's diabetes data, unscaled
BreastCancer        569    30        classification  scikit-learn's breast-cancer data
==================  =====  ========  ==============  =========================================

Every table is generated with a fixed seed or read from scikit-learn's bundled
files; nothing is downloaded.
"""

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
