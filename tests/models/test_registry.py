"""The registry of model families against the other places that know the families: the
native hyper-parameter tables, the training workflow and the package's exports. A family
added to one of them and not to the others fails here."""

import re

import numpy as np
import pandas as pd
import pytest
from sklearn.base import is_classifier, is_regressor

import zeka.models
from zeka.config import estimator_settings as es
from zeka.exceptions import ZekaError
from zeka.models import FAMILIES, FAMILY_KEYS, ZEKACLASSIFIER, ZEKAREGRESSOR, get_model_name
from zeka.workflow import workbench

dataset_module = pytest.importorskip("zeka.data.dataset")

MODEL_TABLES = {
    "model_param_items": es.model_param_items,
    "INTERPRET_PANEL_SETTING": es.INTERPRET_PANEL_SETTING,
    "INTERPRET_SUPPORT": es.INTERPRET_SUPPORT,
    "NEED_RENDER_MODEL_PARAMS": es.NEED_RENDER_MODEL_PARAMS,
}


def test_keys_and_display_names_are_those_of_the_settings_tables():
    assert [(family.key, family.display_name) for family in FAMILIES] == list(
        es.model_name_items.items()
    )


@pytest.mark.parametrize("name", list(MODEL_TABLES))
def test_every_model_table_has_the_registry_keys_in_order(name):
    assert list(MODEL_TABLES[name]) == list(FAMILY_KEYS)
    assert list(es.NEED_RENDER_PARAMS)[: len(FAMILY_KEYS)] == list(FAMILY_KEYS)


def test_catalogues_and_exports_follow_the_registry():
    classes = [cls for family in FAMILIES for cls in (family.regressor, family.classifier)]
    assert len(set(classes)) == 2 * len(FAMILIES)
    assert list(ZEKAREGRESSOR.items()) == [(f.key, f.regressor) for f in FAMILIES]
    assert list(ZEKACLASSIFIER.items()) == [(f.key, f.classifier) for f in FAMILIES]
    for family in FAMILIES:
        assert is_regressor(family.regressor()) and not is_classifier(family.regressor())
        assert is_classifier(family.classifier()) and not is_regressor(family.classifier())
        for cls in (family.regressor, family.classifier):
            assert getattr(zeka.models, cls.__name__) is cls
            assert cls.__name__ in zeka.models.__all__
            assert get_model_name(cls()) == family.key


def small_dataset(task_type):
    rng = np.random.default_rng(0)
    data = pd.DataFrame({"x0": rng.normal(size=40), "x1": rng.normal(size=40)})
    data["y"] = (data.x0 + data.x1 > 0).astype(int)
    return dataset_module.Dataset(data, "y", task_type=task_type)


@pytest.mark.parametrize(
    "task_type, role", [("regression", "regressor"), ("classification", "classifier")]
)
def test_the_workflow_builds_every_registered_family(task_type, role):
    dataset = small_dataset(task_type)
    api = workbench.ModelAPI(dataset, model_list=list(FAMILY_KEYS), model_item=es.model_param_items)
    assert list(api.model_dict) == list(FAMILY_KEYS)
    for family in FAMILIES:
        assert type(api.model_dict[family.key].estimator) is getattr(family, role)


def test_the_workflow_names_exactly_the_registered_families_when_rejecting_one():
    with pytest.raises(ZekaError) as info:
        workbench.ModelAPI(
            small_dataset("regression"), model_list=["lightgbm"], model_item=es.model_param_items
        )
    supported = info.value.args[0].split("supported names are ", 1)[1]
    assert sorted(re.findall(r"'([^']*)'", supported)) == sorted(FAMILY_KEYS)
