"""The report never destroys data: not the input it reads, not an earlier report.

Stopping is tested in child processes that get a real signal: from the
signal_driver beside this file at a chosen point of the road, or from this
process once the child's progress bar shows a step.
"""

import io
import os
import select
import signal
import subprocess
import sys
import time
import weakref
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

from zeka.report import cli
from zeka.report.output import refuse_inputs
from zeka.report.stopping import Stopped, StopSignals

DRIVER = Path(__file__).with_name("signal_driver.py")
OLD_REPORT = "an earlier report"
SMALL_RUN = ["--target", "y", "--explain-rows", "10"]


def small_csv(folder):
    rng = np.random.default_rng(0)
    frame = pd.DataFrame(rng.normal(size=(80, 3)), columns=["a", "b", "c"])
    frame["y"] = (frame["a"] + rng.normal(size=80) > 0).astype(int)
    path = folder / "data.csv"
    frame.to_csv(path, index=False)
    return path


@pytest.fixture
def folder(tmp_path):
    small_csv(tmp_path)
    (tmp_path / "r.html").write_text(OLD_REPORT)
    return tmp_path


# -- the output is never an input ------------------------------------------------------


def spelled_differently(folder, csv):
    (folder / "sub").mkdir()
    return str(folder / "sub" / ".." / csv.name)


def symlink_to(folder, csv):
    link = folder / "link.html"
    link.symlink_to(csv)
    return str(link)


def hard_link_of(folder, csv):
    link = folder / "hard.html"
    os.link(csv, link)
    return str(link)


def input_through_a_link(folder, csv):
    link = folder / "data-link.csv"
    link.symlink_to(csv)
    return str(csv), str(link)  # --out the file itself, --csv the link


SAME_FILE = {
    "the same path": lambda d, csv: str(csv),
    "another spelling of the path": spelled_differently,
    "a symbolic link to the input": symlink_to,
    "a hard link of the input": hard_link_of,
    "the input given through a link": input_through_a_link,
}


@pytest.mark.parametrize("case", list(SAME_FILE))
def test_an_output_that_is_the_input_is_refused(case, tmp_path):
    csv = small_csv(tmp_path)
    made = SAME_FILE[case](tmp_path, csv)
    out, given = (made, str(csv)) if isinstance(made, str) else made
    content = csv.read_bytes()
    before = sorted(os.listdir(tmp_path))
    stdout, stderr = io.StringIO(), io.StringIO()
    status = cli.run(
        ["report", "--quiet", "--csv", given, "--out", out, "--models", "glm"] + SMALL_RUN,
        stdout=stdout,
        stderr=stderr,
    )
    assert status == 2
    assert stdout.getvalue() == ""
    err = stderr.getvalue()
    assert err.count("\n") == 1 and err.startswith("zeka report: error: --out "), err
    assert "is the input file" in err
    assert csv.read_bytes() == content
    assert sorted(os.listdir(tmp_path)) == before


def test_a_copy_of_the_input_is_another_file(tmp_path):
    csv = small_csv(tmp_path)
    copy = tmp_path / "copy.csv"
    copy.write_bytes(csv.read_bytes())
    refuse_inputs(str(copy), [str(csv)])  # same content, another file: allowed
    refuse_inputs(str(tmp_path / "new.html"), [str(csv)])  # not there yet: allowed


# -- the signal guard itself ---------------------------------------------------------


def test_a_signal_inside_deferred_work_is_recorded_and_acted_on_afterwards():
    previous = signal.getsignal(signal.SIGINT)
    with StopSignals() as stop:
        with stop.deferred():
            signal.raise_signal(signal.SIGINT)
        assert stop.received == signal.SIGINT
        with pytest.raises(KeyboardInterrupt):
            stop.check()
    assert signal.getsignal(signal.SIGINT) is previous


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGHUP])
def test_a_termination_signal_stops_like_ctrl_c_and_says_which(signum):
    with StopSignals():
        with pytest.raises(Stopped) as raised:
            signal.raise_signal(signum)
            time.sleep(0)  # the handler has run by now
        assert raised.value.signum == signum
        assert isinstance(raised.value, KeyboardInterrupt)


def test_a_ctrl_c_dropped_in_a_weakref_callback_is_still_seen():
    class Held:
        pass

    def callback(ref):
        signal.raise_signal(signal.SIGINT)
        for _ in range(1000):  # the handler raises here, inside the callback
            pass

    with StopSignals() as stop:
        held = Held()
        ref = weakref.ref(held, callback)
        del held  # Python drops what the callback raises
        assert ref() is None
        with pytest.raises(KeyboardInterrupt):
            stop.check()


def test_once_finished_signals_no_longer_stop():
    with StopSignals() as stop:
        stop.finish()
        signal.raise_signal(signal.SIGINT)
        stop.check()


# -- real signals in a child process --------------------------------------------------


