"""The parameter widgets, built from the entries of the hyper-parameter tables.

An entry of zeka.config.estimator_settings is [widget class name, widget
arguments, label, default]. The widget arguments become the widget's keywords
by the class's shape: a bounded number takes its value, minimum and maximum, a
dropdown its value and options, a text field its text and placeholder, a tag
picker its tags and the tags it allows. A fixed parameter (empty class name)
has no widget: its default is the only value it takes.

What a widget delivers goes through ``param_render`` (with the dataset's
feature names) before it reaches the estimator.
"""

import html

from zeka.report import params

# Room for the longest label of the tables ("Max_interaction_bins") beside its box.
LABEL_WIDTH = "150px"
WIDGET_WIDTH = "300px"

# Keywords of each widget class, in the order of the entry's widget arguments.
ARGUMENT_KEYWORDS = {
    "BoundedIntText": ("value", "min", "max"),
    "BoundedFloatText": ("value", "min", "max"),
    "Dropdown": ("value", "options"),
    "Text": ("value", "placeholder"),
    "TagsInput": ("value", "allowed_tags"),
}

# Classes whose label is the widget's own description. The tag picker carries the
# label as its description too, but does not draw it: it gets a label beside it.
DESCRIBED = ("BoundedIntText", "BoundedFloatText", "Dropdown", "Text")


def widget_keywords(entry):
    """The keywords that build the widget of `entry`, its label included where it takes one."""
    name = params.widget_name(entry)
    if name not in ARGUMENT_KEYWORDS:
        raise ValueError("no widget is known by the name {!r}".format(name))
    keywords = dict(zip(ARGUMENT_KEYWORDS[name], params.widget_arguments(entry)))
    if "options" in keywords:
        # options first: the value must be one of them when it is set
        keywords = {"options": list(keywords["options"]), "value": keywords["value"]}
    elif "allowed_tags" in keywords:
        keywords["value"] = list(keywords["value"])
        keywords["allowed_tags"] = list(keywords["allowed_tags"])
    keywords["description"] = params.label(entry)
    return keywords


def build_widget(widgets, entry, css_class=None):
    """The widget of a shown parameter, from the `widgets` package (ipywidgets 7 or 8)."""
    name = params.widget_name(entry)
    keywords = widget_keywords(entry)
    if name in DESCRIBED:
        keywords["style"] = {"description_width": LABEL_WIDTH}
        keywords["layout"] = widgets.Layout(width=WIDGET_WIDTH)
    else:
        keywords["layout"] = widgets.Layout(width="150px")
    widget = getattr(widgets, name)(**keywords)
    if css_class:
        widget.add_class(css_class)
    return widget


def labelled(widgets, entry, widget):
    """The widget as it is laid out: with its label beside it where it has no description."""
    if params.widget_name(entry) in DESCRIBED:
        return widget
    label = widgets.HTML(
        value='<div style="text-align: right; padding-right: 4px">{}</div>'.format(
            html.escape(params.label(entry))
        ),
        layout=widgets.Layout(width=LABEL_WIDTH, min_width=LABEL_WIDTH),
    )
    label.add_class("zeka-side-label")
    return widgets.HBox(
        [label, widget], layout=widgets.Layout(width=WIDGET_WIDTH, align_items="center")
    )


def shown(table):
    """(key, entry) of the parameters of `table` that a widget edits, in table order."""
    return [(key, entry) for key, entry in table.items() if params.widget_name(entry)]


TRUTH_OPTIONS = ["True", "False"]


def render(method, key, entry, value, feature_names):
    """What a widget's value becomes for the estimator.

    ``param_render`` converts what the tables list; a "True"/"False" dropdown it leaves
    as text (the "standardization" of several detectors) becomes a boolean here too,
    since the text "False" would read as true.
    """
    from zeka.config.estimator_settings import param_render

    value = param_render(method, key, value, flis=list(feature_names))
    if (
        isinstance(value, str)
        and params.widget_name(entry) == "Dropdown"
        and sorted(params.widget_arguments(entry)[1]) == sorted(TRUTH_OPTIONS)
    ):
        value = value == "True"
    if isinstance(value, tuple):  # several quoted feature names typed as text
        value = list(value)
    elif isinstance(value, str) and key.startswith("mono_") and value:
        value = [value]  # one quoted feature name
    return value


def read(method, table, widgets_of_method, feature_names):
    """{key: value for the estimator} of every parameter of `table`; fixed ones at their
    default. A value the conversion refuses raises ValueError naming its label."""
    values = {}
    for key, entry in table.items():
        if key not in widgets_of_method:
            values[key] = params.default(entry)
            continue
        raw = widgets_of_method[key].value
        try:
            values[key] = render(method, key, entry, raw, feature_names)
        except Exception as error:
            raise ValueError(
                "{}: {!r} is not accepted ({}: {})".format(
                    params.label(entry).strip(), raw, type(error).__name__, error
                )
            ) from error
    return values
