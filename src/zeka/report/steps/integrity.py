"""Data integrity of the table as loaded: per-column checks, duplicated rows, associations."""

import numpy as np

from zeka.report import document as doc
from zeka.report.steps.base import Step, load_attribute
from zeka.report.styling import plain_number
from zeka.report.wording import names, pct

# Columns of the single-column check's table (a two-level header) that the reading uses.
SINGLE_VALUE = ("Is Single Value", "")
NULL_RATIO = ("Null Ratio", "")
MIXED = ("Mixed Data Types", "Mixed")
LONG_STRINGS = ("Long String", "Num")
SPECIAL_ONLY = ("Special Characters", "Ratio")

ASSOCIATION_CAPTION = ("Spearman correlation between numerical columns, symmetric Theil's U "
                       "between categorical ones, correlation ratio between a numerical and a "
                       "categorical one.")


def run(state, section):
    from zeka.data.dataset import infer_feature_type

    check_class = load_attribute("zeka.data.quality_scan.quality_scan", "DataIntegrityCheck")
    frame = state.source.frame
    meta_info = {column: infer_feature_type(frame[column]) for column in frame.columns}
    check = check_class(frame, meta_info)

    section.add(doc.heading("Column by column"))
    scol = check.single_column_check()
    # Same display, with the table's texts (values of the user's data) escaped for HTML.
    section.add(doc.table(scol.format(precision=4, escape="html"), compact=True))
    section.add(doc.heading("Duplicated rows"))
    duplicates = check.duplicated_samples()
    section.add(duplicates_block(duplicates))
    section.add(doc.heading("Association between columns"))
    corr = association_table(check.highly_correlated_features())
    section.add(doc.table(corr, matrix=True, caption=ASSOCIATION_CAPTION))
    section.reading = reading(state, scol.data, duplicates, corr.data)


def association_table(corr):
    """The heat map keeps its colours; narrower cells keep it on a laptop screen, and an
    undefined association (a constant column) shows as a blank, not as a black cell."""
    return corr.format(precision=2, escape="html").set_properties(**{"width": "auto"}).apply(
        lambda frame: frame.isna().replace({True: "background-color: #fff; color: #999",
                                            False: ""}), axis=None)


def duplicates_block(duplicates):
    if isinstance(duplicates, str):
        return doc.paragraph(duplicates)
    if len(duplicates) == 0:
        return doc.paragraph("No row occurs twice.")
    shown = duplicates.head(10).copy()
    shown.index = [", ".join(str(label) for label in labels) for labels in shown.index]
    shown.columns.name = "Rows"
    caption = "{} distinct rows occur more than once{}; the row labels show where.".format(
        len(duplicates), " (the first 10 are shown)" if len(duplicates) > 10 else "")
    return doc.table(doc.hide_index_names(shown.style.format(plain_number, escape="html")),
                     caption=caption, compact=True)


def flagged_columns(scol):
    """The columns each single-column check flags, read by the table's labels."""
    return {
        "single": [c for c, flag in scol[SINGLE_VALUE].items() if bool(flag)],
        "nulls": scol[NULL_RATIO].astype(float),
        "mixed": [c for c, flag in scol[MIXED].items() if bool(flag)],
        "long": [c for c, n in scol[LONG_STRINGS].items() if n and int(n) > 0],
        "special": [c for c, r in scol[SPECIAL_ONLY].items() if float(r) > 0],
    }


def reading(state, scol, duplicates, corr):
    frame = state.source.frame
    found = flagged_columns(scol)
    single, nulls, mixed = found["single"], found["nulls"], found["mixed"]
    long_cols, special = found["long"], found["special"]
    parts = ["The table as loaded has {} rows and {} columns.".format(*frame.shape)]
    if single:
        parts.append("{} column{} a single value ({}).".format(
            len(single), "s hold" if len(single) != 1 else " holds", names(single)))
    else:
        parts.append("No column holds a single value.")
    if (nulls > 0).any():
        worst = nulls.idxmax()
        parts.append("{} column{} missing values, most in {} ({}).".format(
            int((nulls > 0).sum()), "s have" if (nulls > 0).sum() != 1 else " has",
            worst, pct(nulls.max())))
    else:
        parts.append("No value is missing.")
    if mixed:
        parts.append("{} mix{} numbers with text.".format(
            names(mixed), "" if len(mixed) > 1 else "es"))
    if long_cols:
        parts.append("Unusually long strings appear in {}.".format(names(long_cols)))
    if special:
        parts.append("Values made only of special characters appear in {}.".format(
            names(special)))
    if isinstance(duplicates, str) or len(duplicates) == 0:
        parts.append("No row is duplicated.")
    else:
        copies = sum(len(labels) - 1 for labels in duplicates.index)
        parts.append("{} rows repeat an earlier row.".format(copies))
    pair = strongest_pair(corr)
    if pair is not None:
        parts.append("The strongest association between two columns is {} and {} "
                     "({:.2f}).".format(*pair))
    flagged = (set(single) | set(mixed) | set(long_cols) | set(special)
               | set(nulls.index[nulls > 0]))
    state.findings["integrity"] = "{} / {}".format(len(flagged), frame.shape[1])
    return " ".join(parts)


def strongest_pair(corr):
    """The two columns with the strongest association, and its value; None when there is none."""
    values = corr.to_numpy(dtype=float, copy=True)
    if values.size == 0:
        return None
    np.fill_diagonal(values, np.nan)
    if np.all(np.isnan(values)):
        return None
    i, j = np.unravel_index(np.nanargmax(np.abs(values)), values.shape)
    return corr.index[i], corr.columns[j], values[i, j]


STEP = Step("integrity", "Data integrity", run)
