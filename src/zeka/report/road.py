"""The road from a raw table to an explained model, one report section per step.

The steps run in the order the computations need (the feature scores use the
best model), and the sections are shown in the order a reader walks the road:
integrity, preparation, feature selection, outliers, models, explanation.
Each step calls the package's modules; this file only orchestrates and words
what they found.
"""

import copy
import importlib
import time
import traceback
import warnings
import io
import sys
from contextlib import contextmanager, redirect_stderr, redirect_stdout
from dataclasses import dataclass, field

import numpy as np
import pandas as pd

from zeka.report import document as doc
from zeka.report.inputs import ReportInputError, prepare

MODEL_FAMILIES = ["glm", "gam", "tree", "figs", "xgb1", "xgb2", "ebm", "gaminet", "reludnn"]
MAIN_METRIC = {"classification": "AUC", "regression": "MSE"}

# Thresholds of the feature scores (what "selected" means in the table).
PFI_SHARE = 0.9  # best features until their permutation-importance shares reach 90%
COR_MIN = 0.1  # absolute Pearson correlation above 0.1
RIT_P = 0.05  # independence-test p-value below 0.05
DCOR_MIN = 0.1  # distance correlation above 0.1

OUTLIER_NU = 0.05
OUTLIER_ROWS = 10


@dataclass
class Settings:
    models: list = field(default_factory=lambda: list(MODEL_FAMILIES))
    seed: int = 0
    explain_rows: int = 100  # rows of the global SHAP explanation
    background_rows: int = 30  # rows the SHAP masker keeps
    progress: bool = True
    stream: object = None  # where the progress bars go; None is sys.stderr at the start


@dataclass
class StepTime:
    name: str
    seconds: float  # wall clock
    cpu_seconds: float  # this process, all threads: tells a slow step from a busy machine
    status: str


class StepUnavailable(Exception):
    """A step cannot run: a module is missing or an earlier step gave it nothing."""


def _import(module_name, attribute):
    try:
        return getattr(importlib.import_module(module_name), attribute)
    except ImportError as error:
        raise StepUnavailable("the module {} is not available in this installation ({})"
                              .format(module_name, error)) from None


def _warning_text(caught):
    texts = []
    for item in caught:
        if issubclass(item.category, (DeprecationWarning, PendingDeprecationWarning, FutureWarning)):
            continue  # notes between libraries about their next versions, not about the data
        text = "{}: {}".format(item.category.__name__, str(item.message).strip().splitlines()[0]
                               if str(item.message).strip() else "")
        text = text if len(text) <= 220 else text[:217] + "..."
        if text not in texts:
            texts.append(text)
    return texts


