"""Training from the panel: the widgets' values through ModelAPI, one family at a time.

Each family's parameters are read from its widgets and converted; a value that
is refused (by the conversion, the estimator's constructor or its fit) is shown
beside that family and the others go on. The progress is shown while it runs:
the family in training, how many are done, and each one's status and fit time.
"""

import copy
import time

from zeka.panel import ui
from zeka.panel.parameters import read
from zeka.report import params
from zeka.report.capture import warning_text


def parameter_table(dataset_like):
    """The package's parameter tables adapted to the installed libraries and this dataset."""
    from zeka.config.estimator_settings import model_param_items, model_param_specific

    return model_param_specific(copy.deepcopy(model_param_items), dataset_like)


def chosen_values(panel, family):
    """{parameter: value for the estimator} of one family, from its widgets."""
    return read(
        family, panel.parameter_table[family], panel.widgets[family], panel.dataset.feature_names
    )


def train(panel):
    import warnings

    from zeka.workflow.workbench import ModelAPI

    tab = panel.train_tab
    chosen = panel.chosen_families()
    if not chosen:
        tab.say("No family is ticked in the Models tab: tick at least one.", "error")
        return None
    panel.train_runs += 1
    panel.models_tab.clear_errors()
    failures, item = {}, {}
    for family in chosen:
        try:
            values = chosen_values(panel, family)
        except ValueError as error:
            failures[family] = str(error)
            continue
        item[family] = {
            key: params.with_default(entry, values[key])
            for key, entry in panel.parameter_table[family].items()
        }
    api = ModelAPI(panel.dataset, model_list=[], model_item=item)
    todo = [f for f in chosen if f not in failures]
    tab.start(chosen, failures)
    trained = {}
    notes = {}
    for done, family in enumerate(todo):
        tab.progress(family, done, len(todo))
        started = time.perf_counter()
        with warnings.catch_warnings(record=True) as caught, ui.quiet():
            warnings.simplefilter("always")
            try:
                api.model_list = [family]
                pipeline = api.model_prepare()[family]
                api.singlerun(pipeline, family)
            except Exception as error:  # one family failing does not stop the others
                failures[family] = "training failed: " + ui.first_line(error)
            else:
                trained[family] = pipeline
        notes[family] = warning_text(caught)
        tab.finished(family, failures.get(family), time.perf_counter() - started)
    api.model_list = list(trained)
    api.model_dict = dict(trained)
    panel.api = api
    panel.models = trained
    panel.failures = failures
    panel.warnings = notes
    panel.parameters_used = {
        family: {key: entry[3] for key, entry in item[family].items()} for family in trained
    }
    panel.leaderboard = None
    panel.models_tab.show_errors(failures)
    if trained:
        panel.leaderboard = api.get_leaderboard(rank_metric=tab.sort.value)
    tab.done(trained, failures)
    panel.interpret_tab.refresh_models()
    return panel.leaderboard
