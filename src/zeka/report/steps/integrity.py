"""Data integrity of the table as loaded: per-column checks, duplicated rows, associations."""

import numpy as np
import pandas as pd

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

# A wide table's displays: the heat map over at most this many columns, the
# strongest pairs, and the per-column table's rows at most.
MATRIX_COLUMNS = 30
PAIRS_SHOWN = 20
COLUMN_ROWS = 60

ASSOCIATION_CAPTION = (
    "Spearman correlation between numerical columns, symmetric Theil's U "
    "between categorical ones, correlation ratio between a numerical and a "
    "categorical one."
)


def run(state, section):
    from zeka.data.dataset import infer_feature_type

    frame = state.source.frame
    meta_info = {column: infer_feature_type(frame[column]) for column in frame.columns}
    spread = state.source.distributed
    if spread is None:
        check_class = load_attribute("zeka.data.quality_scan.quality_scan", "DataIntegrityCheck")
        check = check_class(frame, meta_info)
    else:
        # every row, on the cluster; the column kinds are read from the sample
        check_class = load_attribute(
            "zeka.data.quality_scan.distributed", "DistributedIntegrityCheck"
        )
        check = check_class(spread.frame, meta_info, client=spread.client)
        section.add(
            doc.paragraph(
                "These checks ran on all {:,} rows, on {}.".format(spread.rows, spread.where),
                "note",
            )
        )

    section.add(doc.heading("Column by column"))
    scol = check.single_column_check()
    section.add(column_table(scol))
    section.add(doc.heading("Duplicated rows"))
    duplicates = check.duplicated_samples()
    section.add(duplicates_block(duplicates))
    section.add(doc.heading("Association between columns"))
    corr = check.highly_correlated_features()
    for block in association_blocks(corr, meta_info):
        section.add(block)
    section.reading = reading(state, scol.data, duplicates, corr.data)


def column_table(scol):
    """The single-column checks' table, with its texts (values of the user's data) escaped
    for HTML; of a wide table, the columns a check flags come first, up to COLUMN_ROWS."""
    table = scol.data
    if len(table) <= COLUMN_ROWS:
        return doc.table(scol.format(precision=4, escape="html"), compact=True)
    found = flagged_columns(table)
    flagged = (
        set(found["single"])
        | set(found["mixed"])
        | set(found["long"])
        | set(found["special"])
        | set(found["nulls"].index[found["nulls"] > 0])
    )
    order = [c for c in table.index if c in flagged] + [c for c in table.index if c not in flagged]
    shown = table.loc[order[:COLUMN_ROWS]].style.use(scol.export())
    caption = "{} of the {} columns are shown: {}. The checks ran on every column.".format(
        COLUMN_ROWS,
        len(table),
        "the first {} a check flags".format(COLUMN_ROWS)
        if len(flagged) >= COLUMN_ROWS
        else "the {} a check flags, then the first {} that pass every check".format(
            len(flagged), COLUMN_ROWS - len(flagged)
        ),
    )
    return doc.table(shown.format(precision=4, escape="html"), caption=caption, compact=True)


def association_blocks(corr, meta_info):
    """The heat map of every pair or, for a wide table, of the columns with the strongest
    associations, followed by a table of the strongest pairs."""
    values = corr.data
    if values.shape[1] <= MATRIX_COLUMNS:
        return [doc.table(association_table(corr), matrix=True, caption=ASSOCIATION_CAPTION)]
    strength = off_diagonal_abs(values)
    columns = column_order_by_strength(values, strength)[:MATRIX_COLUMNS]
    columns = [c for c in values.columns if c in set(columns)]
    heat_map = square_block(corr, columns)
    caption = (
        "{} The association of every pair of the {} columns was computed; the heat map "
        "shows the {} columns with the strongest association to another column, the "
        "table below the {} strongest pairs.".format(
            ASSOCIATION_CAPTION, values.shape[1], MATRIX_COLUMNS, PAIRS_SHOWN
        )
    )
    pairs = strongest_pairs(values, strength, meta_info, PAIRS_SHOWN)
    return [
        doc.table(association_table(heat_map), matrix=True, caption=caption),
        doc.table(
            doc.hide_index_names(pairs.style.format(precision=2, escape="html")),
            caption="The strongest associations between two columns.",
            compact=True,
        ),
    ]


def square_block(styler, columns):
    """The styler's styling on the square block of `columns`. An exported styling keeps the
    column masks it was built with (the numerical columns a gradient covers), taken over the
    whole table's columns: they are cut to the block's."""
    positions = styler.data.columns.get_indexer(columns)
    width = styler.data.shape[1]
    styles = styler.export()
    styles["apply"] = [
        (function, cut_mask(args, positions, width), kwargs)
        for function, args, kwargs in styles["apply"]
    ]
    return styler.data.loc[columns, columns].style.use(styles)


