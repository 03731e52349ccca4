"""The report command end to end: the document it writes and the inputs it refuses."""

import base64
import copy
import dataclasses
import importlib
import io
import os
import re
import subprocess
import sys
from html.parser import HTMLParser

import numpy as np
import pandas as pd
import pytest

from zeka.report import cli

PIL_Image = pytest.importorskip("PIL.Image")

SECTIONS = ["integrity", "preparation", "features", "outliers", "models", "explanation"]
MODULE_OF_SECTION = {
    "integrity": "zeka.data.quality_scan.quality_scan",
    "features": "zeka.data.variable_screen",
    "explanation": "zeka.explainer.shap",
}
VOID = {
    "area",
    "base",
    "br",
    "col",
    "embed",
    "hr",
    "img",
    "input",
    "link",
    "meta",
    "source",
    "track",
    "wbr",
}


def module_missing(section):
    name = MODULE_OF_SECTION.get(section)
    if name is None:
        return None
    try:
        importlib.import_module(name)
    except ImportError as error:
        return "{} is not built in this tree ({})".format(name, error)
    return None


class Document(HTMLParser):
    """A strict reading of the report: balanced tags, sections, tables, images."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.stack, self.errors = [], []
        self.sections, self.links, self.images, self.external = [], [], [], []
        self.tables = {}  # section id -> list of tables, a table a list of rows of cell texts
        self.readings = {}
        self._section = None
        self._cell = None
        self._reading = None
        self.feed(text)
        self.close()
        if self.stack:
            self.errors.append("unclosed tags {}".format(self.stack))

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag not in VOID:
            self.stack.append(tag)
        if tag == "section":
            self._section = attrs["id"]
            self.sections.append(attrs["id"])
            self.tables[self._section] = []
        if tag == "a" and attrs.get("href", "").startswith("#"):
            self.links.append(attrs["href"][1:])
        if tag in ("script", "link", "iframe"):
            self.external.append(tag)
        for key in ("src", "href"):
            if attrs.get(key, "").startswith(("http:", "https:", "//")):
                self.external.append(attrs[key])
        if tag == "img":
            self.images.append((self._section, attrs.get("src", ""), attrs.get("alt")))
        if tag == "table" and self._section:
            self.tables[self._section].append([])
        if tag == "tr" and self._section and self.tables[self._section]:
            self.tables[self._section][-1].append([])
        if tag in ("td", "th"):
            self._cell = []
        if tag == "div" and "reading" in attrs.get("class", "") and self._section:
            self._reading = []

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.stack or self.stack[-1] != tag:
            self.errors.append("</{}> closes {}".format(tag, self.stack[-1:] or "nothing"))
        else:
            self.stack.pop()
        if tag in ("td", "th") and self._cell is not None and self._section:
            self.tables[self._section][-1][-1].append("".join(self._cell).strip())
            self._cell = None
        if tag == "div" and self._reading is not None:
            self.readings[self._section] = "".join(self._reading)
            self._reading = None
        if tag == "section":
            self._section = None

    def handle_data(self, data):
        if self._cell is not None:
            self._cell.append(data)
        if self._reading is not None:
            self._reading.append(data)


def run_command(argv):
    out, err = io.StringIO(), io.StringIO()
    status = cli.run(argv, stdout=out, stderr=err)
    return status, out.getvalue(), err.getvalue()


@pytest.fixture(scope="module")
def report(tmp_path_factory):
    folder = tmp_path_factory.mktemp("report")
    path = folder / "diabetes.html"
    status, out, err = run_command(
        [
            "report",
            "--dataset",
            "Diabetes",
            "--models",
            "glm,tree",
            "--out",
            str(path),
            "--explain-rows",
            "30",
            "--quiet",
            "--seed",
            "3",
        ]
    )
    text = path.read_text(encoding="utf-8")
    return {
        "status": status,
        "out": out,
        "err": err,
        "path": path,
        "folder": folder,
        "text": text,
        "doc": Document(text),
    }


def test_writes_the_file_and_names_it(report):
    assert report["status"] == 0, report["out"] + report["err"]
    assert report["err"] == ""  # --quiet: no progress bars
    assert report["out"].startswith("zeka report: wrote {} in ".format(report["path"]))
    assert report["out"].count("\n") == 1
    assert sorted(os.listdir(report["folder"])) == ["diabetes.html"]  # no temporary left


def test_is_well_formed_and_self_contained(report):
    document = report["doc"]
    assert document.errors == []
    assert document.external == []
    assert "@import" not in report["text"] and "url(" not in report["text"]
    assert report["text"].startswith("<!DOCTYPE html>")


def test_holds_every_section_in_order_with_a_contents_entry(report):
    document = report["doc"]
    assert document.sections == SECTIONS
    assert [link for link in document.links if link in SECTIONS] == SECTIONS
    for section in SECTIONS:
        reading = document.readings[section]
        if module_missing(section):
            assert reading.startswith("This step was unavailable")
        else:
            assert "step failed" not in reading and "unavailable" not in reading, reading
            assert len(reading) > 80


def test_images_are_pngs_of_sensible_size(report):
    images = report["doc"].images
    expected = {"outliers": 1, "models": 1}
    for section, count in expected.items():
        assert sum(1 for s, _, _ in images if s == section) == count, section
    if not module_missing("explanation"):
        # SHAP's four, then the best model's own views and the other family's global one
        alts = [alt for s, _, alt in images if s == "explanation"]
        own = {alt.rsplit(" ", 1)[1] for alt in alts[4:]}
        assert own in (
            {"global_fi", "local_fi", "glm_coef_plot", "tree_global"},
            {"tree_global", "tree_local", "global_fi"},
        ), alts
    for section, src, alt in images:
        assert alt and src.startswith("data:image/png;base64,")
        image = PIL_Image.open(io.BytesIO(base64.b64decode(src.split(",", 1)[1], validate=True)))
        image.load()
        assert image.format == "PNG"
        assert 300 <= image.width <= 2000 and 150 <= image.height <= 2000, (section, image.size)


def reference_leaderboard(seed):
    """The same two families trained directly with the package's modules."""
    from zeka.config.estimator_settings import model_param_items, model_param_specific
    from zeka.data.dataset import Dataset
    from zeka.workflow.workbench import ModelAPI

    dataset = Dataset.load("Diabetes", random_state=seed)
    table = model_param_specific(copy.deepcopy(model_param_items), dataset)
    for params in table.values():
        if "random_state" in params:
            params["random_state"] = list(params["random_state"][:3]) + [seed]
    api = ModelAPI(dataset, model_list=["glm", "tree"], model_item=table)
    for name, pipeline in api.model_dict.items():
        api.singlerun(pipeline, name)
    return api.get_leaderboard(rank_metric="MSE"), dataset


