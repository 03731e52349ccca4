"""The Outliers and features tab: the one-class SVM and the feature scores."""

import numpy as np

from zeka.panel import ui
from zeka.panel.parameters import build_widget, read, shown

METHODS = [
    ("permutation importance, best model (pfi)", "pfi"),
    ("correlation (cor)", "cor"),
    ("independence test (rit)", "rit"),
    ("distance correlation (dcor)", "dcor"),
]
ROWS_SHOWN = 10


class OutliersTab(ui.Tab):
    css = "zeka-outliers"

    def __init__(self, panel):
        from zeka.config.estimator_settings import od_param_items

        super().__init__(panel)
        w = self.w
        self.table = od_param_items["novelty"]
        self.detector_widgets = {
            key: build_widget(w, entry, css_class="zeka-od-" + key)
            for key, entry in shown(self.table)
        }
        self.detect = ui.button(w, "Detect outliers", "zeka-detect")
        self.detect.on_click(lambda _: panel.detect_outliers())
        self.outliers = w.HTML()
        self.histogram = w.Box()
        self.method = w.Dropdown(
            options=METHODS,
            value="cor",
            description="Method",
            style={"description_width": "70px"},
            layout=w.Layout(width="420px"),
        )
        self.method.add_class("zeka-fs-method")
        self.run_scores = ui.button(w, "Score the features", "zeka-score")
        self.run_scores.on_click(lambda _: panel.score_features())
        self.scores = w.HTML()
        detector = w.VBox(
            [
                w.HTML(value="<h4>One-class SVM</h4>"),
                w.GridBox(
                    list(self.detector_widgets.values()),
                    layout=w.Layout(
                        grid_template_columns="repeat(auto-fill, minmax(310px, 1fr))",
                        grid_gap="2px 8px",
                    ),
                ),
                self.detect,
                self.outliers,
                self.histogram,
            ]
        )
        features = w.VBox(
            [
                w.HTML(value="<h4>Feature scores</h4>"),
                w.HBox([self.method, self.run_scores]),
                self.scores,
            ]
        )
        self.box.children = [self.message, detector, features]

    def detector_parameters(self):
        return read("novelty", self.table, self.detector_widgets, self.panel.feature_names)

    def reset(self):
        self.outliers.value = ""
        self.histogram.children = []
        self.scores.value = ""

    def show_outliers(self):
        from zeka.report.steps import outliers
        from zeka.report.styling import plain_number

        panel = self.panel
        scores = panel.outlier_scores
        top = outliers.most_outlying_rows(panel.dataset, scores).head(ROWS_SHOWN)
        styled = (
            top.style.format(plain_number, na_rep="missing", escape="html")
            .format("{:.3f}", subset=["Outlier score"])
            .background_gradient(subset=["Outlier score"], cmap="Oranges")
        )
        outside = scores > 0
        self.outliers.value = ui.message_html(
            "{} of the {} training rows ({:.1%}) lie outside the learned support.".format(
                int(outside.sum()), len(scores), float(np.mean(outside))
            )
        ) + ui.table_html(styled, caption="The most outlying training rows, as loaded")
        png = ui.figure_png(outliers.score_histogram(scores))
        self.histogram.children = [ui.image(self.w, png, "zeka-outlier-histogram")]

    def show_scores(self):
        result = self.panel.feature_scores
        table = result["table"]
        styled = table.style.format(escape="html").format("{:.4f}", subset=["score"])
        self.scores.value = ui.table_html(
            styled,
            caption="{}: {} features selected (threshold {}).".format(
                result["method"], int((table["selected"] != "").sum()), result["threshold"]
            ),
        )
