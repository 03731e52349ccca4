"""Every parameter widget of the panel against its table entry, on both ipywidgets forms,
and every conversion of a widget value that the panel reaches."""

import copy
import types

import pytest

import zeka
from zeka.config import estimator_settings
from zeka.config.estimator_settings import (
    NEED_RENDER_PARAMS,
    model_name_items,
    model_param_items,
    model_param_specific,
    od_param_items,
)
from zeka.panel.training import chosen_values

FAMILIES = list(model_name_items)
PLACEHOLDER_7 = '0,1... or "f0","f1"...'


@pytest.fixture(params=["8", "7"])
def widgets_form(request, monkeypatch):
    """ipywidgets 8 as installed, or the tables' form for ipywidgets 7 (text lists)."""
    import ipywidgets
    from packaging.version import parse

    if request.param == "8" and parse(ipywidgets.__version__) < parse("8"):
        pytest.skip("ipywidgets {} is installed, not 8".format(ipywidgets.__version__))
    if request.param == "7":
        monkeypatch.setattr(
            estimator_settings, "widgets", types.SimpleNamespace(__version__="7.8.5")
        )
    return request.param


def expected_tables(panel):
    return model_param_specific(copy.deepcopy(model_param_items), panel.dataset)


def check_widget(widget, entry):
    name, arguments, label, _ = entry
    assert type(widget).__name__ == name
    assert widget.description == label
    if name in ("BoundedIntText", "BoundedFloatText"):
        value, low, high = arguments
        assert (widget.value, widget.min, widget.max) == (value, low, high)
        assert isinstance(widget.value, int if name == "BoundedIntText" else float)
    elif name == "Dropdown":
        value, options = arguments
        assert widget.value == value
        assert list(widget.options) == list(options)
    elif name == "Text":
        value, placeholder = arguments
        assert (widget.value, widget.placeholder) == (value, placeholder)
    else:
        value, allowed = arguments
        assert list(widget.value) == list(value)
        assert list(widget.allowed_tags) == list(allowed)


def test_every_widget_matches_its_entry(task, widgets_form, make_frame):
    panel = zeka.panel(make_frame(task), target="y")
    tables = expected_tables(panel)
    assert list(panel.widgets) == FAMILIES
    for family in FAMILIES:
        table = tables[family]
        shown = [key for key, entry in table.items() if entry[0]]
        assert list(panel.widgets[family]) == shown, family
        for key in shown:
            check_widget(panel.widgets[family][key], table[key])
            assert panel.models_tab.labels[family][key] == table[key][2]
        # the display name heads each family's section
        assert panel.family_checks[family].description == model_name_items[family]


def test_the_adapted_entries_show_as_the_tables_say(task, widgets_form, make_frame):
    panel = zeka.panel(make_frame(task), target="y")
    w = panel.widgets
    assert "max_depth" not in w["xgb2"]  # fixed at 2, not shown
    assert {"n_jobs", "early_stop_thres"}.isdisjoint(w["gaminet"])
    assert {"val_ratio", "iht", "phase_epochs", "threshold", "device", "verbose"}.isdisjoint(
        w["reludnn"]
    )
    assert w["ebm"]["early_stopping_tolerance"].description == " Early_stop_tol"
    criteria = list(w["tree"]["criterion"].options)
    if task == "regression":
        assert criteria == ["squared_error", "absolute_error"]
    else:
        assert criteria == ["gini", "entropy", "log_loss"]
    for family in ("xgb1", "xgb2", "gaminet"):
        for key in ("mono_increasing_list", "mono_decreasing_list"):
            widget = w[family][key]
            if widgets_form == "7":
                assert type(widget).__name__ == "Text"
                assert (widget.value, widget.placeholder) == ("", PLACEHOLDER_7)
            else:
                assert type(widget).__name__ == "TagsInput"
                assert list(widget.allowed_tags) == ["x0", "x1", "x2", "grade"]


def test_the_detector_widgets_match_the_novelty_table(make_frame):
    panel = zeka.panel(make_frame("classification"), target="y")
    table = od_param_items["novelty"]
    assert list(panel.outliers_tab.detector_widgets) == list(table)
    for key, widget in panel.outliers_tab.detector_widgets.items():
        check_widget(widget, table[key])


