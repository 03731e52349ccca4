"""Preparation: what the models use, what is left out and why, the split and the preprocessing."""

import numpy as np
import pandas as pd

from zeka.report import document as doc
from zeka.report.inputs import MAX_MODEL_FEATURES, ReportInputError, prepare
from zeka.report.steps.base import Step
from zeka.report.wording import names

SINGLE_VALUED_TREATMENT = "left out: a single value tells the models nothing"


def run(state, section):
    prep = prepare(state.source)
    dataset = modelling_dataset(state, prep)
    state.prep, state.dataset = prep, dataset
    section.add(doc.heading("Rows"))
    section.add(
        doc.table(doc.hide_index_names(rows_table(prep, dataset).style.format(escape="html")))
    )
    section.add(doc.heading("Columns"))
    table = columns_table(state.source.frame, prep, dataset)
    styled = table.style.format(escape="html").format("{:.1%}", subset=["Missing"])
    classes = (
        ""
        if dataset.class_labels is None
        else ", classes " + " / ".join(map(str, dataset.class_labels))
    )
    section.add(
        doc.table(
            doc.hide_index_names(styled),
            caption="Target: {!r} ({}{}).".format(state.source.target, dataset.task_type, classes),
        )
    )
    section.reading = reading(prep, dataset)


def modelling_dataset(state, prep):
    """The dataset object of the prepared frame, or a one-line refusal of the input."""
    from zeka.data.dataset import Dataset

    source = state.source
    try:
        dataset = Dataset(
            prep.frame,
            source.target,
            task_type=source.task_type,
            random_state=state.settings.seed,
            name=source.name,
        )
    except ValueError as error:
        raise ReportInputError(
            "the table cannot be used for modelling: {}".format(str(error).strip().splitlines()[0])
        ) from None
    if dataset.task_type == "classification":
        counts = np.bincount(dataset.train_y, minlength=2)
        if counts.min() < 2:
            raise ReportInputError(
                "the smaller class of target {!r} has too few rows to train and test on".format(
                    source.target
                )
            )
    return dataset


def rows_table(prep, dataset):
    rows = [
        ("Rows loaded", str(prep.rows_loaded), ""),
        (
            "Rows without a target",
            "{} left out".format(prep.missing_target_rows),
            "nothing to learn from",
        ),
        (
            "Duplicated rows",
            "{} left out".format(prep.duplicated_rows),
            "a repeated row would count twice and could sit in both splits",
        ),
        (
            "Rows used",
            str(prep.rows_used),
            "{} for training, {} for testing ({})".format(
                len(dataset.train_index),
                len(dataset.test_index),
                "stratified by the target" if dataset.task_type == "classification" else "random",
            ),
        ),
    ]
    steps = pd.DataFrame(rows, columns=["Step", "Rows", "Why"]).set_index("Step")
    steps.columns.name = "Step"  # shown in the corner cell, above the row labels
    return steps


def columns_table(loaded, prep, dataset):
    """One row per feature the models use, then one per single-valued column left out."""
    features = pd.DataFrame(
        {
            "Type": dataset.feature_types,
            "Missing": [float(prep.frame[c].isna().mean()) for c in dataset.feature_names],
            "Distinct values": [int(prep.frame[c].nunique()) for c in dataset.feature_names],
            "Treatment": [
                treatment(prep, c, t) for c, t in zip(dataset.feature_names, dataset.feature_types)
            ],
        },
        index=pd.Index(dataset.feature_names, name="Feature"),
    )
    single = prep.single_valued_columns[:MAX_MODEL_FEATURES]  # the reading counts them all
    dropped = pd.DataFrame(
        {
            "Type": "left out",
            "Missing": [float(loaded[c].isna().mean()) for c in single],
            "Distinct values": [int(loaded[c].nunique()) for c in single],
            "Treatment": SINGLE_VALUED_TREATMENT,
        },
        index=pd.Index(single, name="Feature"),
    )
    table = pd.concat([features, dropped]) if len(dropped) else features
    table.columns.name = "Feature"
    return table


def treatment(prep, name, kind):
    if kind == "categorical":
        text = "missing as the most frequent category; ordinal codes"
    else:
        text = "missing as the median; standardised"
    if name in prep.numeric_text_columns:
        text = (
            "numbers stored as text made numeric ({} words became missing); ".format(
                prep.numeric_text_columns[name]
            )
            + text
        )
    return text


def reading(prep, dataset):
    parts = [
        "The modelling steps use {} of the {} rows loaded and {} features.".format(
            prep.rows_used, prep.rows_loaded, len(dataset.feature_names)
        )
    ]
    left = []
    if prep.duplicated_rows:
        left.append("{} duplicated rows".format(prep.duplicated_rows))
    if prep.missing_target_rows:
        left.append("{} rows without a target".format(prep.missing_target_rows))
    if prep.single_valued_columns:
        left.append(
            "the single-valued column{} {}".format(
                "s" if len(prep.single_valued_columns) > 1 else "",
                names(prep.single_valued_columns),
            )
        )
    if left:
        parts.append("Left out: {}.".format("; ".join(left)))
    elif not prep.screened_out:
        parts.append("Nothing was left out.")
    if prep.screened_out:
        parts.append(
            "The table has {} features, more than the {} the modelling steps take: "
            "they use the {} most associated with the target (the absolute Spearman "
            "correlation, or for a categorical feature the correlation ratio of the "
            "target given its categories) and leave out the other {} ({}).".format(
                len(dataset.feature_names) + len(prep.screened_out),
                MAX_MODEL_FEATURES,
                len(dataset.feature_names),
                len(prep.screened_out),
                names(prep.screened_out),
            )
        )
    for name, lost in prep.numeric_text_columns.items():
        parts.append(
            "{} held numbers stored as text; it was made numeric and its {} "
            "non-numeric values count as missing.".format(name, lost)
        )
    parts.append(
        "The rows are split {:.0%} for training and {:.0%} for testing (seed {}); "
        "the preprocessing is fitted on the training rows only: numerical features "
        "are standardised, categorical ones coded as ordinal integers, and gaps are "
        "filled with the median or the most frequent category.".format(
            1 - dataset.test_ratio, dataset.test_ratio, dataset.random_state
        )
    )
    return " ".join(parts)


STEP = Step("preparation", "Preparation", run)
