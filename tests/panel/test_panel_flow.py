"""The panel's steps driven from Python: training through ModelAPI, the leaderboard,
bad input, interpretation, export; nothing passed in is modified."""

import copy
import html
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

import zeka
from zeka.config.estimator_settings import model_param_items, model_param_specific
from zeka.models import ZEKACLASSIFIER, ZEKAREGRESSOR
from zeka.panel import Panel, PanelInputError
from zeka.workflow.workbench import ModelAPI

# Families that train in well under a second on the small frame.
QUICK = ["glm", "tree", "figs", "xgb1", "xgb2"]


def pick_features(widget, names):
    """Pick features in a monotonicity widget: tags (ipywidgets 8) or quoted names (7)."""
    if hasattr(widget, "allowed_tags"):
        widget.value = list(names)
    else:
        widget.value = ",".join('"{}"'.format(n) for n in names)


def test_zeka_alone_loads_no_widgets():
    code = "import sys, zeka; print('ipywidgets' in sys.modules, 'zeka.panel' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["False", "False"]


def test_the_panel_is_opened_by_calling_the_package():
    panel = zeka.panel("SimuRegression")
    assert isinstance(panel, Panel) and isinstance(zeka.panel.Panel, type)
    assert (panel.target, panel.task_type) == ("y", "regression")
    assert [title for title, _ in panel.tabs] == [
        "Data",
        "Preparation",
        "Outliers and features",
        "Models",
        "Train",
        "Interpret",
        "Export",
    ]


def test_training_matches_the_same_modelapi_calls(frame, task):
    panel = zeka.panel(frame, target="y")
    panel.widgets["glm"]["l1_regularization"].value = 0.25
    panel.widgets["tree"]["max_depth"].value = 3
    pick_features(panel.widgets["xgb1"]["mono_increasing_list"], ["x0"])
    board = panel.train(QUICK)
    assert sorted(board["Model"]) == sorted(QUICK) and not panel.failures
    # the same calls in a script, with the values typed in the panel
    table = model_param_specific(copy.deepcopy(model_param_items), panel.dataset)
    table = {k: v for k, v in table.items() if k in QUICK}
    table["glm"]["l1_regularization"][3] = 0.25
    table["tree"]["max_depth"][3] = 3
    table["xgb1"]["mono_increasing_list"][3] = ["x0"]
    api = ModelAPI(panel.dataset, model_list=QUICK, model_item=table)
    for name, pipeline in api.model_dict.items():
        api.singlerun(pipeline, name)
        assert panel.models[name].estimator.get_params() == pipeline.estimator.get_params()
    expected = api.get_leaderboard(rank_metric=panel.train_tab.sort.value)
    pd.testing.assert_frame_equal(
        board.drop(columns="Time").reset_index(drop=True),
        expected.drop(columns="Time").reset_index(drop=True),
    )
    est = panel.models["glm"].estimator
    assert est.l1_regularization == 0.25
    assert panel.models["xgb1"].estimator.mono_increasing_list == ["x0"]
    catalogue = ZEKAREGRESSOR if task == "regression" else ZEKACLASSIFIER
    assert isinstance(est, catalogue["glm"])


def test_the_leaderboard_sorts_by_any_metric(frame, task):
    panel = zeka.panel(frame, target="y")
    panel.train(["glm", "tree", "xgb2"])
    for metric in panel.dataset.scoring:
        board = panel.sort_leaderboard(metric)
        raw = [panel.api.training_record[m]["test_" + metric] for m in board["Model"]]
        assert raw == sorted(raw, reverse=True), metric
        shown = panel.train_tab.board.value
        assert "ranked by the test " + metric in shown
        assert all(m in shown for m in board["Model"])
    assert list(board.columns)[-1] == "Time"


def test_progress_is_shown_per_family(frame, monkeypatch):
    panel = zeka.panel(frame, target="y")
    seen = []
    real = ModelAPI.singlerun

    def spy(self, pipeline, name):
        seen.append((name, panel.train_tab.now.value, panel.train_tab.bar.value))
        return real(self, pipeline, name)

    monkeypatch.setattr(ModelAPI, "singlerun", spy)
    panel.train(["glm", "tree", "figs"])
    assert [s[0] for s in seen] == ["glm", "tree", "figs"]
    assert "Training 2 of 3: <b>Tree</b>" in seen[1][1]
    assert [s[2] for s in seen] == [0, 1, 2]
    assert panel.train_tab.bar.value == 3
    assert panel.train_tab.status.value.count("trained") == 3


