"""The runner: takes a loaded table down the road, one step and one report section each.

The steps (zeka.report.steps) are listed in the document's order; each runs
after the steps whose results it uses. A step that fails or cannot run is
reported in its section and the others go on; a request to stop (Ctrl-C, a
termination signal) is never taken for a failed step.
"""

import copy
import sys
import time
import traceback
from dataclasses import dataclass, field

import pandas as pd

from zeka.report import document as doc
from zeka.report import steps as road_steps
from zeka.report.capture import collect_warnings, quiet_libraries
from zeka.report.families import MODEL_FAMILIES
from zeka.report.inputs import ReportInputError
from zeka.report.progress import progress_bar
from zeka.report.steps.base import RoadState, StepUnavailable
from zeka.report.wording import pct


@dataclass
class Settings:
    models: list = field(default_factory=lambda: list(MODEL_FAMILIES))
    seed: int = 0
    explain_rows: int = 100  # rows of the global SHAP explanation
    outliers: str = "novelty"  # the outlier-detection method (a key of its parameter table)
    background_rows: int = 30  # rows the SHAP masker keeps
    progress: bool = True
    stream: object = None  # where the progress bars go; None is sys.stderr at the start


@dataclass
class StepTime:
    name: str
    seconds: float  # wall clock
    cpu_seconds: float  # this process, all threads: tells a slow step from a busy machine
    status: str


def _no_stop():
    return None


class Road:
    """Runs the steps over one loaded table and renders the report.

    `checkpoint` is called between steps, and before a step's error is reported
    as a failure: it raises when the user asked the report to stop.
    """

    def __init__(self, source, settings, steps=None, checkpoint=_no_stop):
        if settings.stream is None:
            settings = copy.copy(settings)
            settings.stream = sys.stderr
        self.settings = settings
        self.steps = list(road_steps.STEPS if steps is None else steps)
        self.checkpoint = checkpoint
        self.state = RoadState(source=source, settings=settings, checkpoint=checkpoint)
        self.times = []
        self.sections = {}

    def run(self):
        import matplotlib

        matplotlib.use("Agg")
        bar = progress_bar(self.settings, total=len(self.steps), desc="report", unit="step")
        try:
            for step in road_steps.run_order(self.steps):
                self.checkpoint()
                bar.set_description("report: " + step.title.lower())
                self._run_step(step)
                bar.update(1)
            self.checkpoint()
        finally:
            bar.close()
        return self

    def _run_step(self, step):
        section = doc.Section(anchor=step.anchor, title=step.title)
        self.sections[step.anchor] = section
        started, started_cpu = time.perf_counter(), time.process_time()
        status = "done"
        try:
            with collect_warnings(section), quiet_libraries():
                step.run(self.state, section)
        except ReportInputError:
            raise
        except StepUnavailable as why:
            self.checkpoint()
            status = "unavailable"
            section.unavailable = True
            section.blocks = []
            section.reading = "This step was unavailable: {}.".format(why)
        except Exception as error:  # a failed step is reported, the others go on
            self.checkpoint()  # ... unless it failed because the user asked to stop
            status = "failed"
            section.unavailable = True
            section.blocks = [
                '<pre class="note">{}</pre>'.format(doc.escape(traceback.format_exc(limit=4)))
            ]
            section.reading = "This step failed: {}: {}".format(
                type(error).__name__,
                str(error).strip().splitlines()[0] if str(error).strip() else "",
            )
        self.times.append(
            StepTime(
                step.title, time.perf_counter() - started, time.process_time() - started_cpu, status
            )
        )

    @property
    def failed_steps(self):
        return [t.name for t in self.times if t.status == "failed"]

    @property
    def unavailable_steps(self):
        return [t.name for t in self.times if t.status == "unavailable"]

    # -- the document --------------------------------------------------------------

    def render(self, total_seconds, command):
        sections = [self.sections[s.anchor] for s in self.steps if s.anchor in self.sections]
        source = self.state.source
        dataset = self.state.dataset
        task = dataset.task_type if dataset is not None else "task unknown"
        title = "zeka report: {}".format(source.name)
        spread = source.distributed
        meta = "{} rows x {} columns as loaded; {}target {!r} ({}); seed {}; made {} in {:.1f} s.".format(
            source.frame.shape[0] if spread is None else spread.rows,
            source.frame.shape[1],
            ""
            if spread is None
            else "the integrity checks ran on all rows on {}, the other steps on a "
            "seeded sample of {} rows; ".format(spread.where, source.frame.shape[0]),
            source.target,
            task,
            self.settings.seed,
            time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
            total_seconds,
        )
        footer = (
            "<h3>How long each step took</h3>"
            + self._timing_table()
            + doc.paragraph("Made with zeka {} by: {}".format(_version(), command), "note")
        )
        return doc.render(title, meta, doc.glance(self._glance()), sections, footer)

    def _glance(self):
        """The key findings for the top of the report, as (value, label) pairs."""
        findings, prep = self.state.findings, self.state.prep
        items = []
        if "integrity" in findings:
            items.append((findings["integrity"], "columns with an integrity finding"))
        if prep is not None:
            items.append(("{} / {}".format(prep.rows_used, prep.rows_loaded), "rows used / loaded"))
        if "best" in findings:
            items.append((findings["best"], "best model on the test rows"))
        if "top_feature" in findings:
            items.append((findings["top_feature"], "most important feature (pfi)"))
        if "outliers" in findings:
            items.append((pct(findings["outliers"]), "training rows flagged as outliers"))
        return items

    def _timing_table(self):
        """The steps in the order they ran, with their wall-clock and CPU seconds."""
        timing = pd.DataFrame(
            [
                (t.name, "{:.1f}".format(t.seconds), "{:.1f}".format(t.cpu_seconds), t.status)
                for t in self.times
            ],
            columns=["Step", "Seconds", "CPU seconds", "Status"],
        ).set_index("Step")
        timing.columns.name = "Step"
        return doc.table(doc.hide_index_names(timing.style.format(escape="html")))


def _version():
    import zeka

    return getattr(zeka, "__version__", "?")
