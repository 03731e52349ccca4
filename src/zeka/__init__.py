"""zeka: interpretable machine learning for tabular data."""

__version__ = "0.1.0"


def __getattr__(name):
    # The notebook panel loads on first use: the rest of the package works without ipywidgets.
    if name == "panel":
        import importlib

        return importlib.import_module("zeka.panel")
    raise AttributeError("module 'zeka' has no attribute {!r}".format(name))
