"""Models: every family trained on the training rows and ranked on the test rows."""

import copy
import time

import numpy as np

from zeka.report import document as doc
from zeka.report import params
from zeka.report.families import MAIN_METRIC
from zeka.report.progress import progress_bar
from zeka.report.steps.base import Step
from zeka.report.styling import highlight_row
from zeka.report.wording import names

LOWER_IS_BETTER = ("MSE", "MAE", "LogLoss", "Brier")


def run(state, section):
    state.require_dataset()
    from zeka.workflow.workbench import ModelAPI

    dataset = state.dataset
    api = ModelAPI(
        dataset,
        model_list=list(state.settings.models),
        model_item=parameter_table(dataset, state.settings.seed),
    )
    failures = train_all(state, api)
    if not api.training_record:
        raise RuntimeError(
            "no model family could be trained: "
            + "; ".join("{} ({})".format(n, m) for n, m in failures)
        )
    metric = MAIN_METRIC[dataset.task_type]
    board = api.get_leaderboard(rank_metric=metric)
    state.api, state.leaderboard, state.metric = api, board, metric
    state.best_name = board["Model"].iloc[0]

    shown = board.set_index("Model")
    shown.columns.name = "Model"
    styled = doc.hide_index_names(shown.style.format(escape="html")).apply(
        highlight_row(state.best_name), axis=1
    )
    section.add(
        doc.table(
            styled,
            caption=(
                "Ranked by the test {}; test and training scores of every metric, and the fit time "
                "in seconds.".format(metric)
            ),
        )
    )
    section.add(
        doc.figure(
            leaderboard_figure(board, metric), alt="Test and training {} per model".format(metric)
        )
    )
    if failures:
        section.add(
            doc.paragraph(
                "Not trained: " + "; ".join("{} ({})".format(n, m) for n, m in failures),
                css_class="note",
            )
        )
    section.reading = reading(state, board, metric, failures)


def parameter_table(dataset, seed):
    """The package's parameter tables for this dataset, with the report's seed."""
    from zeka.config.estimator_settings import model_param_items, model_param_specific

    table = model_param_specific(copy.deepcopy(model_param_items), dataset)
    for entries in table.values():
        if "random_state" in entries:
            entries["random_state"] = params.with_default(entries["random_state"], seed)
    return table


def train_all(state, api):
    """Train each family, on the Dask workers when the rows are there; the
    (name, error) of those that failed."""
    spread = getattr(state.source, "distributed", None)
    bar = progress_bar(
        state.settings, total=len(api.model_dict), desc="models", unit="model", leave=False
    )
    try:
        if spread is not None:
            return train_on_workers(state, api, spread.client, bar)
        return train_here(state, api, bar)
    finally:
        bar.close()


def _failure(name, error):
    return (name, "{}: {}".format(type(error).__name__, error))


def train_here(state, api, bar):
    failures = []
    for name, pipeline in api.model_dict.items():
        state.checkpoint()  # a stop a family's training swallowed ends the step here
        bar.set_description("models: " + name)
        try:
            api.singlerun(pipeline, name)
        except Exception as error:  # one family failing does not stop the others
            failures.append(_failure(name, error))
        bar.update(1)
    return failures


def fit_pipeline(pipeline):
    """What ModelAPI.singlerun does before scoring, on a worker: the fitted
    pipeline and the seconds that fetching its training data and fitting took."""
    started = time.time()
    pipeline.fit(*pipeline.get_raw_data(train=True))
    return pipeline, time.time() - started


def train_on_workers(state, api, client, bar):
    """Every family fitted at once, one task each, on the workers; each fit is
    the one singlerun makes here (same data, same seed), scored and filed here
    in the families' order."""
    futures = {
        name: client.submit(fit_pipeline, pipeline, pure=False)
        for name, pipeline in api.model_dict.items()
    }
    failures = []
    try:
        for name, future in futures.items():
            state.checkpoint()
            bar.set_description("models: " + name)
            try:
                fitted, seconds = future.result()
                record = api.evaluate(fitted)
            except Exception as error:  # one family failing does not stop the others
                failures.append(_failure(name, error))
            else:
                record["fit_time"] = seconds
                api.training_record[name] = record
                api.model_dict[name] = api.custom_model_dict[name] = fitted
            bar.update(1)
    finally:
        client.cancel(list(futures.values()))
    return failures


def leaderboard_figure(board, metric):
    import matplotlib.pyplot as plt

    labels = list(board["Model"])[::-1]
    test = board["test_" + metric].astype(float).to_numpy()[::-1]
    train = board["train_" + metric].astype(float).to_numpy()[::-1]
    fig, ax = plt.subplots(figsize=(6.5, 0.36 * len(labels) + 1.0))
    y = np.arange(len(labels))
    ax.barh(y + 0.2, test, height=0.4, label="test", color="#2f5d9a")
    ax.barh(y - 0.2, train, height=0.4, label="training", color="#b8c7de")
    ax.set_yticks(y)
    ax.set_yticklabels(labels)
    ax.set_xlabel(metric)
    low = min(np.nanmin(test), np.nanmin(train))
    high = max(np.nanmax(test), np.nanmax(train))
    span = (high - low) or abs(high) or 1.0
    ax.set_xlim(max(0.0, low - 0.3 * span) if low >= 0 else low - 0.1 * span, high + 0.05 * span)
    ax.legend(loc="lower center", bbox_to_anchor=(0.5, 1.0), ncol=2, fontsize=8, frameon=False)
    return fig


def reading(state, board, metric, failures):
    best = board.iloc[0]
    worst = board.iloc[-1]
    lower_better = metric in LOWER_IS_BETTER
    parts = [
        "{} model famil{} trained on {} rows. Ranked by the test {} ({} is better), "
        "{} comes first with {} (training {}, fitted in {} s).".format(
            len(board),
            "ies were" if len(board) != 1 else "y was",
            len(state.dataset.train_index),
            metric,
            "lower" if lower_better else "higher",
            best["Model"],
            best["test_" + metric],
            best["train_" + metric],
            best["Time"],
        )
    ]
    if len(board) > 1:
        parts.append("The last, {}, reaches {}.".format(worst["Model"], worst["test_" + metric]))
    gap = float(best["train_" + metric]) - float(best["test_" + metric])
    if (gap < 0) if lower_better else (gap > 0):
        size = abs(gap) / max(abs(float(best["test_" + metric])), 1e-12)
        if size > 0.05:
            parts.append(
                "Its training score is clearly better than its test score, a sign "
                "of some overfitting."
            )
    if failures:
        parts.append("{} could not be trained (see below).".format(names(n for n, _ in failures)))
    state.findings["best"] = "{} ({} {})".format(best["Model"], metric, best["test_" + metric])
    return " ".join(parts)


STEP = Step("models", "Models", run, after=("preparation",))
