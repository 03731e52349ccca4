"""Small pieces every tab uses: messages, tables and figures as widgets."""

import html

from zeka.report import document as doc

# Scoped to the panel: tables readable in the notebook's narrow column, messages that
# stand out from the results.
CSS = """
<style>
.zeka-panel { font-size: 13px; }
.zeka-panel .widget-html-content { line-height: 1.4; white-space: normal; min-width: 0;
  max-width: 100%; }
.zeka-panel .widget-html { max-width: 100%; min-width: 0; }
.zeka-panel .widget-tab > .lm-TabBar .lm-TabBar-tab,
.zeka-panel .widget-tab > .p-TabBar .p-TabBar-tab { flex: 0 0 auto !important;
  max-width: none !important; min-width: 0 !important; padding: 0 14px; }
.zeka-panel h4 { margin: 10px 0 4px; }
.zeka-panel .zeka-side-label .widget-html-content { line-height: 28px; }
.zeka-panel .jupyter-widget-tagsinput, .zeka-panel .widget-tagsinput {
  border: 1px solid #9e9e9e; min-height: 26px; box-sizing: border-box; align-items: center; }
.zeka-panel .widget-tagsinput input, .zeka-panel .jupyter-widget-tagsinput input {
  border: none; outline: none; }
.zeka-panel .zeka-table { overflow-x: auto; max-width: 100%; margin: 4px 0 10px;
  display: block; }
.zeka-panel .zeka-table table { border-collapse: collapse; font-size: 12px;
  font-variant-numeric: tabular-nums; }
.zeka-panel .zeka-table th, .zeka-panel .zeka-table td { border: 1px solid #d8dde6;
  padding: 1px 5px; white-space: nowrap; line-height: 1.35; }
.zeka-panel .zeka-table td { white-space: normal; max-width: 420px; }
.zeka-panel .zeka-table thead th { background: #f4f6fa; }
.zeka-panel .zeka-table .note { color: #5b6576; margin: 2px 0; white-space: normal; }
.zeka-panel .zeka-table.compact table { font-size: 11px; }
.zeka-panel .zeka-table.compact th, .zeka-panel .zeka-table.compact td { padding: 1px 3px; }
.zeka-panel .zeka-table.matrix th.col_heading { writing-mode: vertical-rl;
  transform: rotate(180deg); text-align: left; vertical-align: bottom; padding: 3px 1px; }
.zeka-panel .zeka-table.matrix td { min-width: 2.6em; text-align: center; }
.zeka-panel .zeka-msg { padding: 4px 8px; margin: 2px 0; border-left: 4px solid #2f5d9a;
  background: #f4f6fa; white-space: normal; line-height: 1.4; }
.zeka-panel .zeka-msg.error { border-left-color: #b00020; background: #fdecee; color: #7a0014; }
.zeka-panel .zeka-msg.warn { border-left-color: #9a4a00; background: #fff4e5; }
.zeka-panel .zeka-card { border: 1px solid #d8dde6; border-radius: 6px; padding: 6px; }
.zeka-panel pre.zeka-code { font-size: 12px; background: #f7f7f9; padding: 8px;
  border: 1px solid #d8dde6; white-space: pre; overflow-x: auto; }
</style>
"""


def message(widgets, text="", kind="info", css_class=None):
    """An HTML widget showing `text` as a message (empty text shows nothing)."""
    box = widgets.HTML(value=message_html(text, kind))
    if css_class:
        box.add_class(css_class)
    return box


def message_html(text, kind="info"):
    if not text:
        return ""
    return '<div class="zeka-msg {}">{}</div>'.format(kind, html.escape(str(text)))


def table_html(styler_or_frame, caption=None):
    """A Styler or DataFrame as the HTML of a scrollable table."""
    styler = styler_or_frame
    if not hasattr(styler, "to_html") or not hasattr(styler, "data"):
        styler = styler_or_frame.style
    block = doc.table(doc.hide_index_names(styler), caption=caption)
    return block.replace('class="table-wrap', 'class="zeka-table', 1)


def figure_png(fig, dpi=90):
    """A matplotlib figure as PNG bytes; the figure is closed."""
    return doc.png_bytes(fig, dpi=dpi)


def image(widgets, png, css_class=None):
    box = widgets.Image(
        value=png, format="png", layout=widgets.Layout(max_width="min(100%, 760px)")
    )
    if css_class:
        box.add_class(css_class)
    return box


def button(widgets, text, css_class, style="primary", width=None):
    if width is None:  # wide enough for the text, never stretched across the tab
        width = "{}px".format(max(90, 8 * len(text) + 28))
    b = widgets.Button(
        description=text, button_style=style, layout=widgets.Layout(width=width, min_width=width)
    )
    b.add_class(css_class)
    return b


def first_line(error):
    text = str(error).strip()
    return "{}: {}".format(type(error).__name__, text.splitlines()[0] if text else "")


def quiet():
    """The libraries' prints and progress bars stay out of the notebook while a step runs."""
    from zeka.report.capture import quiet_libraries

    return quiet_libraries()


class Tab:
    """A tab's box, with a message line at its top."""

    css = "zeka-tab"

    def __init__(self, panel):
        self.panel = panel
        self.w = panel._w
        self.message = message(self.w, css_class=self.css + "-message")
        self.box = self.w.VBox([self.message], layout=self.w.Layout(width="100%"))
        self.box.add_class(self.css)

    def say(self, text, kind="info"):
        self.message.value = message_html(text, kind)

    @property
    def said(self):
        """The text of the tab's message ("" when there is none)."""
        import re

        return html.unescape(re.sub("<[^>]+>", "", self.message.value))
