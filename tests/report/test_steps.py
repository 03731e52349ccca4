"""The report's steps: the order they run in, what they read from the package's tables."""

import copy
import itertools

import numpy as np
import pandas as pd
import pytest

from zeka.report import params
from zeka.report.steps import STEPS, Step, run_order

DOCUMENT_ORDER = ["integrity", "preparation", "features", "outliers", "models", "explanation"]


def subsets(items):
    return [
        list(c) for size in range(1, len(items) + 1) for c in itertools.combinations(items, size)
    ]


def test_the_document_shows_the_steps_in_the_order_a_reader_walks_the_road():
    assert [step.anchor for step in STEPS] == DOCUMENT_ORDER


@pytest.mark.parametrize("chosen", subsets(STEPS), ids=lambda c: "+".join(s.anchor for s in c))
def test_each_step_runs_after_the_steps_it_uses_and_no_sooner_than_needed(chosen):
    order = [step.anchor for step in run_order(chosen)]
    assert sorted(order) == sorted(step.anchor for step in chosen)
    position = {anchor: i for i, anchor in enumerate(order)}
    for step in chosen:
        for used in step.after:
            if used in position:
                assert position[used] < position[step.anchor], (used, step.anchor)
    # steps that wait for nothing present keep the document's order among themselves
    free = [s.anchor for s in chosen if not any(a in position for a in s.after)]
    assert [a for a in order if a in free] == free


def test_the_pfi_score_and_the_explanation_wait_for_the_trained_models():
    order = [step.anchor for step in run_order(STEPS)]
    assert order.index("features") > order.index("models")
    assert order.index("explanation") > order.index("models")
    assert order.index("models") > order.index("preparation")


def test_steps_waiting_for_each_other_are_refused():
    first = Step("a", "A", run=None, after=("b",))
    second = Step("b", "B", run=None, after=("a",))
    with pytest.raises(ValueError, match="wait for each other"):
        run_order([first, second])


def all_parameter_entries():
    from zeka.config.estimator_settings import model_param_items, od_param_items

    return [
        (table, key, entry)
        for tables in (model_param_items, od_param_items)
        for table, entries in tables.items()
        for key, entry in entries.items()
    ]


WIDGETS = {"BoundedIntText", "BoundedFloatText", "Dropdown", "Text", "TagsInput", ""}


def test_the_accessors_name_the_items_of_every_parameter_entry():
    for table, key, entry in all_parameter_entries():
        where = "{}.{}".format(table, key)
        assert params.widget_name(entry) in WIDGETS, where
        assert isinstance(params.label(entry), str), where
        if params.widget_name(entry) == "":  # a fixed parameter: no widget, no label
            assert params.widget_arguments(entry) == [] and params.label(entry) == "", where
        if params.widget_name(entry).startswith("Bounded"):  # initial value, minimum, maximum
            value, low, high = params.widget_arguments(entry)
            assert value == params.default(entry), where
            assert low <= value <= high, where


def test_a_new_default_leaves_the_entry_and_its_widget_as_they_were():
    _, _, entry = next(e for e in all_parameter_entries() if e[1] == "random_state")
    before = copy.deepcopy(entry)
    changed = params.with_default(entry, 123)
    assert params.default(changed) == 123
    assert entry == before
    assert [
        params.widget_name(changed),
        params.widget_arguments(changed),
        params.label(changed),
    ] == before[:3]


def test_the_models_step_gives_the_seeded_families_the_report_seed():
    from zeka.config.estimator_settings import model_param_items, model_param_specific
    from zeka.data.dataset import Dataset
    from zeka.report.steps.models import parameter_table

    dataset = Dataset.load("Diabetes")
    pristine = copy.deepcopy(model_param_items)
    table = parameter_table(dataset, seed=7)
    plain = model_param_specific(copy.deepcopy(model_param_items), dataset)
    assert model_param_items == pristine
    seeded = [name for name, entries in plain.items() if "random_state" in entries]
    assert seeded  # the test means something only if some family takes a seed
    for name, entries in plain.items():
        for key, entry in entries.items():
            if key == "random_state":
                assert table[name][key] == list(entry[:3]) + [7]
            else:
                assert table[name][key] == entry, (name, key)


def test_the_integrity_reading_finds_the_columns_each_check_flags():
    check_module = pytest.importorskip("zeka.data.quality_scan.quality_scan")
    from zeka.data.dataset import infer_feature_type
    from zeka.report.steps.integrity import flagged_columns

    rng = np.random.default_rng(4)
    rows = 40
    frame = pd.DataFrame(
        {
            "amount": rng.normal(size=rows),
            "constant": ["same"] * rows,
            "codes": ["1", "2", "a", "b.5"] * (rows // 4),
            "symbols": ["ok", "###"] + ["fine"] * (rows - 2),
        }
    )
    frame.loc[[2, 5, 9], "amount"] = np.nan
    meta = {c: infer_feature_type(frame[c]) for c in frame.columns}
    scol = check_module.DataIntegrityCheck(frame, meta).single_column_check().data
    found = flagged_columns(scol)
    assert found["single"] == ["constant"]
    np.testing.assert_allclose(found["nulls"].to_numpy(), frame.isna().mean().to_numpy())
    assert found["mixed"] == ["codes"]  # half the texts read as numbers
    assert found["special"] == ["symbols"]


@pytest.mark.parametrize("family", ["glm", "ebm", "reludnn"])
def test_shap_is_set_against_the_models_own_contributions_by_feature_name(family):
    from zeka.interpret import explain
    from zeka.models import ZEKAREGRESSOR
    from zeka.report.steps.own_views import shap_against_own

    rng = np.random.default_rng(3)
    X = pd.DataFrame(rng.normal(size=(120, 3)), columns=["a", "b", "c"])
    model = ZEKAREGRESSOR[family]().fit(X, X.a - 2 * X.b + X.b * X.c)
    local = explain(model, "local_fi", X, row=5)
    own = local.data.reset_index().set_index("feature")["contribution"]
    shap_values = own.reindex(["a", "b", "c"]).to_numpy() + [0.5, 0.0, -0.25]

    class Section(list):
        add = list.append

    measured = shap_against_own(Section(), local, ["a", "b", "c"], shap_values)
    assert measured["largest"] == pytest.approx(0.5, abs=1e-12)
    assert measured["spread"] == pytest.approx(own.abs().sum(), rel=1e-12)
    expected = pd.Series(shap_values).corr(
        pd.Series(own.reindex(["a", "b", "c"]).to_numpy()), "spearman"
    )
    assert measured["rank_correlation"] == pytest.approx(expected)
