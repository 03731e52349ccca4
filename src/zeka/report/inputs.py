"""Reading the user's input for the report and making it model-ready.

Everything here either returns a value or raises :class:`ReportInputError`
with a one-line message that says what is wrong and what to do; the command
line turns that into exit status 2.
"""

import os
import warnings
from dataclasses import dataclass, field

import numpy as np
import pandas as pd
from pandas.api.types import is_bool_dtype, is_numeric_dtype, is_object_dtype, is_string_dtype

from zeka.data.datasets.registry import DATASET_SOURCES

# A text column is taken as numbers stored as text when at least this share
# of its present values reads as a number; the rest become missing.
NUMERIC_TEXT_SHARE = 0.9
# Fewer rows than this leave too little for a train/test split and the scores.
MIN_ROWS = 20
# The modelling steps train nine families and explain the best one: beyond this
# many features they would take long, so a wide table keeps the features most
# associated with the target and the report says which were left out.
MAX_MODEL_FEATURES = 50


class ReportInputError(Exception):
    """Bad input for the report: the message is one line for the user."""


@dataclass
class Source:
    """The table as loaded, its target and where it came from."""

    frame: pd.DataFrame
    target: str
    name: str
    task_type: object = None  # "regression", "classification" or None to infer
    # For Parquet input (zeka.report.parquet.Distributed): all rows on Dask;
    # `frame` is then the seeded sample the modelling steps use.
    distributed: object = None


@dataclass
class Preparation:
    """The frame the modelling steps use, and what was left out and why."""

    frame: pd.DataFrame
    rows_loaded: int
    missing_target_rows: int = 0
    duplicated_rows: int = 0
    single_valued_columns: list = field(default_factory=list)
    numeric_text_columns: dict = field(default_factory=dict)  # name -> values made missing
    screened_out: list = field(default_factory=list)  # features beyond MAX_MODEL_FEATURES

    @property
    def rows_used(self):
        return len(self.frame)


def load_builtin(name):
    """The built-in dataset `name` as loaded, with its target and task type."""
    if name not in DATASET_SOURCES:
        raise ReportInputError(
            "unknown dataset {!r}; choose one of {}".format(name, ", ".join(DATASET_SOURCES))
        )
    source = DATASET_SOURCES[name]
    return Source(source.build(), source.target, name, source.task_type)


def load_csv(path, target, task_type=None):
    """A CSV file with a header row, and the name of its target column."""
    shown = os.fspath(path)
    if not os.path.exists(path):
        raise ReportInputError("no such file {!r}; give the path of a CSV file".format(shown))
    if os.path.isdir(path):
        raise ReportInputError("{!r} is a folder; give the path of a CSV file".format(shown))
    try:
        frame = pd.read_csv(path)
    except pd.errors.EmptyDataError:
        raise ReportInputError(
            "{!r} is empty; give a CSV file with a header row and data".format(shown)
        ) from None
    except (pd.errors.ParserError, UnicodeDecodeError, ValueError) as error:
        first_line = (
            str(error).strip().splitlines()[0] if str(error).strip() else type(error).__name__
        )
        raise ReportInputError(
            "{!r} does not parse as CSV ({}); check the delimiter and the encoding (UTF-8)".format(
                shown, first_line
            )
        ) from None
    except OSError as error:
        raise ReportInputError(
            "cannot read {!r}: {}".format(shown, error.strerror or error)
        ) from None
    if target not in frame.columns:
        columns = ", ".join(map(str, frame.columns[:12])) + (", ..." if frame.shape[1] > 12 else "")
        raise ReportInputError(
            "the CSV has no column {!r}; its columns are {}; pick one with --target".format(
                target, columns
            )
        )
    return Source(frame, target, os.path.basename(shown), task_type)


def _reads_as_numbers(column):
    """The column as numbers when it is text that mostly reads as numbers, else None."""
    if not (is_object_dtype(column) or is_string_dtype(column)) or is_numeric_dtype(column):
        return None
    present = column.dropna()
    if len(present) == 0:
        return None
    numbers = pd.to_numeric(present.astype(str).str.strip(), errors="coerce")
    if numbers.notna().mean() < NUMERIC_TEXT_SHARE:
        return None
    converted = pd.Series(float("nan"), index=column.index, dtype=float)
    converted.loc[present.index] = numbers.to_numpy(dtype=float)
    return converted


def as_typed(value):
    """A value as a user would have typed it: 1 and 'yes', not np.int64(1)."""
    if isinstance(value, np.generic):
        value = value.item()
    return repr(value) if isinstance(value, str) else str(value)


