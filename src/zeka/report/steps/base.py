"""What every step of the road is, and what the steps hand to each other.

A step is a function ``run(state, section)``: it computes with the package's
modules, fills its section of the document (tables, figures, the plain-language
reading) and leaves in the state what later steps and the summary need.
"""

import importlib
from dataclasses import dataclass, field


@dataclass(frozen=True)
class Step:
    anchor: str  # the section's id in the document
    title: str
    run: object  # run(state, section)
    after: tuple = ()  # anchors of the steps whose results this one uses when they ran


class StepUnavailable(Exception):
    """A step cannot run: a module is missing or an earlier step gave it nothing."""


def _no_stop():
    return None


@dataclass
class RoadState:
    """The table, the settings and what the steps found, passed from step to step."""

    source: object  # inputs.Source
    settings: object  # road.Settings
    checkpoint: object = _no_stop  # raises when the user asked the report to stop
    prep: object = None  # inputs.Preparation
    dataset: object = None  # zeka.data.dataset.Dataset
    api: object = None  # the ModelAPI holding the trained families
    best_name: object = None
    leaderboard: object = None
    metric: object = None
    feature_scores: object = None
    findings: dict = field(default_factory=dict)  # the figures "at a glance" at the top

    def require_dataset(self):
        if self.dataset is None:
            raise StepUnavailable("the preparation did not finish, so there is no data to use")

    def require_best(self):
        """The best model's pipeline."""
        if self.best_name is None:
            raise StepUnavailable("no model was trained, so there is no best model to use")
        return self.api.custom_model_dict[self.best_name]


def load_attribute(module_name, attribute):
    """A class of the package, or StepUnavailable when its module is not built."""
    try:
        return getattr(importlib.import_module(module_name), attribute)
    except ImportError as error:
        raise StepUnavailable(
            "the module {} is not available in this installation ({})".format(module_name, error)
        ) from None
