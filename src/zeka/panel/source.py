"""What the panel is opened on: a built-in dataset by name, or a frame and its target.

Every check returns a message for the panel instead of raising, so a bad target
leaves the panel open and working: the user picks another target there.
"""

import numpy as np
import pandas as pd
from pandas.api.types import is_bool_dtype, is_numeric_dtype

TASKS = ("classification", "regression")


class PanelInputError(ValueError):
    """Input the panel cannot open: the message says what to pass instead."""


def resolve(data, target=None, task=None):
    """(frame, target, name, task) of the panel's input; the frame is the user's own object."""
    from zeka.data.datasets.registry import DATASET_SOURCES

    if task is not None and task not in TASKS:
        raise PanelInputError(
            "task must be 'classification', 'regression' or None (inferred), not {!r}".format(task)
        )
    if isinstance(data, str):
        if data not in DATASET_SOURCES:
            raise PanelInputError(
                "unknown dataset {!r}; the built-in datasets are {}".format(
                    data, ", ".join(DATASET_SOURCES)
                )
            )
        source = DATASET_SOURCES[data]
        frame = source.build()
        if target is None:
            target = source.target
            task = task or source.task_type
        return frame, target, data, task
    if not isinstance(data, pd.DataFrame):
        raise PanelInputError(
            "data must be a pandas DataFrame or the name of a built-in dataset, not {}".format(
                type(data).__name__
            )
        )
    if data.shape[1] == 0:
        raise PanelInputError("the frame has no columns")
    return data, target, "the data frame", task


def infer_task(values):
    """The task a target suggests: two values, or text, is classification."""
    numeric = is_numeric_dtype(values) and not is_bool_dtype(values)
    return "classification" if values.nunique() == 2 or not numeric else "regression"


def target_problem(frame, target, task):
    """Why `target` cannot be learned with `task` (None: inferred), or None when it can."""
    if target is None:
        return "choose the target column (the column to predict) in the Data tab"
    if target not in frame.columns:
        return "the frame has no column {!r}; choose the target among its columns".format(target)
    values = frame[target]
    if isinstance(values, pd.DataFrame):
        return "the frame has several columns labelled {!r}; give each its own name".format(target)
    present = values.dropna()
    if len(present) == 0:
        return "the target {!r} has no values (all missing); choose another column".format(target)
    distinct = present.nunique()
    if distinct < 2:
        return (
            "the target {!r} holds a single value ({!r}); a model needs at least two "
            "classes or values: choose another column".format(target, _plain(present.iloc[0]))
        )
    numeric = is_numeric_dtype(values) and not is_bool_dtype(values)
    if numeric and np.isinf(values.to_numpy(dtype=float, na_value=np.nan)).any():
        return "the target {!r} holds infinite values; a model needs finite targets".format(target)
    task = task or infer_task(present)
    if task == "regression" and not numeric:
        return "the target {!r} is not numeric, so the task cannot be regression".format(target)
    if task == "classification" and distinct != 2:
        return (
            "the target {!r} has {} distinct values; classification here is binary (two "
            "classes): choose the task regression or another target".format(target, distinct)
        )
    if len(frame.columns) < 2:
        return "the frame has no feature column besides the target {!r}".format(target)
    return None


def _plain(value):
    return value.item() if isinstance(value, np.generic) else value
