"""The Panel: the state of one walk down the road, and the methods that run each step.

Every step is a method (``check``, ``prepare``, ``detect_outliers``, ``score_features``,
``train``, ``explain``, ``shap_plot``, ``write_report``, ``code``) that the tab's
button calls too, so a script drives the panel exactly as the clicks do. A step
that cannot run or fails says why in its tab and returns None; the other steps
keep working. Nothing passed in is modified: the frame is only read.
"""

from zeka.panel import ui
from zeka.panel.source import resolve, target_problem


class Panel:
    """The notebook panel over one table; ``zeka.panel(data, target=None, task=None)``.

    Attributes after each step: ``checks`` (the integrity checks' results), ``prep`` and
    ``dataset`` (the prepared table), ``outlier_detector``, ``outlier_scores``,
    ``feature_scores``, ``api`` (the ModelAPI of the last training), ``leaderboard``,
    ``models`` (family key to its trained pipeline), ``failures`` (family key to the
    message shown beside it), ``interpretation``, ``shap_figure``.
    ``widgets[family][parameter]`` is the widget of each shown parameter.
    """

    def __init__(self, data, target=None, task=None, widgets=None):
        if widgets is None:
            import ipywidgets as widgets
        self._w = widgets
        frame, target, name, task = resolve(data, target, task)
        self.frame = frame
        self.name = name
        self.target = target
        self.task = task  # None: inferred from the target
        self.seed = 0
        self.test_ratio = 0.2
        self.normalize = "unit_norm"
        self.closed = False
        self._busy = False
        self.train_runs = 0
        self._clear_results()
        self.prep = None
        self.dataset = None
        self.checks = None
        self.problem = None
        self.widgets = {}
        self.family_checks = {}
        self._build()
        self._settle_target()

    # -- state -----------------------------------------------------------------------

    def _clear_results(self):
        self.api = None
        self.leaderboard = None
        self.models = {}
        self.failures = {}
        self.outlier_detector = None
        self.outlier_scores = None
        self.feature_scores = None
        self.interpretation = None
        self.shap_figure = None
        self.shap_result = None
        self._explainers = {}
        self.parameters_used = {}

    @property
    def feature_names(self):
        if self.dataset is not None:
            return list(self.dataset.feature_names)
        return [c for c in self.frame.columns if c != self.target]

    @property
    def task_type(self):
        if self.dataset is not None:
            return self.dataset.task_type
        if self.task is not None:
            return self.task
        if (
            self.target in self.frame.columns
            and target_problem(self.frame, self.target, None) is None
        ):
            from zeka.panel.source import infer_task

            return infer_task(self.frame[self.target].dropna())
        return "classification"

    def set_target(self, target, task=None):
        """Choose the target column and the task (None infers it); prepares the table again."""
        self.target = target
        self.task = task
        self._settle_target()
        return self.problem is None

    def _settle_target(self):
        """Prepare the table for the chosen target; rebuild what depends on the task."""
        self.problem = target_problem(self.frame, self.target, self.task)
        self.prep, self.dataset = None, None
        self._clear_results()
        if self.problem is None:
            self.prepare()
        self.data_tab.show_target()
        self.models_tab.build()
        self.outliers_tab.reset()
        self.train_tab.reset()
        self.interpret_tab.reset()

    def _refuse(self, tab, what):
        """The message of a step that cannot run yet; None when it can."""
        if self.problem is not None:
            text = "{} needs a usable target: {}.".format(what, self.problem)
        elif self.dataset is None:
            text = "{} needs the prepared table; see the Preparation tab.".format(what)
        else:
            return None
        tab.say(text, "error")
        return text

    # -- the widgets -----------------------------------------------------------------

    def _build(self):
        from zeka.panel.data_tab import DataTab
        from zeka.panel.export_tab import ExportTab
        from zeka.panel.interpret_tab import InterpretTab
        from zeka.panel.models_tab import ModelsTab
        from zeka.panel.outliers_tab import OutliersTab
        from zeka.panel.preparation_tab import PreparationTab
        from zeka.panel.train_tab import TrainTab

        w = self._w
        self.data_tab = DataTab(self)
        self.preparation_tab = PreparationTab(self)
        self.outliers_tab = OutliersTab(self)
        self.models_tab = ModelsTab(self)
        self.train_tab = TrainTab(self)
        self.interpret_tab = InterpretTab(self)
        self.export_tab = ExportTab(self)
        self.tabs = [
            ("Data", self.data_tab),
            ("Preparation", self.preparation_tab),
            ("Outliers and features", self.outliers_tab),
            ("Models", self.models_tab),
            ("Train", self.train_tab),
            ("Interpret", self.interpret_tab),
            ("Export", self.export_tab),
        ]
        self.tab = w.Tab(children=[tab.box for _, tab in self.tabs])
        for k, (title, _) in enumerate(self.tabs):
            self.tab.set_title(k, title)
        header = w.HTML(
            value=ui.CSS
            + "<b>zeka panel</b>: {} ({} rows x {} columns)".format(
                ui.html.escape(str(self.name)), *self.frame.shape
            )
        )
        self.root = w.VBox([header, self.tab], layout=w.Layout(width="100%"))
        self.root.add_class("zeka-panel")

    def _ipython_display_(self):
        from IPython.display import display

        if self.closed:
            self.reopen()
        display(self.root)

    def close(self):
        """Close every widget of the panel; the results stay, ``reopen()`` shows it again."""
        self._kept_values = {
            family: {key: widget.value for key, widget in ws.items()}
            for family, ws in self.widgets.items()
        }
        self._kept_choice = self.chosen_families()
        for widget in self._all_widgets():
            widget.close()
        self.closed = True

    def reopen(self):
        """New widgets for a closed panel, with the values its parameter widgets had."""
        if not self.closed:
            self.close()
        results = {
            k: getattr(self, k)
            for k in (
                "api",
                "leaderboard",
                "models",
                "failures",
                "outlier_detector",
                "outlier_scores",
                "feature_scores",
                "interpretation",
                "shap_figure",
                "shap_result",
                "_explainers",
                "parameters_used",
                "checks",
            )
        }
        self._build()
        self.closed = False
        self.data_tab.show_target()
        self.models_tab.build()
        for family, values in getattr(self, "_kept_values", {}).items():
            for key, value in values.items():
                if key in self.widgets.get(family, {}):
                    try:
                        self.widgets[family][key].value = value
                    except Exception:  # a value the rebuilt widget no longer offers
                        pass
        for family, box in self.family_checks.items():
            box.value = family in getattr(self, "_kept_choice", list(self.family_checks))
        for k, v in results.items():
            setattr(self, k, v)
        self.outliers_tab.reset()
        self.train_tab.reset()
        self.interpret_tab.reset()
        if self.checks is not None:
            self.data_tab.show_checks()
        if self.prep is not None:
            self.preparation_tab.show()
        if self.leaderboard is not None:
            self.train_tab.show_leaderboard()
            self.interpret_tab.refresh_models()
        return self

    def _all_widgets(self):
        seen, todo = set(), [self.root]
        while todo:
            widget = todo.pop()
            if id(widget) in seen:
                continue
            seen.add(id(widget))
            yield widget
            todo.extend(getattr(widget, "children", ()) or ())

    # -- the steps -------------------------------------------------------------------

    def check(self):
        """The integrity checks of the table as given: per column, duplicated rows,
        associations; their tables in the Data tab."""
        from zeka.data.dataset import infer_feature_type
        from zeka.data.quality_scan.quality_scan import DataIntegrityCheck

        tab = self.data_tab
        tab.say("running the integrity checks ...")
        try:
            meta_info = {c: infer_feature_type(self.frame[c]) for c in self.frame.columns}
            check = DataIntegrityCheck(self.frame, meta_info)
            self.checks = {
                "meta_info": meta_info,
                "single_column": check.single_column_check(),
                "duplicated": check.duplicated_samples(),
                "association": check.highly_correlated_features(),
            }
        except Exception as error:
            self.checks = None
            tab.say("The integrity checks failed: " + ui.first_line(error), "error")
            return None
        tab.say("")
        tab.show_checks()
        return self.checks

    def prepare(self, test_ratio=None, seed=None, normalize=None):
        """What the models use and leave out, the split and the preprocessing."""
        from zeka.data.dataset import Dataset
        from zeka.report.inputs import ReportInputError, Source, prepare

        if test_ratio is not None:
            self.test_ratio = test_ratio
        if seed is not None:
            self.seed = seed
        if normalize is not None:
            self.normalize = None if normalize == "none" else normalize
        tab = self.preparation_tab
        if self.problem is not None:
            tab.say("The table cannot be prepared: {}.".format(self.problem), "error")
            return None
        self.prep, self.dataset = None, None
        self._clear_results()
        try:
            prep = prepare(Source(self.frame, self.target, str(self.name), self.task))
            dataset = Dataset(
                prep.frame,
                self.target,
                task_type=self.task,
                test_ratio=self.test_ratio,
                random_state=self.seed,
                normalize=self.normalize,
                name=str(self.name),
            )
            if dataset.task_type == "classification":
                import numpy as np

                if np.bincount(dataset.train_y, minlength=2).min() < 2:
                    raise ValueError(
                        "the smaller class of the target has too few rows to train and test on"
                    )
        except (ReportInputError, ValueError, TypeError) as error:
            text = (
                str(error)
                .replace("--target", "the target selector")
                .replace("--task", "the task selector")
            )
            tab.say("The table cannot be prepared: {}".format(text), "error")
            self.problem = text
            self.data_tab.show_target()
            return None
        self.prep, self.dataset = prep, dataset
        tab.say("")
        tab.show()
        if hasattr(self, "train_tab"):
            self.train_tab.reset()
            self.interpret_tab.reset()
        return dataset

    def detect_outliers(self):
        """The one-class SVM with the parameters of its widgets, on the training covariates."""
        from zeka.data.outlier_detection.novelty import OneClassSVM

        tab = self.outliers_tab
        if self._refuse(tab, "The outlier detection"):
            return None
        try:
            parameters = tab.detector_parameters()
            detector = OneClassSVM(**parameters)
            detector.fit(self.dataset.train_x)
        except Exception as error:
            tab.say("The one-class SVM refused: " + ui.first_line(error), "error")
            return None
        import numpy as np

        self.outlier_detector = detector
        self.outlier_scores = np.asarray(detector.score, dtype=float)
        tab.say("")
        tab.show_outliers()
        return self.outlier_scores

    def score_features(self, method=None):
        """Feature scores of the chosen method (pfi uses the best trained model)."""
        import numpy as np

        from zeka.data.variable_screen import FeatureSelection

        tab = self.outliers_tab
        if method is not None:
            tab.method.value = method
        method = tab.method.value
        if self._refuse(tab, "The feature scores"):
            return None
        dataset = self.dataset
        threshold = {"pfi": 0.9, "cor": 0.1, "rit": 0.05, "dcor": 0.1}[method]
        estimator = None
        x, y, _ = dataset.get_data(train=True)
        if method == "pfi":
            best = self.best_model()
            if best is None:
                tab.say("pfi needs a trained model: train in the Train tab first.", "error")
                return None
            x, y, _ = self.models[best].get_data(test=True)
            estimator = self.models[best].estimator
        try:
            selector = FeatureSelection(
                method=method,
                estimator=estimator,
                threshold=threshold,
                X=np.asarray(x, dtype=float),
                y=np.asarray(y, dtype=float).reshape(-1, 1),
                feature_names=list(dataset.feature_names),
                target_name=str(dataset.target),
                random_state=self.seed,
            )
            scores, chosen = selector.variable_screen()
        except Exception as error:
            tab.say("The feature scores failed: " + ui.first_line(error), "error")
            return None
        import pandas as pd

        table = pd.DataFrame(
            {"score": np.asarray(scores, dtype=float)}, index=pd.Index(dataset.feature_names)
        )
        table["selected"] = ""
        for rank, i in enumerate(chosen, start=1):
            table.iloc[int(i), 1] = "\u2713 {}".format(rank)
        self.feature_scores = {"method": method, "threshold": threshold, "table": table}
        tab.say("")
        tab.show_scores()
        return table

    def chosen_families(self):
        return [key for key, box in self.family_checks.items() if box.value]

    def choose(self, families):
        """Tick exactly these families for training."""
        unknown = [f for f in families if f not in self.family_checks]
        if unknown:
            raise ValueError(
                "unknown families {}; the families are {}".format(
                    unknown, ", ".join(self.family_checks)
                )
            )
        for key, box in self.family_checks.items():
            box.value = key in families

    def train(self, families=None):
        """Train the ticked families (or `families`) through ModelAPI; returns the leaderboard."""
        from zeka.panel.training import train

        if families is not None:
            self.choose(families)
        tab = self.train_tab
        if self._busy:
            tab.say("Training is already running; wait for it to finish.", "warn")
            return None
        if self._refuse(tab, "Training"):
            return None
        self._busy = True
        try:
            return train(self)
        finally:
            self._busy = False

    def best_model(self):
        if self.leaderboard is None or len(self.leaderboard) == 0:
            return None
        return self.leaderboard["Model"].iloc[0]

    def sort_leaderboard(self, metric):
        """The leaderboard ranked by the test score of `metric`."""
        if self.api is None:
            return None
        self.train_tab.sort.value = metric
        return self.leaderboard

    def explain(self, model=None, view=None, row=None):
        """One interpretation view of a trained model (see zeka.interpret)."""
        return self.interpret_tab.explain(model, view, row)

    def shap_plot(self, model=None, plot=None, row=None):
        """A SHAP plot of a trained model: "bar", "beeswarm" or, for one row, "waterfall"."""
        return self.interpret_tab.shap(model, plot, row)

    def write_report(self, path):
        """The HTML report of what was done in the panel; returns the path."""
        return self.export_tab.write(path)

    def code(self):
        """Python that reproduces the chosen models with the chosen parameters."""
        from zeka.panel.export import reproducing_code

        return reproducing_code(self)

    def __repr__(self):
        return "Panel({!r}, target={!r}, task={!r}, trained={})".format(
            self.name, self.target, self.task_type, list(self.models)
        )


def open_panel(data, target=None, task=None):
    """The panel over `data` (a built-in dataset's name or a frame); display it in a cell."""
    return Panel(data, target=target, task=task)
