"""Runs ``zeka report`` and sends the process a signal at a chosen point of the road.

    python signal_driver.py POINT SIGNAL MODE REPORT-ARGUMENTS...

POINT is the anchor of a step (the signal comes as that step starts), "fit"
(as the first model family starts training), "render" (after the last step, before the
report is written and put in place) or "none".
MODE "direct" sends the signal where Python raises its KeyboardInterrupt in the
step; "swallowed" sends it inside a weak-reference callback, where Python drops
the exception, and prints "the step went on" when it was dropped; "converted"
turns the KeyboardInterrupt into a RuntimeError, as a library catching it might.
The driver prints "step ANCHOR" as each step starts and "training NAME" as each
model family does.
The feature-selection step is left out: its distance-correlation library takes
seconds to import and has nothing to do with stopping.
"""

import dataclasses
import os
import signal
import sys
import weakref

from zeka.report import cli, road, steps


def send_directly(signum):
    os.kill(os.getpid(), signum)
    for _ in range(10000):  # the handler runs at the latest here
        pass


def send_in_weakref_callback(signum):
    class Held:
        pass

    def callback(ref):
        send_directly(signum)

    held = Held()
    ref = weakref.ref(held, callback)
    del held  # the callback runs now; what it raises is dropped
    print("the step went on", file=sys.__stdout__, flush=True)  # steps redirect stdout
    return ref


def send_and_convert(signum):
    try:
        send_directly(signum)
    except KeyboardInterrupt as stop:
        raise RuntimeError("a library made an ordinary error of the interrupt") from stop


def with_signal(function, send, signum):
    def wrapped(*args, **kwargs):
        send(signum)
        return function(*args, **kwargs)

    return wrapped


def announced(function, text):
    """Says on the real stdout (the steps redirect sys.stdout) what starts."""

    def wrapped(*args, **kwargs):
        print(text(*args), file=sys.__stdout__, flush=True)
        return function(*args, **kwargs)

    return wrapped


def main(point, signal_name, mode, *report_args):
    from zeka.workflow.workbench import ModelAPI

    send = {
        "direct": send_directly,
        "swallowed": send_in_weakref_callback,
        "converted": send_and_convert,
    }[mode]
    signum = getattr(signal, signal_name)
    chosen = []
    for step in steps.STEPS:
        if step.anchor == "features":
            continue
        run = step.run
        if step.anchor == point:
            run = with_signal(run, send, signum)
        chosen.append(
            dataclasses.replace(
                step, run=announced(run, lambda state, section, a=step.anchor: "step " + a)
            )
        )
    steps.STEPS = chosen
    if point == "render":
        road.Road.render = with_signal(road.Road.render, send, signum)
    fit = ModelAPI.singlerun
    if point == "fit":  # inside the models step, as the first family starts training
        fit = with_signal(fit, send, signum)
    ModelAPI.singlerun = announced(fit, lambda api, pipeline, name: "training " + name)
    cli.main(["report"] + list(report_args))


if __name__ == "__main__":
    main(*sys.argv[1:])
