"""Model families trained on the Dask workers give what a local fit with the
same seed gives: the same scores and the same predictions."""

import types

import numpy as np
import pandas as pd
import pytest

from zeka.data.dataset import Dataset
from zeka.report import params
from zeka.report.steps.models import parameter_table, train_here, train_on_workers
from zeka.workflow.workbench import ModelAPI

FAMILIES = ["glm", "tree", "figs", "ebm", "reludnn"]


class _NoBar:
    def set_description(self, text):
        pass

    def update(self, steps):
        pass


def _frame(task, n=300, seed=0):
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame(rng.normal(size=(n, 4)), columns=["a", "b", "c", "d"])
    signal = frame["a"] - 0.5 * frame["b"] * frame["c"] + rng.normal(scale=0.5, size=n)
    frame["y"] = (signal > 0).astype(int) if task == "classification" else signal
    return frame


def _api(task):
    dataset = Dataset(_frame(task), "y", task_type=task, random_state=3, name="t")
    # small settings keep the networks quick; the seed is the report's
    table = parameter_table(dataset, 3)
    entries = table["reludnn"]
    entries["max_epochs"] = params.with_default(entries["max_epochs"], 5)
    return dataset, ModelAPI(dataset, model_list=FAMILIES, model_item=table)


def _without_time(record):
    return {key: value for key, value in record.items() if key != "fit_time"}


@pytest.mark.parametrize("task", ["classification", "regression"])
def test_families_fitted_on_workers_equal_local_fits(cluster_client, task):
    state = types.SimpleNamespace(checkpoint=lambda: None)
    _, here = _api(task)
    _, there = _api(task)
    assert train_here(state, here, _NoBar()) == []
    assert train_on_workers(state, there, cluster_client, _NoBar()) == []
    assert list(there.training_record) == FAMILIES
    for name in FAMILIES:
        x_test = here.custom_model_dict[name].get_raw_data(test=True)[0]
        assert _without_time(there.training_record[name]) == _without_time(
            here.training_record[name]
        ), name
        np.testing.assert_array_equal(
            there.custom_model_dict[name].predict(x_test),
            here.custom_model_dict[name].predict(x_test),
            err_msg=name,
        )
    assert all(there.training_record[name]["fit_time"] > 0 for name in FAMILIES)


def test_a_family_failing_on_a_worker_does_not_stop_the_others(cluster_client):
    state = types.SimpleNamespace(checkpoint=lambda: None)
    _, api = _api("regression")
    api.model_dict["glm"].estimator.set_params(l1_regularization=-1.0)
    failures = train_on_workers(state, api, cluster_client, _NoBar())
    assert [name for name, _ in failures] == ["glm"]
    assert list(api.training_record) == [name for name in FAMILIES if name != "glm"]
