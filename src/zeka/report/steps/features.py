"""Feature selection: four scores of each feature side by side, with what each selects."""

import numpy as np
import pandas as pd

from zeka.report import document as doc
from zeka.report.steps.base import Step, load_attribute
from zeka.report.wording import names as name_list

# Thresholds of the feature scores (what "selected" means in the table).
PFI_SHARE = 0.9  # best features until their permutation-importance shares reach 90%
COR_MIN = 0.1  # absolute Pearson correlation above 0.1
RIT_P = 0.05  # independence-test p-value below 0.05
DCOR_MIN = 0.1  # distance correlation above 0.1

LABELS = {"pfi": "pfi (share)", "cor": "cor", "rit": "rit (p-value)", "dcor": "dcor"}


def run(state, section):
    state.require_dataset()
    names = list(state.dataset.feature_names)
    columns, selected = scores(state, names)
    table = scores_table(names, columns, selected)
    score_cols = [c for c in table.columns if c[1] == "score"]
    styled = (
        table.style.format(escape="html")
        .format("{:.4f}", subset=score_cols)
        .set_properties(
            subset=[c for c in table.columns if c[1] == "selected"],
            **{"text-align": "center", "color": "#1d6b2f"},
        )
    )
    caption = "Selected (with rank): {}cor |r| > {}, rit p < {}, dcor > {}.".format(
        "pfi: most important features up to {:.0%} of the importance (best model {}, "
        "test rows); ".format(PFI_SHARE, state.best_name)
        if "pfi" in columns
        else "",
        COR_MIN,
        RIT_P,
        DCOR_MIN,
    )
    section.add(doc.table(styled, caption=caption))
    if "pfi" not in columns:
        section.add(doc.paragraph("pfi is missing: it needs a trained model.", css_class="note"))
    state.feature_scores = table
    section.reading = reading(state, names, columns, selected)


def scores(state, names):
    """Each method's scores and the positions it selects, best first; pfi needs the best model."""
    selector_class = load_attribute("zeka.data.variable_screen", "FeatureSelection")
    dataset = state.dataset
    train_x, train_y, _ = dataset.get_data(train=True)
    methods = [("cor", COR_MIN), ("rit", RIT_P), ("dcor", DCOR_MIN)]
    if state.best_name is not None:
        methods.insert(0, ("pfi", PFI_SHARE))
    columns, selected = {}, {}
    for method, threshold in methods:
        if method == "pfi":
            pipeline = state.require_best()
            x, y, _ = pipeline.get_data(test=True)
            estimator = pipeline.estimator
        else:
            x, y, estimator = train_x, train_y, None
        selector = selector_class(
            method=method,
            estimator=estimator,
            threshold=threshold,
            X=np.asarray(x, dtype=float),
            y=np.asarray(y, dtype=float).reshape(-1, 1),
            feature_names=names,
            target_name=str(dataset.target),
            random_state=state.settings.seed,
        )
        method_scores, chosen = selector.variable_screen()
        columns[method] = np.asarray(method_scores, dtype=float)
        selected[method] = [int(i) for i in chosen]
    return columns, selected


def scores_table(names, columns, selected):
    """One row per feature; per method its score and a mark with the rank where it selects."""
    table = pd.DataFrame(index=pd.Index(names, name="Feature"))
    for method, values in columns.items():
        table[(LABELS[method], "score")] = values
        marks = np.full(len(names), "", dtype=object)
        for rank, i in enumerate(selected[method], start=1):
            marks[i] = "\u2713 {}".format(rank)
        table[(LABELS[method], "selected")] = marks
    table.columns = pd.MultiIndex.from_tuples(table.columns, names=[None, "Feature"])
    table.index.name = None
    return table


def reading(state, names, columns, selected):
    counts = ", ".join("{} {}".format(m, len(s)) for m, s in selected.items())
    everywhere = set(range(len(names)))
    for chosen in selected.values():
        everywhere &= set(chosen)
    nowhere = set(range(len(names)))
    for chosen in selected.values():
        nowhere -= set(chosen)
    parts = [
        "Four ways to score how much each of the {} features says about the target: "
        "the drop in the best model's test score when the feature is shuffled (pfi), "
        "the correlation with the target (cor), an independence test (rit) and the "
        "distance correlation, which also sees non-linear links (dcor).".format(len(names))
    ]
    parts.append("Features selected: {}.".format(counts))
    if everywhere:
        parts.append(
            "All scores agree on {}.".format(name_list(names[i] for i in sorted(everywhere)))
        )
    if nowhere:
        parts.append(
            "No score selects {}; they are candidates to leave out.".format(
                name_list(names[i] for i in sorted(nowhere))
            )
        )
    if "pfi" in columns and selected["pfi"]:
        state.findings["top_feature"] = names[selected["pfi"][0]]
    return " ".join(parts)


STEP = Step("features", "Feature selection", run, after=("models",))