@contextmanager
def _collect_warnings(section):
    """Library warnings of a step go into its section instead of the terminal."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        yield
    section.warnings.extend(t for t in _warning_text(caught) if t not in section.warnings)


@contextmanager
def _quiet_libraries():
    """Progress bars and prints of the libraries (shap's explainers) stay off the terminal;
    the report's own bars keep the stream they were made with."""
    sink = io.StringIO()
    with redirect_stdout(sink), redirect_stderr(sink):
        yield


def _pct(share):
    return "{:.1f}%".format(100 * float(share))


def _names(items, limit=6):
    items = [str(i) for i in items]
    if len(items) > limit:
        return ", ".join(items[:limit]) + " and {} more".format(len(items) - limit)
    return ", ".join(items)


def _progress(settings, **kwargs):
    from tqdm.auto import tqdm

    return tqdm(disable=not settings.progress, dynamic_ncols=True, file=settings.stream, **kwargs)


class Road:
    """Runs the road over one loaded table and renders the report."""

    def __init__(self, source, settings):
        self.source = source
        if settings.stream is None:
            settings = copy.copy(settings)
            settings.stream = sys.stderr
        self.settings = settings
        self.times = []
        self.sections = {}
        self.findings = {}
        self.prep = None
        self.dataset = None
        self.api = None
        self.best_name = None
        self.leaderboard = None
        self.feature_scores = None

    # -- running -------------------------------------------------------------------

    STEPS = [
        ("integrity", "Data integrity", "step_integrity"),
        ("preparation", "Preparation", "step_preparation"),
        ("outliers", "Outliers", "step_outliers"),
        ("models", "Models", "step_models"),
        ("features", "Feature selection", "step_features"),
        ("explanation", "Explanation of the best model", "step_explanation"),
    ]
    ORDER = ["integrity", "preparation", "features", "outliers", "models", "explanation"]

    def run(self):
        import matplotlib

        matplotlib.use("Agg")
        bar = _progress(self.settings, total=len(self.STEPS), desc="report", unit="step")
        try:
            for anchor, title, method in self.STEPS:
                bar.set_description("report: " + title.lower())
                section = doc.Section(anchor=anchor, title=title)
                self.sections[anchor] = section
                started, started_cpu = time.perf_counter(), time.process_time()
                status = "done"
                try:
                    with _collect_warnings(section), _quiet_libraries():
                        getattr(self, method)(section)
                except ReportInputError:
                    raise
                except StepUnavailable as why:
                    status = "unavailable"
                    section.unavailable = True
                    section.blocks = []
                    section.reading = "This step was unavailable: {}.".format(why)
                except Exception as error:  # a failed step is reported, the others go on
                    status = "failed"
                    section.unavailable = True
                    section.blocks = ['<pre class="note">{}</pre>'.format(
                        doc.escape(traceback.format_exc(limit=4)))]
                    section.reading = "This step failed: {}: {}".format(
                        type(error).__name__, str(error).strip().splitlines()[0]
                        if str(error).strip() else "")
                self.times.append(StepTime(title, time.perf_counter() - started,
                                           time.process_time() - started_cpu, status))
                bar.update(1)
        finally:
            bar.close()
        return self

    @property
    def failed_steps(self):
        return [t.name for t in self.times if t.status == "failed"]

    @property
    def unavailable_steps(self):
        return [t.name for t in self.times if t.status == "unavailable"]

    # -- 1. integrity --------------------------------------------------------------

    def step_integrity(self, section):
        from zeka.data.dataset import infer_feature_type

        check_class = _import("zeka.data.quality_scan.quality_scan", "DataIntegrityCheck")
        frame = self.source.frame
        meta_info = {column: infer_feature_type(frame[column]) for column in frame.columns}
        check = check_class(frame, meta_info)

        section.add(doc.heading("Column by column"))
        scol = check.single_column_check()
        # Same display, with the table's texts (values of the user's data) escaped for HTML.
        section.add(doc.table(scol.format(precision=4, escape="html"), compact=True))
        section.add(doc.heading("Duplicated rows"))
        duplicates = check.duplicated_samples()
        section.add(self._duplicates_block(duplicates))
        section.add(doc.heading("Association between columns"))
        corr = check.highly_correlated_features()
        # The heat map keeps its colours; narrower cells keep it on a laptop screen, and an
        # undefined association (a constant column) shows as a blank, not as a black cell.
        corr = corr.format(precision=2, escape="html").set_properties(**{"width": "auto"}).apply(
            lambda frame: frame.isna().replace({True: "background-color: #fff; color: #999",
                                                False: ""}), axis=None)
        section.add(doc.table(corr, matrix=True, caption=(
            "Spearman correlation between numerical columns, symmetric Theil's U between "
            "categorical ones, correlation ratio between a numerical and a categorical one.")))
        section.reading = self._integrity_reading(scol.data, duplicates, corr.data)

    def _duplicates_block(self, duplicates):
        if isinstance(duplicates, str):
            return doc.paragraph(duplicates)
        if len(duplicates) == 0:
            return doc.paragraph("No row occurs twice.")
        shown = duplicates.head(10).copy()
        shown.index = [", ".join(str(label) for label in labels) for labels in shown.index]
        shown.columns.name = "Rows"
        caption = "{} distinct rows occur more than once{}; the row labels show where.".format(
            len(duplicates), " (the first 10 are shown)" if len(duplicates) > 10 else "")
        return doc.table(doc.hide_index_names(shown.style.format(_plain_number, escape="html")),
                         caption=caption, compact=True)

    def _integrity_reading(self, scol, duplicates, corr):
        frame = self.source.frame
        single = [c for c, flag in zip(scol.index, scol.iloc[:, 0]) if bool(flag)]
        nulls = scol.iloc[:, 1].astype(float)
        mixed = [c for c, flag in zip(scol.index, scol.iloc[:, 2]) if bool(flag)]
        long_cols = [c for c, n in zip(scol.index, scol.iloc[:, 4]) if n and int(n) > 0]
        special = [c for c, r in zip(scol.index, scol.iloc[:, 6]) if float(r) > 0]
        parts = ["The table as loaded has {} rows and {} columns.".format(*frame.shape)]
        if single:
            parts.append("{} column{} a single value ({}).".format(
                len(single), "s hold" if len(single) != 1 else " holds", _names(single)))
        else:
            parts.append("No column holds a single value.")
        if (nulls > 0).any():
            worst = nulls.idxmax()
            parts.append("{} column{} missing values, most in {} ({}).".format(
                int((nulls > 0).sum()), "s have" if (nulls > 0).sum() != 1 else " has",
                worst, _pct(nulls.max())))
        else:
            parts.append("No value is missing.")
        if mixed:
            parts.append("{} mix{} numbers with text.".format(
                _names(mixed), "" if len(mixed) > 1 else "es"))
        if long_cols:
            parts.append("Unusually long strings appear in {}.".format(_names(long_cols)))
        if special:
            parts.append("Values made only of special characters appear in {}.".format(
                _names(special)))
        if isinstance(duplicates, str) or len(duplicates) == 0:
            parts.append("No row is duplicated.")
        else:
            copies = sum(len(labels) - 1 for labels in duplicates.index)
            parts.append("{} rows repeat an earlier row.".format(copies))
        pair = self._strongest_pair(corr)
        if pair is not None:
            parts.append("The strongest association between two columns is {} and {} "
                         "({:.2f}).".format(*pair))
        flagged = (set(single) | set(mixed) | set(long_cols) | set(special)
                   | set(nulls.index[nulls > 0]))
        self.findings["integrity"] = "{} / {}".format(len(flagged), frame.shape[1])
        return " ".join(parts)

    @staticmethod
    def _strongest_pair(corr):
        values = corr.to_numpy(dtype=float, copy=True)
        if values.size == 0:
            return None
        np.fill_diagonal(values, np.nan)
        if np.all(np.isnan(values)):
            return None
        i, j = np.unravel_index(np.nanargmax(np.abs(values)), values.shape)
        return corr.index[i], corr.columns[j], values[i, j]

    # -- 2. preparation ------------------------------------------------------------

    def step_preparation(self, section):
        from zeka.data.dataset import Dataset

        prep = prepare(self.source)
        try:
            dataset = Dataset(prep.frame, self.source.target, task_type=self.source.task_type,
                              random_state=self.settings.seed, name=self.source.name)
        except ValueError as error:
            raise ReportInputError("the table cannot be used for modelling: {}".format(
                str(error).strip().splitlines()[0])) from None
        if dataset.task_type == "classification":
            counts = np.bincount(dataset.train_y, minlength=2)
            if counts.min() < 2:
                raise ReportInputError("the smaller class of target {!r} has too few rows to "
                                       "train and test on".format(self.source.target))
        self.prep, self.dataset = prep, dataset

        rows = [
            ("Rows loaded", str(prep.rows_loaded), ""),
            ("Rows without a target", "{} left out".format(prep.missing_target_rows),
             "nothing to learn from"),
            ("Duplicated rows", "{} left out".format(prep.duplicated_rows),
             "a repeated row would count twice and could sit in both splits"),
            ("Rows used", str(prep.rows_used), "{} for training, {} for testing ({})".format(
                len(dataset.train_index), len(dataset.test_index),
                "stratified by the target" if dataset.task_type == "classification"
                else "random")),
        ]
        steps = pd.DataFrame(rows, columns=["Step", "Rows", "Why"]).set_index("Step")
        steps.columns.name = "Step"  # shown in the corner cell, above the row labels
        section.add(doc.heading("Rows"))
        section.add(doc.table(doc.hide_index_names(steps.style.format(escape="html"))))

        features = pd.DataFrame({
            "Type": dataset.feature_types,
            "Missing": [float(prep.frame[c].isna().mean()) for c in dataset.feature_names],
            "Distinct values": [int(prep.frame[c].nunique()) for c in dataset.feature_names],
            "Treatment": [self._treatment(c, t) for c, t in
                          zip(dataset.feature_names, dataset.feature_types)],
        }, index=pd.Index(dataset.feature_names, name="Feature"))
        loaded = self.source.frame
        dropped = pd.DataFrame({
            "Type": "left out",
            "Missing": [float(loaded[c].isna().mean()) for c in prep.single_valued_columns],
            "Distinct values": [int(loaded[c].nunique()) for c in prep.single_valued_columns],
            "Treatment": "left out: a single value tells the models nothing",
        }, index=pd.Index(prep.single_valued_columns, name="Feature"))
        table = pd.concat([features, dropped]) if len(dropped) else features
        table.columns.name = "Feature"
        section.add(doc.heading("Columns"))
        styled = table.style.format(escape="html").format("{:.1%}", subset=["Missing"])
        classes = ("" if dataset.class_labels is None else
                   ", classes " + " / ".join(map(str, dataset.class_labels)))
        section.add(doc.table(doc.hide_index_names(styled), caption="Target: {!r} ({}{}).".format(
            self.source.target, dataset.task_type, classes)))
        section.reading = self._preparation_reading(prep, dataset)

    def _treatment(self, name, kind):
        prep = self.prep
        if kind == "categorical":
            text = "missing as the most frequent category; ordinal codes"
        else:
            text = "missing as the median; standardised"
        if name in prep.numeric_text_columns:
            text = "numbers stored as text made numeric ({} words became missing); ".format(
                prep.numeric_text_columns[name]) + text
        return text

    def _preparation_reading(self, prep, dataset):
        parts = ["The modelling steps use {} of the {} rows loaded and {} features.".format(
            prep.rows_used, prep.rows_loaded, len(dataset.feature_names))]
        left = []
        if prep.duplicated_rows:
            left.append("{} duplicated rows".format(prep.duplicated_rows))
        if prep.missing_target_rows:
            left.append("{} rows without a target".format(prep.missing_target_rows))
        if prep.single_valued_columns:
            left.append("the single-valued column{} {}".format(
                "s" if len(prep.single_valued_columns) > 1 else "",
                _names(prep.single_valued_columns)))
        parts.append("Left out: {}.".format("; ".join(left)) if left else "Nothing was left out.")
        for name, lost in prep.numeric_text_columns.items():
            parts.append("{} held numbers stored as text; it was made numeric and its {} "
                         "non-numeric values count as missing.".format(name, lost))
        parts.append("The rows are split {:.0%} for training and {:.0%} for testing (seed {}); "
                     "the preprocessing is fitted on the training rows only: numerical features "
                     "are standardised, categorical ones coded as ordinal integers, and gaps are "
                     "filled with the median or the most frequent category.".format(
                         1 - dataset.test_ratio, dataset.test_ratio, dataset.random_state))
        return " ".join(parts)

    def _require_dataset(self):
        if self.dataset is None:
            raise StepUnavailable("the preparation did not finish, so there is no data to use")

    # -- 3. outliers ---------------------------------------------------------------

    def step_outliers(self, section):
        self._require_dataset()
        detector_class = _import("zeka.data.outlier_detection.novelty", "OneClassSVM")
        dataset = self.dataset
        detector = detector_class(nu=OUTLIER_NU, standardization=True)
        detector.fit(dataset.train_x)
        scores = np.asarray(detector.score, dtype=float)
        outside = scores > 0
        order = np.argsort(-scores, kind="stable")[:OUTLIER_ROWS]
        raw, _, _ = dataset.get_raw_data(train=True)
        top = raw.iloc[order].copy()
        top.insert(0, "Outlier score", scores[order])
        top.columns.name = "Row"
        section.add(doc.heading("The most outlying training rows"))
        styled = (top.style.format(_plain_number, na_rep="missing", escape="html")
                  .format("{:.3f}", subset=["Outlier score"])
                  .background_gradient(subset=["Outlier score"], cmap="Oranges"))
        section.add(doc.table(doc.hide_index_names(styled), compact=True, caption=(
            "Row labels and raw values as loaded; a larger score lies further outside the "
            "region the one-class SVM learned.")))
        section.add(doc.figure(self._score_histogram(scores), alt="Histogram of outlier scores",
                               caption="Outlier scores of the training rows; rows right of the "
                                       "dashed line lie outside the learned support."))
        self.findings["outliers"] = float(outside.mean())
        section.reading = (
            "A one-class SVM (nu = {}, covariates standardised) learned where the {} training rows "
            "lie. {} rows ({}) fall outside that region. nu bounds this share from above, so "
            "a share near {} is expected even without real outliers; look at the rows below, "
            "led by row {}, for values that are unusual together.".format(
                OUTLIER_NU, len(scores), int(outside.sum()), _pct(outside.mean()),
                _pct(OUTLIER_NU), top.index[0]))

    @staticmethod
    def _score_histogram(scores):
        import matplotlib.pyplot as plt

        fig, ax = plt.subplots(figsize=(7, 2.6))
        ax.hist(scores, bins=40, color="#2f5d9a")
        ax.axvline(0, color="#9a4a00", linestyle="--")
        ax.set_xlabel("outlier score")
        ax.set_ylabel("rows")
        return fig

    # -- 4. models -----------------------------------------------------------------

    def step_models(self, section):
        self._require_dataset()
        from zeka.config.estimator_settings import model_param_items, model_param_specific
        from zeka.workflow.workbench import ModelAPI

        dataset = self.dataset
        table = model_param_specific(copy.deepcopy(model_param_items), dataset)
        for params in table.values():
            if "random_state" in params:
                entry = list(params["random_state"])
                entry[3] = self.settings.seed
                params["random_state"] = entry
        api = ModelAPI(dataset, model_list=list(self.settings.models), model_item=table)
        failures = []
        bar = _progress(self.settings, total=len(api.model_dict), desc="models", unit="model",
                        leave=False)
        try:
            for name, pipeline in api.model_dict.items():
                bar.set_description("models: " + name)
                try:
                    api.singlerun(pipeline, name)
                except Exception as error:  # one family failing does not stop the others
                    failures.append((name, "{}: {}".format(type(error).__name__, error)))
                bar.update(1)
        finally:
            bar.close()
        if not api.training_record:
            raise RuntimeError("no model family could be trained: " + "; ".join(
                "{} ({})".format(n, m) for n, m in failures))
        metric = MAIN_METRIC[dataset.task_type]
        board = api.get_leaderboard(rank_metric=metric)
        self.api, self.leaderboard, self.metric = api, board, metric
        self.best_name = board["Model"].iloc[0]

        shown = board.set_index("Model")
        shown.columns.name = "Model"
        styled = doc.hide_index_names(shown.style.format(escape="html")).apply(
            lambda row: ["font-weight: bold; background: #e8eef8" if row.name == self.best_name
                         else "" for _ in row], axis=1)
        section.add(doc.table(styled, caption=(
            "Ranked by the test {}; test and training scores of every metric, and the fit time "
            "in seconds.".format(metric))))
        section.add(doc.figure(self._leaderboard_figure(board, metric), alt="Test and training "
                               "{} per model".format(metric)))
        if failures:
            section.add(doc.paragraph("Not trained: " + "; ".join(
                "{} ({})".format(n, m) for n, m in failures), css_class="note"))
        section.reading = self._models_reading(board, metric, failures)

    def _leaderboard_figure(self, board, metric):
        import matplotlib.pyplot as plt

        names = list(board["Model"])[::-1]
        test = board["test_" + metric].astype(float).to_numpy()[::-1]
        train = board["train_" + metric].astype(float).to_numpy()[::-1]
        fig, ax = plt.subplots(figsize=(6.5, 0.36 * len(names) + 1.0))
        y = np.arange(len(names))
        ax.barh(y + 0.2, test, height=0.4, label="test", color="#2f5d9a")
        ax.barh(y - 0.2, train, height=0.4, label="training", color="#b8c7de")
        ax.set_yticks(y)
        ax.set_yticklabels(names)
        ax.set_xlabel(metric)
        low = min(np.nanmin(test), np.nanmin(train))
        high = max(np.nanmax(test), np.nanmax(train))
        span = (high - low) or abs(high) or 1.0
        ax.set_xlim(max(0.0, low - 0.3 * span) if low >= 0 else low - 0.1 * span,
                    high + 0.05 * span)
        ax.legend(loc="lower center", bbox_to_anchor=(0.5, 1.0), ncol=2, fontsize=8, frameon=False)
        return fig

    def _models_reading(self, board, metric, failures):
        best = board.iloc[0]
        worst = board.iloc[-1]
        lower_better = metric in ("MSE", "MAE", "LogLoss", "Brier")
        parts = ["{} model famil{} trained on {} rows. Ranked by the test {} ({} is better), "
                 "{} comes first with {} (training {}, fitted in {} s).".format(
                     len(board), "ies were" if len(board) != 1 else "y was",
                     len(self.dataset.train_index), metric, "lower" if lower_better else "higher",
                     best["Model"], best["test_" + metric], best["train_" + metric], best["Time"])]
        if len(board) > 1:
            parts.append("The last, {}, reaches {}.".format(worst["Model"], worst["test_" + metric]))
        gap = float(best["train_" + metric]) - float(best["test_" + metric])
        if (gap < 0) if lower_better else (gap > 0):
            size = abs(gap) / max(abs(float(best["test_" + metric])), 1e-12)
            if size > 0.05:
                parts.append("Its training score is clearly better than its test score, a sign "
                             "of some overfitting.")
        if failures:
            parts.append("{} could not be trained (see below).".format(_names(n for n, _ in failures)))
        self.findings["best"] = "{} ({} {})".format(best["Model"], metric, best["test_" + metric])
        return " ".join(parts)

    def _require_best(self):
        if self.best_name is None:
            raise StepUnavailable("no model was trained, so there is no best model to use")
        return self.api.custom_model_dict[self.best_name]

    # -- 5. feature selection ------------------------------------------------------

    def step_features(self, section):
        self._require_dataset()
        selector_class = _import("zeka.data.variable_screen", "FeatureSelection")
        dataset = self.dataset
        names = list(dataset.feature_names)
        train_x, train_y, _ = dataset.get_data(train=True)
        columns = {}
        selected = {}
        settings = [("cor", COR_MIN), ("rit", RIT_P), ("dcor", DCOR_MIN)]
        if self.best_name is not None:
            settings.insert(0, ("pfi", PFI_SHARE))
        for method, threshold in settings:
            if method == "pfi":
                pipeline = self._require_best()
                x, y, _ = pipeline.get_data(test=True)
                estimator = pipeline.estimator
            else:
                x, y, estimator = train_x, train_y, None
            selector = selector_class(method=method, estimator=estimator, threshold=threshold,
                                      X=np.asarray(x, dtype=float),
                                      y=np.asarray(y, dtype=float).reshape(-1, 1),
                                      feature_names=names, target_name=str(dataset.target),
                                      random_state=self.settings.seed)
            scores, chosen = selector.variable_screen()
            columns[method] = np.asarray(scores, dtype=float)
            selected[method] = [int(i) for i in chosen]

        labels = {"pfi": "pfi (share)", "cor": "cor", "rit": "rit (p-value)", "dcor": "dcor"}
        table = pd.DataFrame(index=pd.Index(names, name="Feature"))
        for method, scores in columns.items():
            table[(labels[method], "score")] = scores
            marks = np.full(len(names), "", dtype=object)
            for rank, i in enumerate(selected[method], start=1):
                marks[i] = "\u2713 {}".format(rank)
            table[(labels[method], "selected")] = marks
        table.columns = pd.MultiIndex.from_tuples(table.columns, names=[None, "Feature"])
        table.index.name = None
        score_cols = [c for c in table.columns if c[1] == "score"]
        styled = (table.style.format(escape="html").format("{:.4f}", subset=score_cols)
                  .set_properties(subset=[c for c in table.columns if c[1] == "selected"],
                                  **{"text-align": "center", "color": "#1d6b2f"}))
        caption = ("Selected (with rank): {}cor |r| > {}, rit p < {}, dcor > {}.".format(
            "pfi: most important features up to {:.0%} of the importance (best model {}, "
            "test rows); ".format(PFI_SHARE, self.best_name) if "pfi" in columns else "",
            COR_MIN, RIT_P, DCOR_MIN))
        section.add(doc.table(styled, caption=caption))
        if "pfi" not in columns:
            section.add(doc.paragraph("pfi is missing: it needs a trained model.", css_class="note"))
        self.feature_scores = table
        section.reading = self._features_reading(names, columns, selected)

    def _features_reading(self, names, columns, selected):
        counts = ", ".join("{} {}".format(m, len(s)) for m, s in selected.items())
        everywhere = set(range(len(names)))
        for chosen in selected.values():
            everywhere &= set(chosen)
        nowhere = set(range(len(names)))
        for chosen in selected.values():
            nowhere -= set(chosen)
        parts = ["Four ways to score how much each of the {} features says about the target: "
                 "the drop in the best model's test score when the feature is shuffled (pfi), "
                 "the correlation with the target (cor), an independence test (rit) and the "
                 "distance correlation, which also sees non-linear links (dcor).".format(len(names))]
        parts.append("Features selected: {}.".format(counts))
        if everywhere:
            parts.append("All scores agree on {}.".format(_names(names[i] for i in sorted(everywhere))))
        if nowhere:
            parts.append("No score selects {}; they are candidates to leave out.".format(
                _names(names[i] for i in sorted(nowhere))))
        if "pfi" in columns and selected["pfi"]:
            self.findings["top_feature"] = names[selected["pfi"][0]]
        return " ".join(parts)

    # -- 6. explanation ------------------------------------------------------------

    def step_explanation(self, section):
        self._require_dataset()
        explainer_class = _import("zeka.explainer.shap", "SHAP")
        pipeline = self._require_best()
        dataset = self.dataset
        names = list(dataset.feature_names)
        train_x, _, _ = pipeline.get_data(train=True)
        test_x, _, _ = pipeline.get_data(test=True)
        explainer = explainer_class(pipeline.estimator, feature_names=names,
                                    masker_sample_size=self.settings.background_rows,
                                    sample_size=self.settings.explain_rows,
                                    random_state=self.settings.seed)
        explainer.fit(np.asarray(train_x, dtype=float))
        global_result = explainer.global_explain_data()
        values = global_result.value["shap_values"]
        importance = np.abs(np.asarray(values.values, dtype=float)).mean(axis=0)
        top = names[int(np.argmax(importance))]
        row = self._row_to_explain(pipeline.estimator, test_x)
        local_result = explainer.local_explain_data(np.asarray(test_x, dtype=float)[row])
        scatter_result = explainer.get_global_explain(top)

        plot = explainer_class.plot_shap
        shown = min(len(names), 12)
        blocks = [
            doc.figure(plot(global_result, "bar", max_show=shown, figsize=(7, 0.4 * shown + 1.5)),
                       alt="Mean absolute SHAP value per feature",
                       caption="Global importance: mean |SHAP value| per feature."),
            doc.figure(plot(global_result, "beeswarm", max_show=shown,
                            figsize=(7, 0.4 * shown + 1.5)),
                       alt="SHAP values of every explained row per feature",
                       caption="Each dot is one row: its SHAP value, coloured by the feature value."),
            doc.figure(plot(scatter_result, "scatter", figsize=(7, 4.2),
                            scaler=_original_units(pipeline, names, top)),
                       alt="SHAP dependence of " + top,
                       caption="Dependence on {}, the most important feature.".format(top)),
            doc.figure(plot(local_result, "waterfall", figsize=(7, 5)),
                       alt="SHAP waterfall of one test row",
                       caption="One test row (row {} of the table): how each feature moves the "
                               "prediction away from the average.".format(
                                   dataset.raw_data.index[dataset.test_index[row]])),
        ]
        section.add(doc.figures(blocks[:2]))
        section.add(doc.figures(blocks[2:]))
        local_values = np.asarray(local_result.value["shap_values"].values, dtype=float)
        push = names[int(np.argmax(np.abs(local_values)))]
        output = "the predicted probability of class {!r}".format(dataset.class_labels[1]) \
            if dataset.task_type == "classification" else "the prediction"
        order = np.argsort(-importance)
        section.reading = (
            "SHAP values split each prediction of the best model, {}, into one share per "
            "feature. Over {} training rows the features that move {} most are {}; {} leads. "
            "For the test row shown last, {} moves it most.".format(
                self.best_name, len(values.values), output,
                _names([names[i] for i in order[:3]]), top, push))

    @staticmethod
    def _row_to_explain(estimator, test_x):
        """The test row with the highest model output: the case a reader asks about first."""
        x = np.asarray(test_x, dtype=float)
        if hasattr(estimator, "predict_proba"):
            output = np.asarray(estimator.predict_proba(x))[:, -1]
        else:
            output = np.asarray(estimator.predict(x), dtype=float).ravel()
        return int(np.argmax(output))

    # -- the document --------------------------------------------------------------

    def render(self, total_seconds, command):
        sections = [self.sections[a] for a in self.ORDER if a in self.sections]
        source = self.source
        task = self.dataset.task_type if self.dataset is not None else "task unknown"
        title = "zeka report: {}".format(source.name)
        meta = "{} rows x {} columns as loaded; target {!r} ({}); seed {}; made {} in {:.1f} s.".format(
            source.frame.shape[0], source.frame.shape[1], source.target, task, self.settings.seed,
            time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), total_seconds)
        items = []
        if "integrity" in self.findings:
            items.append((self.findings["integrity"], "columns with an integrity finding"))
        if self.prep is not None:
            items.append(("{} / {}".format(self.prep.rows_used, self.prep.rows_loaded),
                          "rows used / loaded"))
        if "best" in self.findings:
            items.append((self.findings["best"], "best model on the test rows"))
        if "top_feature" in self.findings:
            items.append((self.findings["top_feature"], "most important feature (pfi)"))
        if "outliers" in self.findings:
            items.append((_pct(self.findings["outliers"]), "training rows flagged as outliers"))
        timing = pd.DataFrame([(t.name, "{:.1f}".format(t.seconds), "{:.1f}".format(t.cpu_seconds),
                                t.status) for t in self.times],
                              columns=["Step", "Seconds", "CPU seconds", "Status"]).set_index("Step")
        timing.columns.name = "Step"
        footer = ("<h3>How long each step took</h3>"
                  + doc.table(doc.hide_index_names(timing.style.format(escape="html"))) +
                  doc.paragraph("Made with zeka {} by: {}".format(_version(), command), "note"))
        return doc.render(title, meta, doc.glance(items), sections, footer)


