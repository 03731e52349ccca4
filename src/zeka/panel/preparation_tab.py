"""The Preparation tab: what the models use and leave out, the split and the preprocessing."""

from zeka.panel import ui

NORMALIZE = [
    ("standardise (unit_norm)", "unit_norm"),
    ("scale to [0, 1] (minmax)", "minmax"),
    ("none", "none"),
]


class PreparationTab(ui.Tab):
    css = "zeka-preparation"

    def __init__(self, panel):
        super().__init__(panel)
        w = self.w
        style = {"description_width": "110px"}
        self.test_ratio = w.BoundedFloatText(
            value=panel.test_ratio,
            min=0.05,
            max=0.5,
            step=0.05,
            description="Test share",
            style=style,
            layout=w.Layout(width="220px"),
        )
        self.seed = w.BoundedIntText(
            value=panel.seed,
            min=0,
            max=1_000_000,
            description="Seed",
            style=style,
            layout=w.Layout(width="220px"),
        )
        self.normalize = w.Dropdown(
            options=NORMALIZE,
            value=panel.normalize or "none",
            description="Numerical",
            style=style,
            layout=w.Layout(width="340px"),
        )
        self.apply = ui.button(w, "Prepare again", "zeka-prepare")
        self.apply.on_click(lambda _: self._apply())
        self.rows = w.HTML()
        self.columns = w.HTML()
        self.reading = w.HTML()
        self.box.children = [
            self.message,
            w.HBox([self.test_ratio, self.seed, self.normalize, self.apply]),
            w.HTML(
                value='<p class="note">Categorical features are coded as ordinal integers, one '
                "column per feature. Preparing again clears the trained models.</p>"
            ),
            self.reading,
            self.rows,
            self.columns,
        ]

    def _apply(self):
        self.panel.prepare(
            test_ratio=float(self.test_ratio.value),
            seed=int(self.seed.value),
            normalize=self.normalize.value,
        )

    def show(self):
        from zeka.report.steps import preparation

        panel = self.panel
        prep, dataset = panel.prep, panel.dataset
        self.reading.value = ui.message_html(preparation.reading(prep, dataset))
        self.rows.value = ui.table_html(
            preparation.rows_table(prep, dataset).style.format(escape="html"), caption="Rows"
        )
        table = preparation.columns_table(panel.frame, prep, dataset)
        self.columns.value = ui.table_html(
            table.style.format(escape="html").format("{:.1%}", subset=["Missing"]),
            caption="Columns the models use (and single-valued ones left out)",
        )

    def clear(self):
        self.reading.value = self.rows.value = self.columns.value = ""
