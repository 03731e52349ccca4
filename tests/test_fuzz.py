"""The fuzzer's small deterministic profile: every public callable of every
native module, a few generated calls each, in a process of its own so that a
crash or a hang fails this test instead of ending the run."""

import pathlib
import subprocess
import sys

FUZZ = pathlib.Path(__file__).resolve().parents[1] / "bench" / "fuzz.py"


def test_generated_calls_raise_only_ordinary_errors():
    run = subprocess.run(
        [sys.executable, str(FUZZ), "--examples", "8", "--derandomize"],
        capture_output=True,
        text=True,
        timeout=1800,
    )
    assert run.returncode == 0, run.stdout[-3000:] + run.stderr[-3000:]
    assert run.stdout.rstrip().endswith("fuzz: 0 failures")
    # functions, constructors and bound methods were all reached, and the model kernels'
    # pybind11 functions
    for entry_point in [
        "param_render",
        "ModelAPI()",
        "ModelAPI().singlerun",
        "train_epoch",
        "pair_gains",
        "best_split",
    ]:
        assert f" {entry_point} " in run.stdout
