"""The Models tab: one section per family, its widgets built from the parameter tables.

The tables are adapted to the installed libraries and the dataset first
(``model_param_specific``): the tree's criteria of the task, the monotonicity
lists as tags of the feature names (ipywidgets 8) or as text (before 8).
"""

from zeka.panel import ui
from zeka.panel.parameters import build_widget, labelled, shown
from zeka.report import params


class _DatasetLike:
    """What model_param_specific reads of a dataset, before one is prepared."""

    def __init__(self, task_type, feature_names):
        self.task_type = task_type
        self.feature_names = feature_names


class ModelsTab(ui.Tab):
    css = "zeka-models"

    def build(self):
        """New widgets from the tables for the current target, task and features."""
        from zeka.config.estimator_settings import model_name_items
        from zeka.panel.training import parameter_table

        panel, w = self.panel, self.w
        kept = {key: box.value for key, box in panel.family_checks.items()}
        panel.parameter_table = parameter_table(
            _DatasetLike(panel.task_type, [str(n) for n in panel.feature_names])
        )
        panel.widgets, panel.family_checks = {}, {}
        self.errors, self.labels, cards = {}, {}, []
        for key, display in model_name_items.items():
            table = panel.parameter_table[key]
            family_widgets, rows = {}, []
            for name, entry in shown(table):
                widget = build_widget(w, entry, css_class="zeka-param-{}-{}".format(key, name))
                family_widgets[name] = widget
                rows.append(labelled(w, entry, widget))
                self.labels.setdefault(key, {})[name] = _shown_label(rows[-1])
            panel.widgets[key] = family_widgets
            check = w.Checkbox(
                value=kept.get(key, True),
                description=display,
                indent=False,
                layout=w.Layout(width="auto"),
            )
            check.add_class("zeka-family-" + key)
            panel.family_checks[key] = check
            fixed = [
                "{} = {!r}".format(name, params.default(entry))
                for name, entry in table.items()
                if not params.widget_name(entry)
            ]
            note = w.HTML(
                value='<span class="note">fixed: {}</span>'.format(ui.html.escape(", ".join(fixed)))
                if fixed
                else ""
            )
            error = ui.message(w, css_class="zeka-error-" + key)
            self.errors[key] = error
            card = w.VBox(
                [check] + rows + [note, error],
                layout=w.Layout(padding="4px", min_width="310px"),
            )
            card.add_class("zeka-card")
            card.add_class("zeka-card-" + key)
            cards.append(card)
        self.grid = w.GridBox(
            cards,
            layout=w.Layout(
                grid_template_columns="repeat(auto-fill, minmax(320px, 1fr))", grid_gap="8px"
            ),
        )
        all_on = ui.button(w, "Tick all", "zeka-tick-all", style="", width="90px")
        all_on.on_click(lambda _: [setattr(c, "value", True) for c in panel.family_checks.values()])
        all_off = ui.button(w, "Untick all", "zeka-tick-none", style="", width="90px")
        all_off.on_click(
            lambda _: [setattr(c, "value", False) for c in panel.family_checks.values()]
        )
        self.box.children = [
            self.message,
            w.HBox(
                [
                    w.HTML(
                        value='<span class="note">Tick the families to train; each value goes '
                        "to the estimator as shown.</span>"
                    ),
                    all_on,
                    all_off,
                ]
            ),
            self.grid,
        ]

    def clear_errors(self):
        for box in self.errors.values():
            box.value = ""
        self.say("")

    def show_errors(self, failures):
        for key, text in failures.items():
            self.errors[key].value = ui.message_html(text, "error")
        if failures:
            self.say(
                "Not trained: {} (the reason is shown in each family's section).".format(
                    ", ".join(failures)
                ),
                "error",
            )

    def error_of(self, family):
        import html
        import re

        return html.unescape(re.sub("<[^>]+>", "", self.errors[family].value))


def _shown_label(row):
    """The label a user sees beside a parameter's box."""
    import html
    import re

    if hasattr(row, "children") and row.children:
        return html.unescape(re.sub("<[^>]+>", "", row.children[0].value))
    return row.description
