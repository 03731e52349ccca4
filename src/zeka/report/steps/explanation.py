"""Explanation of the best model with SHAP: global importance, dependence and one row."""

import numpy as np

from zeka.report import document as doc
from zeka.report.steps import own_views
from zeka.report.steps.base import Step, load_attribute
from zeka.report.units import original_units
from zeka.report.wording import names as name_list

MAX_SHOWN = 12  # features in the bar and beeswarm plots


def run(state, section):
    state.require_dataset()
    explainer_class = load_attribute("zeka.explainer.shap", "SHAP")
    pipeline = state.require_best()
    dataset = state.dataset
    names = list(dataset.feature_names)
    train_x, _, _ = pipeline.get_data(train=True)
    test_x, _, _ = pipeline.get_data(test=True)
    explainer = explainer_class(
        pipeline.estimator,
        feature_names=names,
        masker_sample_size=state.settings.background_rows,
        sample_size=state.settings.explain_rows,
        random_state=state.settings.seed,
    )
    explainer.fit(np.asarray(train_x, dtype=float))
    global_result = explainer.global_explain_data()
    values = global_result.value["shap_values"]
    importance = np.abs(np.asarray(values.values, dtype=float)).mean(axis=0)
    top = names[int(np.argmax(importance))]
    row = row_to_explain(pipeline.estimator, test_x)
    local_result = explainer.local_explain_data(np.asarray(test_x, dtype=float)[row])
    scatter_result = explainer.get_global_explain(top)

    blocks = figures(
        explainer_class.plot_shap,
        pipeline,
        names,
        top,
        global_result,
        scatter_result,
        local_result,
        row_label=dataset.raw_data.index[dataset.test_index[row]],
    )
    section.add(doc.figures(blocks[:2]))
    section.add(doc.figures(blocks[2:]))
    local_values = np.asarray(local_result.value["shap_values"].values, dtype=float)
    push = names[int(np.argmax(np.abs(local_values)))]
    output = (
        "the predicted probability of class {!r}".format(dataset.class_labels[1])
        if dataset.task_type == "classification"
        else "the prediction"
    )
    order = np.argsort(-importance)
    own = own_views.best_model_views(
        state, section, pipeline, names, np.asarray(test_x, dtype=float)[row], local_values
    )
    others = own_views.other_families(state, section, names)
    section.reading = (
        "SHAP values split each prediction of the best model, {}, into one share per "
        "feature. Over {} training rows the features that move {} most are {}; {} leads. "
        "For the test row shown last, {} moves it most.".format(
            state.best_name,
            len(values.values),
            output,
            name_list([names[i] for i in order[:3]]),
            top,
            push,
        )
    )
    if own is not None and dataset.task_type == "classification":
        # SHAP explains the probability, the model's own terms the log-odds: the two
        # splits differ in scale, so only their order is compared
        section.reading += (
            " The model is additive, so it has its own exact split of that prediction in "
            "log-odds; SHAP's values for the row (in probability) order the features as "
            "the model's own contributions do with a rank correlation of {:.3f}.".format(
                own["rank_correlation"]
            )
        )
    elif own is not None:
        section.reading += (
            " The model is additive, so it has its own exact split of that prediction: "
            "SHAP's values for the row differ from the model's own contributions by at most "
            "{:.3g} (the contributions add up to {:.3g} in absolute value); SHAP centres on "
            "its {}-row background, the model's contributions on all training rows.".format(
                own["largest"], own["spread"], state.settings.background_rows
            )
        )
    if others:
        section.reading += (
            " The other trained model is shown by its own global view."
            if others == 1
            else " Each of the other {} trained models is shown by its own global view.".format(
                others
            )
        )


def figures(plot, pipeline, names, top, global_result, scatter_result, local_result, row_label):
    """Bar and beeswarm of the global explanation, the dependence on `top`, one row's waterfall."""
    shown = min(len(names), MAX_SHOWN)
    return [
        doc.figure(
            plot(global_result, "bar", max_show=shown, figsize=(7, 0.4 * shown + 1.5)),
            alt="Mean absolute SHAP value per feature",
            caption="Global importance: mean |SHAP value| per feature.",
        ),
        doc.figure(
            plot(global_result, "beeswarm", max_show=shown, figsize=(7, 0.4 * shown + 1.5)),
            alt="SHAP values of every explained row per feature",
            caption="Each dot is one row: its SHAP value, coloured by the feature value.",
        ),
        doc.figure(
            plot(
                scatter_result,
                "scatter",
                figsize=(7, 4.2),
                scaler=original_units(pipeline, names, top),
            ),
            alt="SHAP dependence of " + top,
            caption="Dependence on {}, the most important feature.".format(top),
        ),
        doc.figure(
            plot(local_result, "waterfall", figsize=(7, 5)),
            alt="SHAP waterfall of one test row",
            caption="One test row (row {} of the table): how each feature moves the "
            "prediction away from the average.".format(row_label),
        ),
    ]


def row_to_explain(estimator, test_x):
    """The test row with the highest model output: the case a reader asks about first."""
    x = np.asarray(test_x, dtype=float)
    if hasattr(estimator, "predict_proba"):
        output = np.asarray(estimator.predict_proba(x))[:, -1]
    else:
        output = np.asarray(estimator.predict(x), dtype=float).ravel()
    return int(np.argmax(output))


STEP = Step("explanation", "Explanation of the best model", run, after=("models",))
