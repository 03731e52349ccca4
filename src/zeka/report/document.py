"""The report as one self-contained HTML file.

Tables are pandas Stylers rendered to HTML, figures are PNG images embedded as
data URIs, and the only style sheet is the one below: no external scripts,
fonts or styles, so the file reads the same offline, in a mail attachment and
on paper.
"""

import base64
import html
import io
import re
from dataclasses import dataclass, field

CSS = """
:root { --ink: #1d2430; --muted: #5b6576; --line: #d8dde6; --accent: #2f5d9a;
        --soft: #f4f6fa; --warn: #9a4a00; }
* { box-sizing: border-box; }
html { font-size: 15px; }
body { margin: 0; color: var(--ink); background: #fff;
       font-family: system-ui, -apple-system, "Segoe UI", Roboto, "DejaVu Sans", Arial, sans-serif;
       line-height: 1.5; }
.page { max-width: 1200px; margin: 0 auto; padding: 1.5rem 2rem 3rem; }
header.top { border-bottom: 3px solid var(--accent); padding-bottom: 1rem; margin-bottom: 1rem; }
header.top h1 { font-size: 1.9rem; margin: 0 0 .25rem; }
header.top .meta { color: var(--muted); margin: 0; }
h2 { font-size: 1.4rem; margin: 2.2rem 0 .5rem; padding-top: .4rem; border-top: 1px solid var(--line); }
h3 { font-size: 1.1rem; margin: 1.4rem 0 .4rem; }
p { margin: .5rem 0; }
.reading { background: var(--soft); border-left: 4px solid var(--accent); padding: .7rem 1rem;
           margin: .6rem 0 1rem; }
.unavailable { border-left-color: var(--warn); }
.glance { display: grid; grid-template-columns: repeat(auto-fit, minmax(170px, 1fr)); gap: .7rem;
          margin: 1rem 0; }
.glance div { border: 1px solid var(--line); border-radius: 6px; padding: .6rem .8rem; }
.glance b { display: block; font-size: 1.25rem; }
.glance span { color: var(--muted); font-size: .9rem; }
nav.toc { border: 1px solid var(--line); border-radius: 6px; padding: .6rem 1.2rem; margin: 1rem 0; }
nav.toc h2 { border: 0; margin: .2rem 0; font-size: 1.1rem; padding: 0; }
nav.toc ol { margin: .2rem 0; padding-left: 1.4rem; columns: 2; }
nav.toc a { color: var(--accent); text-decoration: none; }
.table-wrap { overflow-x: auto; margin: .5rem 0 1rem; max-width: 100%; }
.table-wrap table { border-collapse: collapse; font-size: .85rem; font-variant-numeric: tabular-nums; }
.table-wrap th, .table-wrap td { border: 1px solid var(--line); padding: .25rem .5rem; }
.table-wrap thead th { background: var(--soft); }
.table-wrap caption { caption-side: top; text-align: left; color: var(--muted); padding: .2rem 0; }
.compact table { font-size: .75rem; }
.matrix th.col_heading { writing-mode: vertical-rl; transform: rotate(180deg); text-align: left;
                         vertical-align: bottom; white-space: nowrap; padding: .3rem .15rem; }
.matrix td { width: auto; min-width: 2.6em; text-align: center; }
.compact th, .compact td { padding: .15rem .3rem; }
figure { margin: .6rem 0 1.2rem; }
figure img { max-width: 100%; height: auto; border: 1px solid var(--line); }
figcaption { color: var(--muted); font-size: .9rem; }
.figures { display: grid; grid-template-columns: repeat(auto-fit, minmax(420px, 1fr)); gap: 1rem; }
.note { color: var(--muted); font-size: .9rem; }
ul.warnings { color: var(--muted); font-size: .85rem; }
footer { margin-top: 2.5rem; color: var(--muted); font-size: .9rem; border-top: 1px solid var(--line); }
@media print {
  html { font-size: 11px; }
  .page { max-width: none; padding: 0; }
  nav.toc ol { columns: 2; }
  .table-wrap { overflow: visible; }
  h2 { break-before: page; }
  h2.first, nav.toc h2 { break-before: auto; }
  figure, tr, .reading, .glance div { break-inside: avoid; }
  .figures { grid-template-columns: 1fr 1fr; gap: .5rem; }
  figure img { max-height: 10cm; width: auto; max-width: 100%; }
  a { color: inherit; }
}
"""


@dataclass
class Section:
    """One step of the road: a heading, a plain-language reading and its blocks of HTML."""

    anchor: str
    title: str
    reading: str = ""
    blocks: list = field(default_factory=list)
    warnings: list = field(default_factory=list)
    unavailable: bool = False

    def add(self, block):
        self.blocks.append(block)


def escape(text):
    return html.escape(str(text), quote=True)


def paragraph(text, css_class=None):
    attribute = ' class="{}"'.format(css_class) if css_class else ""
    return "<p{}>{}</p>".format(attribute, escape(text))