def message(signum):
    if signum == signal.SIGINT:
        return "zeka report: interrupted; no report written"
    return "zeka report: stopped by {}; no report written".format(signal.Signals(signum).name)


def assert_stopped_cleanly(result, signum, folder):
    expected_status = 130 if signum == signal.SIGINT else -signum  # the others end by the signal
    assert result.returncode == expected_status, result.stderr
    assert "wrote" not in result.stdout
    assert (folder / "r.html").read_text() == OLD_REPORT  # the earlier report is untouched
    assert sorted(os.listdir(folder)) == ["data.csv", "r.html"]  # and no temporary file


def drive(folder, point, signum, mode="direct", models=("glm",)):
    return subprocess.run(
        [
            sys.executable,
            str(DRIVER),
            point,
            signal.Signals(signum).name,
            mode,
            "--quiet",
            "--csv",
            str(folder / "data.csv"),
            "--out",
            str(folder / "r.html"),
        ]
        + SMALL_RUN
        + ["--models"]
        + list(models),
        capture_output=True,
        text=True,
        timeout=180,
    )


def test_the_driver_alone_writes_the_report(folder):
    result = drive(folder, "none", signal.SIGINT)
    assert result.returncode == 0, result.stderr
    assert (folder / "r.html").read_text().startswith("<!DOCTYPE html>")
    assert sorted(os.listdir(folder)) == ["data.csv", "r.html"]
    assert started(result) == [
        "integrity",
        "preparation",
        "outliers",
        "models",
        "glm",
        "explanation",
    ]


SIGNALS = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP]


@pytest.mark.parametrize("point", ["integrity", "explanation", "render"])
@pytest.mark.parametrize("signum", SIGNALS, ids=lambda s: signal.Signals(s).name)
def test_a_signal_at_any_point_leaves_no_report_and_the_old_one_untouched(folder, signum, point):
    result = drive(folder, point, signum)
    assert_stopped_cleanly(result, signum, folder)
    assert result.stderr == message(signum) + "\n"
    assert started(result)[-1] == ("explanation" if point == "render" else point)


@pytest.mark.parametrize(
    "signum, point",
    [
        (signal.SIGINT, "explanation"),
        (signal.SIGINT, "render"),
        (signal.SIGTERM, "explanation"),
        (signal.SIGHUP, "models"),
    ],
    ids=lambda v: v if isinstance(v, str) else signal.Signals(v).name,
)
def test_a_signal_that_a_library_swallows_still_stops_the_report(folder, signum, point):
    result = drive(folder, point, signum, mode="swallowed")
    assert "the step went on" in result.stdout  # the exception was dropped where it was raised
    assert_stopped_cleanly(result, signum, folder)
    assert result.stderr == message(signum) + "\n"


def started(result):
    return [
        line.split(" ", 1)[1]
        for line in result.stdout.splitlines()
        if line.startswith(("step ", "training "))
    ]


@pytest.mark.parametrize(
    "signum, point, last",
    [(signal.SIGINT, "integrity", "integrity"), (signal.SIGTERM, "fit", "glm")],
    ids=["SIGINT-integrity", "SIGTERM-fit"],
)
def test_an_interrupt_turned_into_an_error_stops_at_once(folder, signum, point, last):
    result = drive(folder, point, signum, mode="converted", models=["glm", "tree"])
    assert_stopped_cleanly(result, signum, folder)
    assert result.stderr == message(signum) + "\n"
    assert started(result)[-1] == last  # no later step, no further family


def read_until(process, marker, seconds=120):
    """The child's stderr up to and including `marker`."""
    seen = b""
    deadline = time.monotonic() + seconds
    while marker not in seen:
        left = deadline - time.monotonic()
        assert left > 0, "no {!r} in {!r}".format(marker, seen[-300:])
        ready, _, _ = select.select([process.stderr], [], [], left)
        if ready:
            chunk = os.read(process.stderr.fileno(), 4096)
            assert chunk, "the child ended early: {!r}".format(seen[-300:])
            seen += chunk
    return seen


@pytest.mark.parametrize("signum", SIGNALS, ids=lambda s: signal.Signals(s).name)
def test_a_signal_from_outside_while_the_models_train(folder, signum):
    process = subprocess.Popen(
        [
            sys.executable,
            "-m",
            "zeka",
            "report",
            "--csv",
            str(folder / "data.csv"),
            "--out",
            str(folder / "r.html"),
            "--models",
            "glm",
        ]
        + SMALL_RUN,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
    )
    try:
        seen = read_until(process, b"report: models")
        process.send_signal(signum)
        out, err = process.communicate(timeout=180)
    finally:
        if process.poll() is None:
            process.kill()
    result = subprocess.CompletedProcess(
        process.args, process.returncode, out.decode(), (seen + err).decode()
    )
    assert_stopped_cleanly(result, signum, folder)
    lines = [line for line in result.stderr.replace("\r", "\n").splitlines() if line.strip()]
    assert lines[-1] == message(signum)
    assert "Traceback" not in result.stderr