def test_a_refused_value_and_a_failing_family_stop_no_other(frame, task, monkeypatch):
    catalogue = ZEKAREGRESSOR if task == "regression" else ZEKACLASSIFIER

    class Broken(catalogue["figs"]):
        def fit(self, *args, **kwargs):
            raise RuntimeError("figs broke")

    monkeypatch.setitem(catalogue, "figs", Broken)
    panel = zeka.panel(frame, target="y")
    panel.widgets["reludnn"]["hidden_layer_sizes"].value = "[40,40,]"  # json refuses
    board = panel.train(["glm", "figs", "reludnn", "tree"])
    assert list(sorted(board["Model"])) == ["glm", "tree"]
    assert set(panel.failures) == {"figs", "reludnn"}
    assert "figs broke" in panel.models_tab.error_of("figs")
    assert "Layer_sizes" in panel.models_tab.error_of("reludnn")
    assert panel.models_tab.error_of("glm") == ""
    assert (
        "Not trained: figs, reludnn" in panel.train_tab.said
        or "reludnn, figs" in panel.train_tab.said
    )


def test_train_twice_replaces_the_results(frame):
    panel = zeka.panel(frame, target="y")
    panel.train(["glm", "tree"])
    first = panel.models["tree"]
    panel.widgets["tree"]["max_depth"].value = 2
    board = panel.train(["tree"])
    assert list(board["Model"]) == ["tree"] and panel.models["tree"] is not first
    assert panel.models["tree"].estimator.max_depth == 2
    assert "Training again (run 2)" in panel.train_tab.said


def test_train_while_training_is_refused(frame):
    panel = zeka.panel(frame, target="y")
    panel._busy = True
    assert panel.train(["glm"]) is None
    assert "already running" in panel.train_tab.said


def test_no_target_keeps_the_panel_working(make_frame):
    data = make_frame("classification")
    panel = zeka.panel(data)
    assert panel.problem.startswith("choose the target")
    assert panel.train(["glm"]) is None and "needs a usable target" in panel.train_tab.said
    assert panel.check() is not None  # the checks need no target
    assert panel.set_target("y")
    assert list(panel.train(["glm"])["Model"]) == ["glm"]


@pytest.mark.parametrize(
    "column, task, expected",
    [
        ("const", None, "holds a single value (1)"),
        ("empty", None, "has no values"),
        ("x0", "classification", "classification here is binary"),
        ("grade", "regression", "is not numeric"),
        ("nope", None, "no column 'nope'"),
    ],
)
def test_an_unusable_target_is_explained(make_frame, column, task, expected):
    data = make_frame("classification")
    data["const"] = 1
    data["empty"] = np.nan
    before = data.copy()
    panel = zeka.panel(data, target=column, task=task)
    assert expected in panel.problem
    assert expected in html.unescape(panel.data_tab.status.value)
    assert panel.dataset is None and panel.detect_outliers() is None
    assert "needs a usable target" in panel.outliers_tab.said
    pd.testing.assert_frame_equal(data, before)


def test_bad_arguments_raise_with_what_to_pass():
    with pytest.raises(PanelInputError, match="unknown dataset 'Nope'"):
        zeka.panel("Nope")
    with pytest.raises(PanelInputError, match="DataFrame or the name"):
        zeka.panel([[1, 2]])
    with pytest.raises(PanelInputError, match="task must be"):
        zeka.panel("SimuRegression", task="ranking")


def test_close_and_reopen_keep_values_and_results(frame):
    panel = zeka.panel(frame, target="y")
    panel.widgets["tree"]["max_depth"].value = 4
    panel.choose(["glm", "tree"])
    panel.train()
    old_root = panel.root
    panel.close()
    assert panel.closed and old_root.comm is None if hasattr(old_root, "comm") else True
    panel.reopen()
    assert panel.root is not old_root and not panel.closed
    assert panel.widgets["tree"]["max_depth"].value == 4
    assert panel.chosen_families() == ["glm", "tree"]
    assert list(panel.leaderboard["Model"]) == list(
        panel.api.get_leaderboard(rank_metric=panel.train_tab.sort.value)["Model"]
    )
    assert "glm" in panel.train_tab.board.value
    assert panel.train(["tree"]) is not None


