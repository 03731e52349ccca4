"""The Data tab: the frame's shape and types, the target and task, the integrity checks."""

import pandas as pd

from zeka.panel import ui

INFERRED = "inferred"


class DataTab(ui.Tab):
    css = "zeka-data"

    def __init__(self, panel):
        super().__init__(panel)
        w = self.w
        columns = [str(c) for c in panel.frame.columns]
        self._labels = dict(zip(columns, panel.frame.columns))
        target = str(panel.target) if panel.target is not None else None
        self.target = w.Dropdown(
            options=[("(choose)", None)] + [(c, c) for c in columns],
            value=target if target in self._labels else None,
            description="Target",
            style={"description_width": "70px"},
            layout=w.Layout(width="320px"),
        )
        self.target.add_class("zeka-target")
        self.task = w.Dropdown(
            options=[INFERRED, "classification", "regression"],
            value=panel.task or INFERRED,
            description="Task",
            style={"description_width": "70px"},
            layout=w.Layout(width="260px"),
        )
        self.task.add_class("zeka-task")
        self.apply = ui.button(w, "Use this target", "zeka-apply-target", style="")
        self.apply.on_click(lambda _: self._apply())
        self.status = w.HTML()
        self.overview = w.HTML(value=ui.table_html(self._types_table(), caption="Columns as given"))
        self.run_checks = ui.button(w, "Run the integrity checks", "zeka-run-checks")
        self.run_checks.on_click(lambda _: panel.check())
        self.results = w.HTML()
        self.results.add_class("zeka-checks")
        self.box.children = [
            self.message,
            w.HBox([self.target, self.task, self.apply]),
            self.status,
            self.overview,
            self.run_checks,
            self.results,
        ]

    def _apply(self):
        target = self.target.value
        label = self._labels.get(target) if target is not None else None
        task = None if self.task.value == INFERRED else self.task.value
        self.panel.set_target(label, task)

    def show_target(self):
        panel = self.panel
        if panel.problem is not None:
            self.status.value = ui.message_html(panel.problem, "error")
            return
        dataset = panel.dataset
        classes = ""
        if dataset is not None and dataset.class_labels is not None:
            classes = "; classes " + " / ".join(map(str, dataset.class_labels))
        self.status.value = ui.message_html(
            "Target {!r}: {}{} ({} task).".format(
                panel.target,
                panel.task_type,
                classes,
                "inferred" if panel.task is None else "chosen",
            )
        )

    def _types_table(self):
        frame = self.panel.frame
        from zeka.data.dataset import infer_feature_type

        table = pd.DataFrame(
            {
                "dtype": [str(t) for t in frame.dtypes],
                "kind": [infer_feature_type(frame[c]) for c in frame.columns],
                "missing": [int(frame[c].isna().sum()) for c in frame.columns],
                "distinct": [int(frame[c].nunique()) for c in frame.columns],
            },
            index=pd.Index([str(c) for c in frame.columns], name="Column"),
        )
        return table.style.format(escape="html")

    def show_checks(self):
        from zeka.report.steps import integrity

        checks = self.panel.checks
        blocks = ["<h4>Column by column</h4>", integrity.column_table(checks["single_column"])]
        blocks.append("<h4>Duplicated rows</h4>")
        blocks.append(integrity.duplicates_block(checks["duplicated"]))
        blocks.append("<h4>Association between columns</h4>")
        blocks.extend(integrity.association_blocks(checks["association"], checks["meta_info"]))
        self.results.value = "".join(
            b.replace('class="table-wrap', 'class="zeka-table') for b in blocks
        )
