"""The model families the report trains, and the metric it ranks them by.

The one place the report lists the families: the command line's choices and
its default come from here. When the package's registry of model families
(zeka.models) is in place, MODEL_FAMILIES is to be read from it, here and
nowhere else.
"""

MODEL_FAMILIES = ["glm", "gam", "tree", "figs", "xgb1", "xgb2", "ebm", "gaminet", "reludnn"]

# The leaderboard's rank metric for each task type.
MAIN_METRIC = {"classification": "AUC", "regression": "MSE"}