def test_leaderboard_has_one_row_per_family_with_the_models_scores(report):
    tables = report["doc"].tables["models"]
    board = tables[0]
    header, rows = board[0], [row for row in board[1:] if row and row[0] in ("glm", "tree")]
    assert len(rows) == 2
    expected, _ = reference_leaderboard(seed=3)
    assert [row[0] for row in rows] == list(expected["Model"])
    columns = [c for c in expected.columns if c.startswith(("test_", "train_"))]
    assert [h for h in header if h in columns] == columns
    for row, (_, want) in zip(rows, expected.iterrows()):
        cells = dict(zip(header, row))
        for column in columns:
            assert cells[column] == want[column], column


def test_feature_table_has_one_row_per_feature(report):
    reason = module_missing("features")
    if reason:
        pytest.skip(reason)
    _, dataset = reference_leaderboard(seed=3)
    table = report["doc"].tables["features"][0]
    body = [row for row in table if row and row[0] in dataset.feature_names]
    assert [row[0] for row in body] == dataset.feature_names
    # four scores, each with its score and its selection mark
    assert all(len(row) == 9 for row in body)
    correlations = np.array([float(row[3]) for row in body])
    train_x, train_y, _ = dataset.get_data(train=True)
    reference = [np.corrcoef(train_x[:, j], train_y)[0, 1] for j in range(train_x.shape[1])]
    np.testing.assert_allclose(correlations, reference, atol=1e-4)


