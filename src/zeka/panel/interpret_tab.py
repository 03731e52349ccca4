"""The Interpret tab: a trained model's own views (zeka.interpret), its SHAP plots, a row.

The views a family offers are those of ``INTERPRET_SUPPORT``, grouped into the panels
of ``INTERPRET_PANEL_SETTING``; a view this build does not provide yet says so here,
and the tab keeps working.
"""

import contextlib

import numpy as np
import pandas as pd

from zeka.panel import ui

SHAP_PLOTS = [
    ("bar (global)", "bar"),
    ("beeswarm (global)", "beeswarm"),
    ("waterfall (row)", "waterfall"),
]
TABLE_ROWS = 30


@contextlib.contextmanager
def no_show():
    """The plotting helpers call pyplot.show(); in the panel the figure goes to an image."""
    import matplotlib.pyplot as plt

    show = plt.show
    plt.show = lambda *args, **kwargs: None
    try:
        yield
    finally:
        plt.show = show


class InterpretTab(ui.Tab):
    css = "zeka-interpret"

    def __init__(self, panel):
        super().__init__(panel)
        w = self.w
        style = {"description_width": "60px"}
        self.model = w.Dropdown(
            options=[], description="Model", style=style, layout=w.Layout(width="240px")
        )
        self.model.add_class("zeka-interpret-model")
        self.model.observe(lambda _: self._views(), names="value")
        self.view = w.Dropdown(
            options=[], description="View", style=style, layout=w.Layout(width="300px")
        )
        self.view.add_class("zeka-interpret-view")
        self.row = w.BoundedIntText(
            value=0,
            min=0,
            max=0,
            description="Test row",
            style={"description_width": "70px"},
            layout=w.Layout(width="190px"),
        )
        self.row.add_class("zeka-row")
        self.show_view = ui.button(w, "Show view", "zeka-show-view")
        self.show_view.on_click(lambda _: panel.explain())
        self.plot = w.Dropdown(
            options=SHAP_PLOTS,
            value="bar",
            description="SHAP",
            style=style,
            layout=w.Layout(width="240px"),
        )
        self.plot.add_class("zeka-shap-plot")
        self.show_shap = ui.button(w, "Show SHAP plot", "zeka-show-shap")
        self.show_shap.on_click(lambda _: panel.shap_plot())
        self.shap_message = ui.message(w, css_class="zeka-shap-message")
        self.groups = w.HTML()
        self.output = w.VBox()
        self.output.add_class("zeka-interpret-output")
        self.box.children = [
            self.message,
            w.HBox([self.model, self.row]),
            w.HBox([self.view, self.show_view]),
            self.groups,
            w.HBox([self.plot, self.show_shap]),
            self.shap_message,
            self.output,
        ]

    def reset(self):
        self.model.options = []
        self.view.options = []
        self.groups.value = ""
        self.output.children = []
        self.say("Train a model in the Train tab to interpret it." if not self.panel.models else "")

    def refresh_models(self):
        panel = self.panel
        from zeka.config.estimator_settings import model_name_items

        order = list(panel.leaderboard["Model"]) if panel.leaderboard is not None else []
        self.model.options = [(model_name_items.get(m, m), m) for m in order]
        if order:
            self.model.value = order[0]
            rows = len(panel.dataset.test_index)
            self.row.max = max(rows - 1, 0)
            self.say("")
        self._views()

    def _views(self):
        from zeka import interpret

        family = self.model.value
        if family is None or family not in self.panel.models:
            self.view.options = []
            self.groups.value = ""
            return
        estimator = self.panel.models[family].estimator
        views = interpret.supported(estimator)
        self.view.options = views
        if views:
            self.view.value = views[0]
        groups = interpret.panel_groups(estimator)
        self.groups.value = '<p class="note">Panels: {}</p>'.format(
            "; ".join("{}: {}".format(name, ", ".join(v) or "none") for name, v in groups.items())
            or "none for this family (every view stands alone)"
        )

    def _pick(self, model, row):
        panel = self.panel
        if model is not None:
            self.model.value = model
        if row is not None:
            self.row.value = row
        if not panel.models:
            self.say("Train a model in the Train tab first.", "error")
            return None
        return panel.models[self.model.value]

    def explain(self, model=None, view=None, row=None):
        from zeka import interpret

        pipeline = self._pick(model, row)
        if pipeline is None:
            return None
        if view is not None:
            self.view.value = view
        view = self.view.value
        if view is None:
            self.say("Choose a view first.", "error")
            return None
        if view in interpret.LOCAL_VIEWS:
            x, y, _ = pipeline.get_data(test=True)
            kwargs = {"row": int(self.row.value)}
        else:
            x, y, _ = pipeline.get_data(train=True)
            kwargs = {"y": y}
        # the model matrix, labelled with the dataset's feature names as the SHAP plots are
        frame = pd.DataFrame(
            np.asarray(x, dtype=float), columns=list(self.panel.dataset.feature_names)
        )
        try:
            with ui.quiet():
                result = interpret.explain(pipeline.estimator, view, frame, **kwargs)
                png = ui.figure_png(result.figure())
        except NotImplementedError as error:
            self.panel.interpretation = None
            self.output.children = []
            self.say(
                "The view {!r} is not available in this build yet ({}); the SHAP plots "
                "below explain this model meanwhile.".format(view, error),
                "warn",
            )
            return None
        except Exception as error:
            self.panel.interpretation = None
            self.output.children = []
            self.say("The view {!r} failed: {}".format(view, ui.first_line(error)), "error")
            return None
        self.panel.interpretation = result
        self.say("")
        children = [ui.image(self.w, png, "zeka-view-figure")]
        tables = result.data if isinstance(result.data, dict) else {view: result.data}
        for name, table in tables.items():
            children.append(self.w.HTML(value=ui.table_html(_head(table), caption=str(name))))
        self.output.children = children
        return result

    def _explainer(self, family, pipeline):
        from zeka.explainer.shap import SHAP

        if family not in self.panel._explainers:
            explainer = SHAP(
                pipeline.estimator,
                feature_names=list(self.panel.dataset.feature_names),
                masker_sample_size=30,
                sample_size=100,
                random_state=self.panel.seed,
            )
            x, _, _ = pipeline.get_data(train=True)
            explainer.fit(np.asarray(x, dtype=float))
            self.panel._explainers[family] = explainer
        return self.panel._explainers[family]

    def shap(self, model=None, plot=None, row=None):
        pipeline = self._pick(model, row)
        if pipeline is None:
            return None
        if plot is not None:
            self.plot.value = plot
        plot = self.plot.value
        family = self.model.value
        shown = min(len(self.panel.dataset.feature_names), 12)
        try:
            with ui.quiet(), no_show():
                explainer = self._explainer(family, pipeline)
                if plot == "waterfall":
                    x, _, _ = pipeline.get_data(test=True)
                    result = explainer.local_explain_data(
                        np.asarray(x, dtype=float)[int(self.row.value)]
                    )
                    fig = explainer.plot_shap(result, "waterfall", max_show=shown, figsize=(7, 5))
                else:
                    result = explainer.global_explain_data()
                    fig = explainer.plot_shap(
                        result, plot, max_show=shown, figsize=(7, 0.4 * shown + 1.5)
                    )
                png = ui.figure_png(fig)
        except Exception as error:
            self.shap_message.value = ui.message_html(
                "The SHAP plot failed: " + ui.first_line(error), "error"
            )
            return None
        self.panel.shap_result = (family, plot, result)
        self.panel.shap_figure = png
        self.shap_message.value = ""
        self.output.children = [ui.image(self.w, png, "zeka-shap-figure")]
        return png


def _head(table):
    if isinstance(table, pd.Series):
        table = table.to_frame()
    if not isinstance(table, pd.DataFrame):
        return pd.DataFrame({"value": [str(table)]}).style
    return table.head(TABLE_ROWS).style.format(precision=4, escape="html")
