"""The Export tab: the HTML report of what was done, and the code that does it again."""

import os

from zeka.panel import ui


class ExportTab(ui.Tab):
    css = "zeka-export"

    def __init__(self, panel):
        super().__init__(panel)
        w = self.w
        self.path = w.Text(
            value="zeka-panel-report.html",
            description="Report file",
            style={"description_width": "80px"},
            layout=w.Layout(width="420px"),
        )
        self.path.add_class("zeka-report-path")
        self.write_button = ui.button(w, "Write the report", "zeka-write-report")
        self.write_button.on_click(lambda _: panel.write_report(self.path.value))
        self.code_button = ui.button(w, "Show the code", "zeka-show-code", style="")
        self.code_button.on_click(lambda _: self.show_code())
        self.code = w.HTML()
        self.code.add_class("zeka-code")
        self.box.children = [
            self.message,
            w.HBox([self.path, self.write_button]),
            w.HTML(
                value='<p class="note">The report holds the steps run in the panel; the code '
                "trains the ticked families with the values of their widgets.</p>"
            ),
            self.code_button,
            self.code,
        ]

    def show_code(self):
        text = self.panel.code()
        self.code.value = '<pre class="zeka-code">{}</pre>'.format(ui.html.escape(text))
        return text

    def write(self, path):
        from zeka.panel.export import report_html

        try:
            text = report_html(self.panel)
            folder = os.path.dirname(os.path.abspath(path))
            temporary = os.path.join(folder, "." + os.path.basename(path) + ".part")
            with open(temporary, "w", encoding="utf-8") as handle:
                handle.write(text)
            os.replace(temporary, path)
        except Exception as error:
            self.say("The report was not written: " + ui.first_line(error), "error")
            return None
        self.say("Wrote {} ({:.0f} kB).".format(os.path.abspath(path), len(text) / 1024))
        return path