class _OriginalUnits:
    """The fitted standardisation of the numerical features, seen over all features.

    The dependence plot draws a feature as the model saw it (standardised); with this
    as its scaler the tick labels read in the feature's own units. Other features
    pass through unchanged.
    """

    def __init__(self, names, positions, scaler):
        self.feature_names_in_ = np.asarray(names, dtype=object)
        self.n_features_in_ = len(names)
        self.mean_ = np.zeros(len(names))
        self.scale_ = np.ones(len(names))
        self.mean_[positions] = scaler.mean_
        self.scale_[positions] = scaler.scale_

    def transform(self, x):
        return (np.asarray(x, dtype=float) - self.mean_) / self.scale_

    def inverse_transform(self, x):
        return np.asarray(x, dtype=float) * self.scale_ + self.mean_


def _original_units(pipeline, names, feature):
    """A scaler for the dependence plot's ticks, or None when the feature is not standardised."""
    preprocessing = getattr(pipeline, "preprocessing_", None)
    try:
        prep = preprocessing.preprocessor_
        if prep.normalize_strategy != "unit_norm":
            return None
        positions = list(prep.nfeature_index_list)
        scaler = prep.ntransformer.named_steps["scaling"]
        scaler.mean_, scaler.scale_
    except (AttributeError, KeyError, TypeError):
        return None
    if names.index(feature) not in positions or len(scaler.mean_) != len(positions):
        return None
    return _OriginalUnits(names, positions, scaler)


def _plain_number(value):
    """Whole numbers without decimals, others with up to four significant decimals."""
    if isinstance(value, (int, np.integer)):
        return str(value)
    if isinstance(value, (float, np.floating)):
        if np.isnan(value):
            return "missing"
        if float(value).is_integer():
            return "{:.0f}".format(value)
        return "{:.4g}".format(value)
    return str(value)


def _version():
    import zeka

    return getattr(zeka, "__version__", "?")
