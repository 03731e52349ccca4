"""The model families the report trains, and the metric it ranks them by.

The command line's choices and its default come from here, and the families
themselves from the package's registry (zeka.models).
"""

from zeka.models import FAMILY_KEYS

MODEL_FAMILIES = list(FAMILY_KEYS)

# The leaderboard's rank metric for each task type.
MAIN_METRIC = {"classification": "AUC", "regression": "MSE"}