def test_the_whole_road_leaves_the_frame_as_it_was(frame, tmp_path):
    before = frame.copy()
    panel = zeka.panel(frame, target="y")
    panel.check()
    panel.prepare(test_ratio=0.25, seed=3)
    assert len(panel.dataset.test_index) == 40
    assert panel.detect_outliers() is not None
    assert panel.score_features("cor") is not None
    panel.train(["glm", "tree"])
    assert panel.score_features("pfi") is not None
    assert panel.shap_plot(plot="bar")[:8] == b"\x89PNG\r\n\x1a\n"
    panel.write_report(tmp_path / "r.html")
    pd.testing.assert_frame_equal(frame, before)


def test_the_checks_show_the_tables_the_checks_return(make_frame):
    data = make_frame("classification")
    data = pd.concat([data, data.iloc[:3]], ignore_index=True)
    panel = zeka.panel(data, target="y")
    checks = panel.check()
    assert len(checks["duplicated"]) == 3
    html = panel.data_tab.results.value
    for heading in ("Column by column", "Duplicated rows", "Association between columns"):
        assert heading in html
    assert "Null Ratio" in html and "grade" in html
    assert "3 left out" in panel.preparation_tab.rows.value  # the duplicates


def test_every_view_is_drawn_with_the_feature_names_beside_shap(frame, task):
    from zeka import interpret

    panel = zeka.panel(frame, target="y")
    panel.train(["xgb2", "glm"])
    panel.interpret_tab.model.value = "xgb2"
    views = interpret.supported(panel.models["xgb2"].estimator)
    assert list(panel.interpret_tab.view.options) == views
    assert "ei: " in panel.interpret_tab.groups.value
    names = set(panel.dataset.feature_names)
    for view in views:
        result = panel.explain(view=view, row=2)
        assert result is not None and result is panel.interpretation, panel.interpret_tab.said
        if view == "global_fi":
            assert set(result.data["feature"]) <= names and len(result.data) > 0
    # a local view explains the chosen test row: its parts add up to the model's output
    local = panel.explain(view="local_fi", row=2)
    x_test = panel.models["xgb2"].get_data(test=True)[0]
    raw = panel.models["xgb2"].estimator
    output = (raw.decision_function if task == "classification" else raw.predict)(x_test[2:3])
    assert local.data["contribution"].sum() + local.base == pytest.approx(output[0], abs=1e-9)
    png = panel.shap_plot(model="glm", plot="bar")  # the quickest family to explain
    assert png[:4] == b"\x89PNG" and panel.shap_result[:2] == ("glm", "bar")


def test_the_exported_code_trains_the_same_models(frame, task, tmp_path):
    frame.to_csv(tmp_path / "your-data.csv", index=False)
    panel = zeka.panel(frame, target="y")
    panel.widgets["glm"]["l2_regularization"].value = 1.5
    panel.widgets["xgb2"]["n_estimators"].value = 20
    pick_features(panel.widgets["xgb2"]["mono_decreasing_list"], ["x1"])
    panel.choose(["glm", "xgb2"])
    panel.train()
    code = panel.code()
    assert "table['glm']['l2_regularization'][3] = 1.5" in code
    namespace = {}
    import os

    cwd = os.getcwd()
    os.chdir(tmp_path)
    try:
        exec(compile(code, "panel-code", "exec"), namespace)
    finally:
        os.chdir(cwd)
    api = namespace["api"]
    assert list(api.model_dict) == ["glm", "xgb2"]
    for name in ("glm", "xgb2"):
        assert (
            api.model_dict[name].estimator.get_params() == panel.models[name].estimator.get_params()
        )
        assert api.training_record[name]["test_" + panel.train_tab.sort.value] == pytest.approx(
            panel.api.training_record[name]["test_" + panel.train_tab.sort.value]
        )


def test_the_report_holds_what_was_done(frame, tmp_path):
    panel = zeka.panel(frame, target="y")
    panel.train(["glm", "tree"])
    path = panel.write_report(tmp_path / "panel.html")
    text = path.read_text(encoding="utf-8")
    assert "<h2" in text and "Models" in text and "Preparation" in text
    assert "Data integrity" not in text  # not run in this panel
    assert "api = ModelAPI" in text
    assert "Wrote" in panel.export_tab.said
    assert panel.write_report(tmp_path / "missing" / "r.html") is None
    assert "not written" in panel.export_tab.said