def heading(text):
    return "<h3>{}</h3>".format(escape(text))


def hide_index_names(styler):
    """Leave out the header row that pandas gives the index name."""
    if hasattr(styler, "hide"):  # pandas 1.4 and later
        return styler.hide(axis="index", names=True)
    styler.data.index.names = [None] * styler.data.index.nlevels
    return styler


def table(styler_or_html, caption=None, compact=False, matrix=False):
    """A table block: a pandas Styler (rendered here) or ready HTML.

    `compact` uses a smaller type; `matrix` also turns the column headings upright,
    so a square table of many columns fits the page.
    """
    if matrix and not isinstance(styler_or_html, str):
        # Upright headings need a row tall enough for the longest name.
        longest = max((len(str(c)) for c in styler_or_html.data.columns), default=1)
        styler_or_html = styler_or_html.set_table_styles(
            [
                {
                    "selector": "th.col_heading",
                    "props": [("height", "{:.1f}em".format(0.7 * longest + 1.2))],
                }
            ],
            overwrite=False,
        )
    if not isinstance(styler_or_html, str) and hasattr(styler_or_html, "format_index"):
        # Row and column labels come from the user's data too (pandas 1.4 and later).
        styler_or_html = styler_or_html.format_index(escape="html", axis=0).format_index(
            escape="html", axis=1
        )
    body = styler_or_html if isinstance(styler_or_html, str) else styler_or_html.to_html()
    css = "table-wrap" + (" compact" if compact or matrix else "") + (" matrix" if matrix else "")
    cap = '<p class="note">{}</p>'.format(escape(caption)) if caption else ""
    return '<div class="{}">{}{}</div>'.format(css, cap, body)


def png_bytes(fig, dpi=110):
    """The figure as PNG bytes; the figure is closed afterwards."""
    import matplotlib.pyplot as plt

    buffer = io.BytesIO()
    try:
        fig.savefig(buffer, format="png", dpi=dpi, bbox_inches="tight", facecolor="white")
    finally:
        plt.close(fig)
    return buffer.getvalue()


def figure(fig, alt, caption=None, dpi=110):
    """A matplotlib figure as an embedded PNG image with its caption."""
    data = base64.b64encode(png_bytes(fig, dpi=dpi)).decode("ascii")
    cap = "<figcaption>{}</figcaption>".format(escape(caption)) if caption else ""
    return '<figure><img alt="{}" src="data:image/png;base64,{}">{}</figure>'.format(
        escape(alt), data, cap
    )


def figures(blocks):
    """Several figures side by side where the page is wide enough."""
    return '<div class="figures">{}</div>'.format("".join(blocks))


def glance(items):
    """The key findings at the top: (value, label) pairs."""
    cells = "".join(
        "<div><b>{}</b><span>{}</span></div>".format(escape(v), escape(k)) for v, k in items
    )
    return '<div class="glance">{}</div>'.format(cells)


def render(title, meta, summary_html, sections, footer_html):
    """The whole document as one string."""
    toc = "".join(
        '<li><a href="#{}">{}</a></li>'.format(s.anchor, escape(s.title)) for s in sections
    )
    parts = [
        "<!DOCTYPE html>",
        '<html lang="en"><head><meta charset="utf-8">',
        '<meta name="viewport" content="width=device-width, initial-scale=1">',
        "<title>{}</title>".format(escape(title)),
        '<style>{}</style></head><body><div class="page">'.format(CSS),
        '<header class="top"><h1>{}</h1><p class="meta">{}</p></header>'.format(
            escape(title), escape(meta)
        ),
        summary_html,
        '<nav class="toc"><h2>Contents</h2><ol>{}</ol></nav>'.format(toc),
        "<main>",
    ]
    for number, section in enumerate(sections, start=1):
        reading_class = "reading unavailable" if section.unavailable else "reading"
        parts.append('<section id="{}">'.format(section.anchor))
        parts.append(
            "<h2{}>{}. {}</h2>".format(
                ' class="first"' if number == 1 else "", number, escape(section.title)
            )
        )
        parts.append('<div class="{}">{}</div>'.format(reading_class, escape(section.reading)))
        parts.extend(section.blocks)
        if section.warnings:
            items = "".join("<li>{}</li>".format(escape(w)) for w in section.warnings)
            parts.append(
                '<p class="note">Warnings raised by the libraries during this step:'
                '</p><ul class="warnings">{}</ul>'.format(items)
            )
        parts.append("</section>")
    parts.append("</main><footer>{}</footer></div></body></html>".format(footer_html))
    return _styles_to_head("\n".join(parts))


_STYLE = re.compile(r"<style[^>]*>.*?</style>", re.S)


def _styles_to_head(text):
    """The style sheets pandas puts before each table belong in the head of the document."""
    head, separator, body = text.partition("</head>")
    sheets = _STYLE.findall(body)
    body = _STYLE.sub("", body)
    return head + "".join(sheets) + separator + body
