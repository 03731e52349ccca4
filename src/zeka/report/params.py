"""Named access to a parameter entry of the hyper-parameter tables.

An entry of zeka.config.estimator_settings describes one parameter as a list
[widget class name, widget arguments, label, default]; ModelAPI passes the
default to the estimator. These functions name the items instead of their
positions.
"""

_WIDGET, _WIDGET_ARGUMENTS, _LABEL, _DEFAULT = range(4)


def widget_name(entry):
    """The class name of the widget that edits the parameter ("" for a fixed parameter)."""
    return entry[_WIDGET]


def widget_arguments(entry):
    """The widget's initial value and bounds or options."""
    return entry[_WIDGET_ARGUMENTS]


def label(entry):
    """The text shown beside the widget."""
    return entry[_LABEL]


def default(entry):
    """The value the estimator gets when the user sets none."""
    return entry[_DEFAULT]


def with_default(entry, value):
    """A new entry that gives the estimator `value`; the widget's description is kept."""
    changed = list(entry)
    changed[_DEFAULT] = value
    return changed
