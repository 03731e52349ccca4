"""Outliers: a detector on the training covariates (by default a one-class SVM), its most
outlying rows and scores."""

import numpy as np

from zeka.report import document as doc
from zeka.report.steps.base import Step, load_attribute
from zeka.report.styling import plain_number
from zeka.report.wording import pct

NU = 0.05  # the detector's bound on the share of rows outside its support
ROWS_SHOWN = 10
# the outlier-detection methods, in the order of their parameter table
METHODS = ("if", "cb", "pca", "cbtree", "knn", "hbos", "novelty", "ecod")
# the other detectors flag the rows above this quantile of the training scores
THRESHOLD = 0.9
DESCRIPTIONS = {
    "if": "An isolation forest (rows that random cuts isolate quickly score high)",
    "cb": "A cluster-based local outlier factor (distance to the nearest large K-means cluster)",
    "pca": "Principal-component scores (Mahalanobis distance in the components that explain "
    "90% of the variance)",
    "cbtree": "A shallow tree that splits where the distributions differ most (small leaves "
    "far from the rest score high)",
    "knn": "The mean distance to the 5 nearest neighbours",
    "hbos": "A histogram-based outlier score (rows in sparse bins of their features score high)",
    "ecod": "An empirical-distribution outlier score (rows in the far tails of their features "
    "score high)",
}


def run(state, section):
    state.require_dataset()
    method = getattr(state.settings, "outliers", "novelty")
    if method != "novelty":
        return run_detector(state, section, method)
    detector_class = load_attribute("zeka.data.outlier_detection.novelty", "OneClassSVM")
    dataset = state.dataset
    detector = detector_class(nu=NU, standardization=True)
    detector.fit(dataset.train_x)
    scores = np.asarray(detector.score, dtype=float)
    outside = scores > 0
    top = most_outlying_rows(dataset, scores)
    add_top_rows(
        section,
        top,
        "Row labels and raw values as loaded; a larger score lies further outside the "
        "region the one-class SVM learned.",
    )
    section.add(
        doc.figure(
            score_histogram(scores),
            alt="Histogram of outlier scores",
            caption="Outlier scores of the training rows; rows right of the "
            "dashed line lie outside the learned support.",
        )
    )
    state.findings["outliers"] = float(outside.mean())
    section.reading = (
        "A one-class SVM (nu = {}, covariates standardised) learned where the {} training rows "
        "lie. {} rows ({}) fall outside that region. nu bounds this share from above, so "
        "a share near {} is expected even without real outliers; look at the rows below, "
        "led by row {}, for values that are unusual together.".format(
            NU, len(scores), int(outside.sum()), pct(outside.mean()), pct(NU), top.index[0]
        )
    )


def add_top_rows(section, top, caption):
    """The table of the most outlying training rows, their scores shaded."""
    section.add(doc.heading("The most outlying training rows"))
    styled = (
        top.style.format(plain_number, na_rep="missing", escape="html")
        .format("{:.3f}", subset=["Outlier score"])
        .background_gradient(subset=["Outlier score"], cmap="Oranges")
    )
    section.add(doc.table(doc.hide_index_names(styled), compact=True, caption=caption))


def run_detector(state, section, method):
    """The section for a detector of the table other than the one-class SVM: its default
    parameters, covariates standardised, the top tenth of the training rows flagged."""
    detector_class = load_attribute("zeka.data.outlier_detection", "DETECTORS")[method]
    dataset = state.dataset
    detector = detector_class(standardization=True)
    detector.fit(dataset.train_x)
    scores = np.asarray(detector.score, dtype=float)
    cut = float(np.quantile(scores, THRESHOLD))
    flagged = detector.predict(threshold=THRESHOLD) == -1
    top = most_outlying_rows(dataset, scores)
    add_top_rows(
        section,
        top,
        "Row labels and raw values as loaded; a larger score is more outlying "
        '(method "{}").'.format(method),
    )
    section.add(
        doc.figure(
            score_histogram(scores, cut),
            alt="Histogram of outlier scores",
            caption="Outlier scores of the training rows; rows right of the dashed line "
            "(the {:.0f}% quantile) are flagged.".format(100 * THRESHOLD),
        )
    )
    state.findings["outliers"] = float(flagged.mean())
    section.reading = (
        '{} (method "{}", its default parameters, covariates standardised) scored the {} '
        "training rows. The {} rows ({}) above the {:.0f}% quantile of the scores are flagged: "
        "this share is set by the quantile, not found in the data, so read the scores and the "
        "rows below, led by row {}, for values that are unusual together.".format(
            DESCRIPTIONS[method],
            method,
            len(scores),
            int(flagged.sum()),
            pct(flagged.mean()),
            100 * THRESHOLD,
            top.index[0],
        )
    )


def most_outlying_rows(dataset, scores):
    """The raw training rows with the highest scores, the score in front."""
    order = np.argsort(-scores, kind="stable")[:ROWS_SHOWN]
    raw, _, _ = dataset.get_raw_data(train=True)
    top = raw.iloc[order].copy()
    top.insert(0, "Outlier score", scores[order])
    top.columns.name = "Row"
    return top


def score_histogram(scores, cut=0.0):
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(7, 2.6))
    ax.hist(scores, bins=40, color="#2f5d9a")
    ax.axvline(cut, color="#9a4a00", linestyle="--")
    ax.set_xlabel("outlier score")
    ax.set_ylabel("rows")
    return fig


STEP = Step("outliers", "Outliers", run, after=("preparation",))