def cut_mask(args, positions, width):
    args = list(args)
    for k, arg in enumerate(args):
        if isinstance(arg, np.ndarray) and arg.dtype == bool and arg.shape == (width,):
            args[k] = arg[positions]
    return tuple(args)


def off_diagonal_abs(values):
    """|association| of every pair once (the upper triangle), NaN elsewhere."""
    strength = np.abs(values.to_numpy(dtype=float))
    strength[np.tril_indices_from(strength)] = np.nan
    return strength


def column_order_by_strength(values, strength):
    """Columns by their strongest association with another column, strongest first."""
    with np.errstate(invalid="ignore"):
        best = np.fmax(np.fmax.reduce(strength, axis=0), np.fmax.reduce(strength, axis=1))
    best = np.where(np.isnan(best), -1.0, best)
    return [values.columns[i] for i in np.argsort(-best, kind="stable")]


MEASURES = {("numerical", "numerical"): "Spearman", ("categorical", "categorical"): "Theil's U"}


def strongest_pairs(values, strength, meta_info, count):
    flat = np.where(np.isnan(strength), -1.0, strength).ravel()
    count = min(count, int((flat >= 0).sum()))
    top = np.argpartition(-flat, count - 1)[:count] if count else np.array([], dtype=int)
    top = top[np.argsort(-flat[top], kind="stable")]
    rows = []
    for i, j in zip(*np.unravel_index(top, strength.shape)):
        first, second = values.index[i], values.columns[j]
        kinds = (meta_info.get(first), meta_info.get(second))
        rows.append(
            (first, second, float(values.iloc[i, j]), MEASURES.get(kinds, "correlation ratio"))
        )
    table = pd.DataFrame(rows, columns=["Column", "Other column", "Association", "Measure"])
    table.index = range(1, len(table) + 1)
    return table


def association_table(corr):
    """The heat map keeps its colours; narrower cells keep it on a laptop screen, and an
    undefined association (a constant column) shows as a blank, not as a black cell."""
    return (
        corr.format(precision=2, escape="html")
        .set_properties(**{"width": "auto"})
        .apply(
            lambda frame: frame.isna().replace(
                {True: "background-color: #fff; color: #999", False: ""}
            ),
            axis=None,
        )
    )


def duplicates_block(duplicates):
    if isinstance(duplicates, str):
        return doc.paragraph(duplicates)
    if len(duplicates) == 0:
        return doc.paragraph("No row occurs twice.")
    shown = duplicates.head(10).copy()
    shown.index = [", ".join(str(label) for label in labels) for labels in shown.index]
    shown.columns.name = "Rows"
    caption = "{} distinct rows occur more than once{}; the row labels show where.".format(
        len(duplicates), " (the first 10 are shown)" if len(duplicates) > 10 else ""
    )
    return doc.table(
        doc.hide_index_names(shown.style.format(plain_number, escape="html")),
        caption=caption,
        compact=True,
    )


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
    spread = state.source.distributed
    found = flagged_columns(scol)
    single, nulls, mixed = found["single"], found["nulls"], found["mixed"]
    long_cols, special = found["long"], found["special"]
    rows = frame.shape[0] if spread is None else spread.rows
    parts = ["The table as loaded has {} rows and {} columns.".format(rows, frame.shape[1])]
    if single:
        parts.append(
            "{} column{} a single value ({}).".format(
                len(single), "s hold" if len(single) != 1 else " holds", names(single)
            )
        )
    else:
        parts.append("No column holds a single value.")
    if (nulls > 0).any():
        worst = nulls.idxmax()
        parts.append(
            "{} column{} missing values, most in {} ({}).".format(
                int((nulls > 0).sum()),
                "s have" if (nulls > 0).sum() != 1 else " has",
                worst,
                pct(nulls.max()),
            )
        )
    else:
        parts.append("No value is missing.")
    if mixed:
        parts.append(
            "{} mix{} numbers with text.".format(names(mixed), "" if len(mixed) > 1 else "es")
        )
    if long_cols:
        parts.append("Unusually long strings appear in {}.".format(names(long_cols)))
    if special:
        parts.append("Values made only of special characters appear in {}.".format(names(special)))
    if isinstance(duplicates, str) or len(duplicates) == 0:
        parts.append("No row is duplicated.")
    else:
        copies = sum(len(labels) - 1 for labels in duplicates.index)
        parts.append("{} rows repeat an earlier row.".format(copies))
    pair = strongest_pair(corr)
    if pair is not None:
        parts.append(
            "The strongest association between two columns is {} and {} ({:.2f}).".format(*pair)
        )
    flagged = set(single) | set(mixed) | set(long_cols) | set(special) | set(nulls.index[nulls > 0])
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