def test_outlier_share_matches_a_direct_fit(report):
    from sklearn.preprocessing import StandardScaler
    from sklearn.svm import OneClassSVM

    _, dataset = reference_leaderboard(seed=3)
    x = StandardScaler().fit_transform(dataset.train_x)
    scores = -OneClassSVM(nu=0.05).fit(x).decision_function(x)
    flagged = int((scores > 0).sum())
    assert (
        "{} rows ({:.1f}%)".format(flagged, 100 * flagged / len(x))
        in report["doc"].readings["outliers"]
    )
    top = report["doc"].tables["outliers"][0]
    labels = [row[0] for row in top[1:] if row and row[0].isdigit()]
    expected = dataset.raw_data.index[dataset.train_index[np.argsort(-scores, kind="stable")[:10]]]
    assert labels == [str(label) for label in expected]


def only_steps(monkeypatch, *anchors, **replaced_runs):
    """Let the command run only the named steps, some with a replaced computation."""
    from zeka.report import steps

    chosen = [
        dataclasses.replace(step, run=replaced_runs.get(step.anchor, step.run))
        for step in steps.STEPS
        if step.anchor in anchors
    ]
    monkeypatch.setattr(steps, "STEPS", chosen)


# -- bad input ------------------------------------------------------------------------


def write(path, text, mode="w"):
    with open(path, mode) as handle:
        handle.write(text)
    return str(path)


BAD_INPUTS = {
    "missing csv": (lambda d: ["--csv", str(d / "nope.csv"), "--target", "y"], "no such file"),
    "csv does not parse": (
        lambda d: ["--csv", write(d / "bad.csv", b'a,b\n1,"2\n\xff\xfe,3', "wb"), "--target", "a"],
        "does not parse",
    ),
    "empty csv": (lambda d: ["--csv", write(d / "empty.csv", ""), "--target", "y"], "is empty"),
    "target not a column": (
        lambda d: ["--csv", write(d / "ok.csv", "a,b\n1,2\n3,4\n"), "--target", "y"],
        "has no column 'y'",
    ),
    "one-class target": (
        lambda d: [
            "--csv",
            write(d / "one.csv", "a,y\n" + "".join("{},1\n".format(i) for i in range(50))),
            "--target",
            "y",
        ],
        "single value (1);",
    ),
    "infinite target": (
        lambda d: [
            "--csv",
            write(
                d / "inf.csv",
                "a,y\n"
                + "".join("{},{}\n".format(i, "inf" if i == 7 else i % 5) for i in range(50)),
            ),
            "--target",
            "y",
        ],
        "infinite values (1 of 50 rows)",
    ),
    "target all missing": (
        lambda d: [
            "--csv",
            write(d / "nan.csv", "a,y\n" + "".join("{},\n".format(i) for i in range(50))),
            "--target",
            "y",
        ],
        "all missing",
    ),
    "three-class target": (
        lambda d: [
            "--csv",
            write(
                d / "three.csv",
                "a,y\n" + "".join("{},{}\n".format(i, "abc"[i % 3]) for i in range(60)),
            ),
            "--target",
            "y",
        ],
        "only binary classification",
    ),
    "text target as regression": (
        lambda d: [
            "--csv",
            write(
                d / "text.csv",
                "a,y\n" + "".join("{},{}\n".format(i, "ab"[i % 2]) for i in range(60)),
            ),
            "--target",
            "y",
            "--task",
            "regression",
        ],
        "not numeric",
    ),
    "csv without target option": (
        lambda d: ["--csv", write(d / "ok2.csv", "a,y\n1,2\n")],
        "needs --target",
    ),
    "unknown dataset": (lambda d: ["--dataset", "NoSuchData"], "unknown dataset 'NoSuchData'"),
    "unknown model family": (
        lambda d: ["--dataset", "Diabetes", "--models", "glm,forest"],
        "unknown model family forest",
    ),
    "output folder missing": (
        lambda d: ["--dataset", "Diabetes", "--out", str(d / "no" / "such" / "r.html")],
        "does not exist",
    ),
    "output folder not writable": (
        lambda d: ["--dataset", "Diabetes", "--out", "/proc/zeka-report.html"],
        "cannot write",
    ),
    "unknown option": (lambda d: ["--dataset", "Diabetes", "--colour"], "unrecognized arguments"),
}


