"""The Train tab: the Train button, the progress per family, the sortable leaderboard."""

import html

from zeka.panel import ui
from zeka.report.families import MAIN_METRIC


class TrainTab(ui.Tab):
    css = "zeka-train"

    def __init__(self, panel):
        super().__init__(panel)
        w = self.w
        self.button = ui.button(w, "Train", "zeka-train-button", width="120px")
        self.button.on_click(lambda _: panel.train())
        self.sort = w.Dropdown(
            options=["AUC"],
            value="AUC",
            description="Rank by",
            style={"description_width": "60px"},
            layout=w.Layout(width="220px"),
        )
        self.sort.add_class("zeka-sort")
        self.sort.observe(self._resort, names="value")
        self.bar = w.IntProgress(
            value=0, min=0, max=1, description="", layout=w.Layout(width="300px")
        )
        self.bar.add_class("zeka-progress")
        self.now = w.HTML()
        self.now.add_class("zeka-now")
        self.status = w.HTML()
        self.status.add_class("zeka-train-status")
        self.board = w.HTML()
        self.board.add_class("zeka-leaderboard")
        self.box.children = [
            self.message,
            w.HBox([self.button, self.sort]),
            w.HBox([self.bar, self.now]),
            self.status,
            self.board,
        ]
        self._rows = {}

    def reset(self):
        panel = self.panel
        metrics = list(panel.dataset.scoring) if panel.dataset is not None else ["AUC"]
        main = MAIN_METRIC.get(panel.task_type, metrics[0])
        self.sort.unobserve(self._resort, names="value")
        self.sort.options = metrics
        self.sort.value = main if main in metrics else metrics[0]
        self.sort.observe(self._resort, names="value")
        self.bar.value, self.bar.max = 0, 1
        self.now.value = self.status.value = self.board.value = ""
        self.say("")

    def start(self, chosen, failures):
        from zeka.config.estimator_settings import model_name_items

        self._names = model_name_items
        self._rows = {f: ("queued", "") for f in chosen}
        for family, text in failures.items():
            self._rows[family] = ("not trained", text)
        todo = len([f for f in chosen if f not in failures])
        self.bar.max, self.bar.value = max(todo, 1), 0
        self.bar.bar_style = ""
        self.board.value = ""
        again = self.panel.train_runs > 1
        self.say(
            "Training again (run {}): the new results replace the earlier ones.".format(
                self.panel.train_runs
            )
            if again
            else ""
        )
        self._show_rows()

    def progress(self, family, done, total):
        self._rows[family] = ("training ...", "")
        self.bar.value = done
        self.now.value = "Training {} of {}: <b>{}</b> ...".format(
            done + 1, total, html.escape(self._names.get(family, family))
        )
        self._show_rows()

    def finished(self, family, failure, seconds):
        if failure:
            self._rows[family] = ("failed", failure)
        else:
            self._rows[family] = ("trained", "{:.1f} s".format(seconds))
        self.bar.value += 1
        self._show_rows()

    def _show_rows(self):
        cells = "".join(
            "<tr><td>{}</td><td>{}</td><td>{}</td></tr>".format(
                html.escape(self._names.get(f, f)),
                html.escape(state),
                html.escape(detail),
            )
            for f, (state, detail) in self._rows.items()
        )
        self.status.value = (
            '<div class="zeka-table"><table><thead><tr><th>Family</th><th>Status</th>'
            "<th>Time or reason</th></tr></thead><tbody>{}</tbody></table></div>".format(cells)
        )

    def done(self, trained, failures):
        self.now.value = "Done: {} trained, {} not trained.".format(len(trained), len(failures))
        self.bar.bar_style = "success" if not failures else "warning"
        if not trained:
            self.say("No family could be trained; see the reasons above.", "error")
            return
        if failures:
            self.say(
                "Not trained: {}; the others are ranked below.".format(", ".join(failures)),
                "warn",
            )
        self.show_leaderboard()

    def _resort(self, change):
        panel = self.panel
        if panel.api is None or not panel.models:
            return
        panel.leaderboard = panel.api.get_leaderboard(rank_metric=change["new"])
        self.show_leaderboard()

    def show_leaderboard(self):
        from zeka.report.styling import highlight_row

        panel = self.panel
        board = panel.leaderboard
        shown = board.set_index("Model")
        shown.columns.name = "Model"  # shown in the corner cell, above the names
        styled = shown.style.format(escape="html").apply(
            highlight_row(board["Model"].iloc[0]), axis=1
        )
        self.board.value = ui.table_html(
            styled,
            caption="Leaderboard ranked by the test {}: test and training scores of every "
            "metric and the fit time in seconds.".format(self.sort.value),
        )
