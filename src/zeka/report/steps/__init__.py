"""The steps of the road, in the order the document shows them.

Each module holds one step: its computation, its plain-language reading and
its figures. A step runs after the steps it names in ``after`` (the feature
scores use the best model), otherwise in the document's order.
"""

from zeka.report.steps import explanation, features, integrity, models, outliers, preparation
from zeka.report.steps.base import RoadState, Step, StepUnavailable

STEPS = [
    integrity.STEP,
    preparation.STEP,
    features.STEP,
    outliers.STEP,
    models.STEP,
    explanation.STEP,
]


def run_order(steps):
    """The steps in the order they run: each after those it names, else in document order."""
    present = {step.anchor for step in steps}
    done, order = set(), []
    waiting = list(steps)
    while waiting:
        ready = next(
            (step for step in waiting if all(a in done or a not in present for a in step.after)),
            None,
        )
        if ready is None:
            raise ValueError(
                "the steps {} wait for each other".format(
                    ", ".join(step.anchor for step in waiting)
                )
            )
        waiting.remove(ready)
        done.add(ready.anchor)
        order.append(ready)
    return order


__all__ = ["STEPS", "RoadState", "Step", "StepUnavailable", "run_order"]