@pytest.mark.parametrize("case", list(BAD_INPUTS))
def test_bad_input_is_one_line_and_status_2(case, tmp_path):
    make_args, expected = BAD_INPUTS[case]
    args = make_args(tmp_path)
    out_args = [] if "--out" in args else ["--out", str(tmp_path / "r.html")]
    before = set(os.listdir(tmp_path))
    status, out, err = run_command(
        ["report", "--quiet", "--models", "glm"] + args + out_args
        if "--models" not in args
        else ["report", "--quiet"] + args + out_args
    )
    assert status == 2
    assert out == ""
    assert err.count("\n") == 1 and err.startswith("zeka report: error: "), err
    assert expected in err
    assert "Traceback" not in err
    assert set(os.listdir(tmp_path)) == before  # no report, no temporary file


def test_a_failure_while_writing_leaves_the_old_report_alone(tmp_path, monkeypatch):
    from zeka.report import road

    target = tmp_path / "r.html"
    target.write_text("old report")

    def broken_render(self, total_seconds, command):
        raise RuntimeError("disk full")

    monkeypatch.setattr(road.Road, "render", broken_render)
    only_steps(monkeypatch, "integrity", "preparation")
    with pytest.raises(RuntimeError, match="disk full"):
        cli.run(["report", "--quiet", "--dataset", "Diabetes", "--out", str(target)])
    assert target.read_text() == "old report"
    assert os.listdir(tmp_path) == ["r.html"]


def test_a_failing_step_is_reported_and_the_others_run(tmp_path, monkeypatch):
    def broken(state, section):
        raise ValueError("the detector broke")

    only_steps(monkeypatch, "integrity", "preparation", "outliers", outliers=broken)
    target = tmp_path / "r.html"
    status, out, err = run_command(["report", "--dataset", "Diabetes", "--out", str(target)])
    assert status == 1
    assert "failed: Outliers" in out
    assert "report: preparation" in err  # the progress bar, without --quiet
    document = Document(target.read_text())
    assert document.readings["outliers"].startswith(
        "This step failed: ValueError: the detector broke"
    )
    assert "the modelling steps use 442 of the 442 rows" in document.readings["preparation"].lower()


def test_help_explains_every_option_with_an_example():
    result = subprocess.run(
        [sys.executable, "-m", "zeka", "report", "--help"],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0
    for option in (
        "--dataset",
        "--csv",
        "--target",
        "--task",
        "--out",
        "--models",
        "--seed",
        "--quiet",
        "--outliers",
        "examples:",
        "zeka report --csv",
    ):
        assert option in result.stdout


def test_bad_input_from_a_real_process_has_no_traceback(tmp_path):
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "zeka",
            "report",
            "--dataset",
            "Nope",
            "--out",
            str(tmp_path / "r.html"),
        ],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 2
    assert result.stderr.startswith("zeka report: error: unknown dataset 'Nope'")
    assert result.stderr.count("\n") == 1
    assert os.listdir(tmp_path) == []


def test_markup_in_the_users_data_is_shown_as_text(tmp_path, monkeypatch):
    rng = np.random.default_rng(1)
    frame = pd.DataFrame(
        {
            "<b>bold</b>": rng.normal(size=120),
            "note": rng.choice(["<script>alert(1)</script>", "a&b"], size=120),
        }
    )
    frame["y"] = (frame["<b>bold</b>"] + rng.normal(size=120) > 0).astype(int)
    frame.to_csv(tmp_path / "markup.csv", index=False)
    only_steps(monkeypatch, "integrity", "preparation", "outliers")
    status, out, err = run_command(
        [
            "report",
            "--quiet",
            "--csv",
            str(tmp_path / "markup.csv"),
            "--target",
            "y",
            "--out",
            str(tmp_path / "r.html"),
        ]
    )
    assert status == 0, out + err
    text = (tmp_path / "r.html").read_text()
    assert "<script" not in text and "<b>bold" not in text
    assert "&lt;b&gt;bold&lt;/b&gt;" in text
    if not module_missing("integrity"):
        assert "&lt;script&gt;alert(1)&lt;/script&gt;" in text
    assert Document(text).errors == []