def test_untouched_widgets_give_the_table_defaults(task, make_frame):
    panel = zeka.panel(make_frame(task), target="y")
    tables = expected_tables(panel)
    for family in FAMILIES:
        values = chosen_values(panel, family)
        assert list(values) == list(tables[family])
        for key, entry in tables[family].items():
            assert values[key] == entry[3], (family, key)


# (family, parameter, value typed or picked, what the estimator receives), on the form
# where the widget delivers that kind of value
RENDERED = [
    ("gaminet", "max_epochs", "10, 20,, 30", [10, 20, 30], "8"),
    ("gaminet", "learning_rates", "1e-3, 2e-3, 1e-4", [1e-3, 2e-3, 1e-4], "8"),
    ("gaminet", "subnet_size_main_effect", "[8,]", [8], "8"),
    ("gaminet", "subnet_size_interaction", "[8, 4]", [8, 4], "8"),
    ("reludnn", "hidden_layer_sizes", "[16,8]", [16, 8], "8"),
    ("xgb1", "mono_increasing_list", ["x0", "x2"], ["x0", "x2"], "8"),
    ("xgb2", "mono_decreasing_list", ["x1"], ["x1"], "8"),
    ("gaminet", "mono_increasing_list", [], [], "8"),
    ("xgb1", "mono_increasing_list", "0,2", ["x0", "x2"], "7"),
    ("xgb2", "mono_decreasing_list", "-1", ["grade"], "7"),
    ("gaminet", "mono_decreasing_list", '"x1","x2"', ["x1", "x2"], "7"),
    ("gaminet", "mono_increasing_list", '"x1"', ["x1"], "7"),
    ("xgb1", "mono_decreasing_list", "", [], "7"),
    ("xgb2", "mono_increasing_list", " 1, 2", ["x1", "x2"], "7"),
]


@pytest.fixture(scope="module")
def panels(make_frame):
    """One panel per form, opened once: each case below sets a parameter of its own."""
    opened = {}
    opened["8"] = zeka.panel(make_frame("classification"), target="y")
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(estimator_settings, "widgets", types.SimpleNamespace(__version__="7.8.5"))
        opened["7"] = zeka.panel(make_frame("classification"), target="y")
    return opened


@pytest.mark.parametrize("family, key, typed, received, form", RENDERED)
def test_widget_values_are_converted_for_the_estimator(family, key, typed, received, form, panels):
    import ipywidgets
    from packaging.version import parse

    if form == "8" and parse(ipywidgets.__version__) < parse("8"):
        pytest.skip("ipywidgets {} is installed, not 8".format(ipywidgets.__version__))
    assert key in NEED_RENDER_PARAMS[family]
    panel = panels[form]
    panel.widgets[family][key].value = typed
    assert chosen_values(panel, family)[key] == received


def test_every_converted_parameter_of_the_models_is_covered():
    covered = {(family, key) for family, key, *_ in RENDERED}
    listed = {(family, key) for family in FAMILIES for key in NEED_RENDER_PARAMS[family]}
    assert listed <= covered


@pytest.mark.parametrize("shown, received", [("True", True), ("False", False)])
def test_the_detector_standardization_becomes_a_boolean(shown, received, make_frame):
    panel = zeka.panel(make_frame("classification"), target="y")
    panel.outliers_tab.detector_widgets["standardization"].value = shown
    parameters = panel.outliers_tab.detector_parameters()
    assert parameters["standardization"] is received
    assert parameters["kernel"] == "rbf" and parameters["nu"] == 0.5


@pytest.mark.parametrize(
    "family, key, typed",
    [
        ("gaminet", "subnet_size_main_effect", "[20]"),  # one size needs the trailing comma
        ("gaminet", "max_epochs", "10, ten"),
        ("reludnn", "hidden_layer_sizes", "[40,40,]"),
    ],
)
def test_a_refused_conversion_names_the_parameter(family, key, typed, make_frame):
    panel = zeka.panel(make_frame("classification"), target="y")
    panel.widgets[family][key].value = typed
    label = estimator_settings.model_param_items[family][key][2]
    with pytest.raises(ValueError, match=label):
        chosen_values(panel, family)