def check_target(frame, target, task_type):
    """Refuse a target no model can learn from before any time is spent."""
    values = frame[target]
    if values.notna().sum() == 0:
        raise ReportInputError(
            "target {!r} has no values (all missing); pick another column with --target".format(
                target
            )
        )
    distinct = values.dropna().nunique()
    if distinct < 2:
        raise ReportInputError(
            "target {!r} holds a single value ({}); a model needs at "
            "least two classes or values".format(target, as_typed(values.dropna().iloc[0]))
        )
    if is_numeric_dtype(values) and not is_bool_dtype(values):
        infinite = int(np.isinf(values.to_numpy(dtype=float, na_value=np.nan)).sum())
        if infinite:
            raise ReportInputError(
                "target {!r} holds infinite values ({} of {} rows); a model "
                "needs finite target values".format(target, infinite, len(values))
            )
    if task_type == "regression" and not is_numeric_dtype(values):
        raise ReportInputError(
            "target {!r} is not numeric, so it cannot be a regression "
            "target; drop --task regression".format(target)
        )


def prepare(source):
    """The frame for the modelling steps: what is left out, and why, is recorded."""
    frame = source.frame
    target = source.target
    if not frame.columns.is_unique:
        repeated = frame.columns[frame.columns.duplicated()].tolist()
        raise ReportInputError(
            "the table repeats the column labels {}; give each column its own name".format(repeated)
        )
    check_target(frame, target, source.task_type)
    prep = Preparation(frame=frame, rows_loaded=len(frame))

    keep = frame[target].notna()
    prep.missing_target_rows = int((~keep).sum())
    work = frame.loc[keep]

    duplicated = work.duplicated(keep="first")
    prep.duplicated_rows = int(duplicated.sum())
    work = work.loc[~duplicated]

    features = [c for c in work.columns if c != target]
    prep.single_valued_columns = [c for c in features if work[c].nunique() <= 1]
    work = work.drop(columns=prep.single_valued_columns)

    converted = {}
    for name in work.columns:
        if name == target:
            continue
        numbers = _reads_as_numbers(work[name])
        if numbers is not None:
            converted[name] = numbers
            prep.numeric_text_columns[name] = int((numbers.isna() & work[name].notna()).sum())
    if converted:
        work = work.copy()
        for name, values in converted.items():
            work[name] = values

    prep.screened_out = weakest_features(work, target, MAX_MODEL_FEATURES)
    if prep.screened_out:
        work = work.drop(columns=prep.screened_out)

    if len(work.columns) < 2:
        raise ReportInputError(
            "no feature column is left besides the target {!r} (single-"
            "valued columns are left out); the table needs features".format(target)
        )
    if len(work) < MIN_ROWS:
        raise ReportInputError(
            "only {} usable rows (after dropping duplicates and rows without "
            "a target); the report needs at least {}".format(len(work), MIN_ROWS)
        )
    # Row labels stay those of the loaded table, so a row can be found again.
    prep.frame = work
    return prep


def weakest_features(work, target, keep):
    """The features beyond the `keep` most associated with the target, in column order:
    |Spearman correlation| for a numerical feature, the correlation ratio of the target
    given the categories for another; an undefined association counts as none."""
    features = [c for c in work.columns if c != target]
    if len(features) <= keep:
        return []
    strength = pd.Series(association_with_target(work, target, features), index=features)
    kept = set(strength.fillna(0.0).sort_values(ascending=False, kind="stable").index[:keep])
    return [c for c in features if c not in kept]


def association_with_target(work, target, features):
    from zeka.data.quality_scan.correlation import correlation_ratio

    y = work[target]
    y = (
        y.astype(float)
        if is_numeric_dtype(y)
        else pd.Series(pd.factorize(y)[0], index=y.index, dtype=float)
    )
    numerical = [c for c in features if is_numeric_dtype(work[c])]
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore", RuntimeWarning)  # a constant column: undefined
        spearman = work[numerical].astype(float).corrwith(y, method="spearman").abs()
    strength = {}
    for name in features:
        if name in spearman.index:
            strength[name] = float(spearman[name])
            continue
        codes = pd.factorize(work[name])[0]
        present = codes >= 0
        strength[name] = (
            float(correlation_ratio(codes[present].astype(float), y.to_numpy()[present]))
            if present.sum() > 1
            else float("nan")
        )
    return [strength[name] for name in features]