def test_dependence_ticks_read_in_the_features_own_units():
    from zeka.data.dataset import Dataset
    from zeka.report.units import original_units

    dataset = Dataset.load("Diabetes")
    pipeline = type("Fitted", (), {"preprocessing_": dataset.preprocessing})()
    names = list(dataset.feature_names)
    numerical = [j for j, kind in enumerate(dataset.feature_types) if kind == "numerical"]
    units = original_units(pipeline, names, names[numerical[0]])
    raw = dataset.get_raw_data(train=True)[0].to_numpy(dtype=float)
    model_x = dataset.train_x
    np.testing.assert_allclose(units.transform(raw)[:, numerical], model_x[:, numerical], atol=1e-9)
    np.testing.assert_allclose(
        units.inverse_transform(model_x)[:, numerical], raw[:, numerical], rtol=1e-9, atol=1e-9
    )
    categorical = [j for j in range(len(names)) if j not in numerical]
    if categorical:  # no standardisation to undo: no scaler, plain ticks
        assert original_units(pipeline, names, names[categorical[0]]) is None


def test_the_best_models_own_views_sit_beside_shap(report):
    if module_missing("explanation"):
        pytest.skip("the SHAP module is not built")
    doc = report["doc"]
    alts = [alt for s, _, alt in doc.images if s == "explanation"]
    reading = doc.readings["explanation"]
    if not any(alt.startswith("glm ") and alt.endswith("local_fi") for alt in alts):
        assert any(alt.endswith("tree_local") for alt in alts), alts
        return
    tables = doc.tables["explanation"]
    header = [t for t in tables if t and "SHAP value" in t[0]]
    assert len(header) == 1
    rows = [[float(v) for v in r[1:]] for r in header[0][1:]]
    assert len(rows) == 10  # every Diabetes feature
    for shap_value, own, difference in rows:
        assert difference == pytest.approx(shap_value - own, abs=2e-4)
    largest = max(abs(r[2]) for r in rows)
    stated = float(re.search(r"by at most ([0-9.e+-]+)", reading).group(1))
    assert stated == pytest.approx(largest, rel=2e-3, abs=1e-3)
    coefficients = [t for t in tables if t and "std_error" in t[0]]
    assert len(coefficients) == 1 and len(coefficients[0]) == 12  # header, intercept, 10


# -- the outlier detector ---------------------------------------------------------------


def test_outliers_option_offers_every_method_of_the_table():
    from zeka.config.estimator_settings import od_param_items
    from zeka.report.steps.outliers import METHODS

    assert list(METHODS) == list(od_param_items)
    status, _, err = run_command(["report", "--outliers", "lof", "--out", "x.html"])
    assert status == 2 and "invalid choice: 'lof'" in err


@pytest.mark.parametrize("method", ["cbtree"])
def test_outliers_option_runs_that_detector(method, tmp_path, monkeypatch):
    from zeka.data.dataset import Dataset
    from zeka.data.outlier_detection import DETECTORS

    only_steps(monkeypatch, "integrity", "preparation", "outliers")
    target = tmp_path / "r.html"
    status, out, err = run_command(
        ["report", "--quiet", "--dataset", "Diabetes", "--outliers", method, "--out", str(target)]
    )
    assert status == 0, out + err
    document = Document(target.read_text())
    dataset = Dataset.load("Diabetes", random_state=0)
    detector = DETECTORS[method]().fit(dataset.train_x)
    flagged = int((detector.predict() == -1).sum())
    reading = document.readings["outliers"]
    assert '(method "{}"'.format(method) in reading
    assert "{} rows ({:.1f}%)".format(flagged, 100 * flagged / len(detector.score)) in reading
    top = document.tables["outliers"][0]
    labels = [row[0] for row in top[1:] if row and row[0].isdigit()]
    order = np.argsort(-detector.score, kind="stable")[:10]
    assert labels == [str(label) for label in dataset.raw_data.index[dataset.train_index[order]]]
