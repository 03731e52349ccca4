"""The integrity checks on object and on Arrow-backed text columns, per value
of the frame (time / (rows x columns)), against the pure-Python per-value
checks of tests/reference/quality_scan.py and the plain pandas calls, and,
with --today, against another build of zeka (an earlier commit installed into
a folder), all measured in this one run.

The frame: 10 text columns of the integrity bench (words with rare long and
special-only values, numbers as text mixed with words, missing values) and 5
numeric columns. The Arrow frame holds the same text as pandas' "str" dtype
with pyarrow storage. Results are checked equal to the reference first.

    python bench/bench_arrow.py [--rows N] [--repeat R] [--today SITE_DIR]
"""

import argparse
import json
import os
import pathlib
import subprocess
import sys
import time

import numpy as np
import pandas as pd

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests"))

# ns per value of the frame the checks should reach: (Arrow, object)
TARGETS = {
    "single_column_check": (30, 60),
    "long_string": (10, 25),
    "special_characters": (10, 25),
    "mixed_data_type": (10, 25),
}
PANDAS_CALLS = {
    "is_single_value": lambda frame: frame.nunique() == 1,
    "null_ratio": lambda frame: frame.isna().sum() / frame.shape[0],
    "duplicated_samples": lambda frame: frame.duplicated(keep=False),
}
CHECKS = list(TARGETS) + list(PANDAS_CALLS)


def make_frames(rows):
    import bench_quality_scan

    frame = bench_quality_scan.make_frame(rows)
    rng = np.random.default_rng(7)
    for c in range(5):
        frame[f"n{c}"] = rng.normal(size=rows)
    frames = {"object": frame}
    try:
        import pyarrow  # noqa: F401
    except ImportError:
        return frames
    arrow = frame.copy()
    for name in frame.columns[:10]:
        arrow[name] = frame[name].astype(pd.StringDtype("pyarrow", na_value=np.nan))
    frames["arrow"] = arrow
    return frames


def best_time(function, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def measure(rows, repeat):
    """ns per value of every check on every storage, with the installed zeka."""
    from zeka.data.quality_scan import quality_scan as qs

    out = {}
    for storage, frame in make_frames(rows).items():
        check = qs.DataIntegrityCheck(frame, None)
        for name in CHECKS:
            method = getattr(check, name)
            if name == "single_column_check":
                method = lambda check=check: check.single_column_check().data  # noqa: E731
            out[f"{storage}/{name}"] = best_time(method, repeat) / frame.size * 1e9
    return out


def peak_memory(rows, storage):
    """Peak resident memory above the frame's during single_column_check, in a fresh
    process, as a share of the frame's deep size."""
    probe = f"""
import sys
sys.path.insert(0, {str(HERE)!r}); sys.path.insert(0, {str(HERE.parent / "tests")!r})
import bench_arrow
frame = bench_arrow.make_frames({rows})[{storage!r}]
import ctypes, gc
gc.collect()
ctypes.CDLL("libc.so.6").malloc_trim(0)  # what building the frames freed goes back first
from zeka.data.quality_scan import quality_scan as qs
check = qs.DataIntegrityCheck(frame, None)
deep = frame.memory_usage(deep=True).sum()
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1]) * 1024
before = status("VmRSS")
open("/proc/self/clear_refs", "w").write("5")
check.single_column_check()
print(deep, status("VmHWM") - before)
"""
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True)
    if out.returncode != 0:
        return None
    deep, extra = map(int, out.stdout.split())
    return deep, extra


def check_results(frames):
    from reference import quality_scan as reference
    from zeka.data.quality_scan import quality_scan as qs
    from zeka.data.quality_scan import utils

    expected = reference.single_column_check(frames["object"], format_list=utils.format_list)
    for frame in frames.values():
        ours = qs.DataIntegrityCheck(frame, None).single_column_check().data
        pd.testing.assert_frame_equal(ours, expected)


def baselines(frames, repeat):
    from reference import quality_scan as reference
    from zeka.data.quality_scan import utils

    frame = frames["object"]
    python = {
        "single_column_check": lambda: reference.single_column_check(
            frame, format_list=utils.format_list
        ),
        "long_string": lambda: reference.long_string(frame, format_list=utils.format_list),
        "special_characters": lambda: reference.special_characters(frame),
        "mixed_data_type": lambda: reference.mixed_data_type(frame),
    }
    out = {name: best_time(f, 1) / frame.size * 1e9 for name, f in python.items()}
    for storage, frame in frames.items():
        for name, call in PANDAS_CALLS.items():
            out[f"{storage}/{name}"] = (
                best_time(lambda: call(frame), repeat) / frame.size * 1e9  # noqa: B023
            )
    return out


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--today", help="site folder of another zeka build to compare with")
    parser.add_argument("--measure-only", action="store_true", help=argparse.SUPPRESS)
    args, _ = parser.parse_known_args(argv)
    if args.measure_only:
        print(json.dumps(measure(args.rows, args.repeat)))
        return
    frames = make_frames(args.rows)
    shape = next(iter(frames.values())).shape
    print(
        f"frame: {shape[0]:,} rows x {shape[1]} columns (10 text, 5 numeric); storages: "
        + ", ".join(frames)
    )
    check_results(frames)
    print("results equal to the reference on every storage")
    base = baselines(frames, args.repeat)
    ours = measure(args.rows, args.repeat)
    today = {}
    if args.today:
        env = dict(os.environ, PYTHONPATH=args.today)
        run = subprocess.run(
            [
                sys.executable,
                __file__,
                "--measure-only",
                "--rows",
                str(args.rows),
                "--repeat",
                str(args.repeat),
            ],
            capture_output=True,
            text=True,
            env=env,
        )
        if run.returncode == 0:
            today = json.loads(run.stdout.strip().splitlines()[-1])
        else:
            print("the other build failed:", run.stderr.strip().splitlines()[-1:])
    print(
        f"{'check':22s} {'storage':7s} {'ours':>7s} {'today':>7s} {'python':>7s} "
        f"{'pandas':>7s}  (ns per value)  speed-up vs today / python / pandas   target"
    )
    for name in CHECKS:
        for storage in frames:
            key = f"{storage}/{name}"
            mine = ours[key]
            was = today.get(key)
            python = base.get(name) if name in TARGETS else None
            pandas_call = base.get(key)
            target = ""
            if name in TARGETS:
                limit = TARGETS[name][0 if storage == "arrow" else 1]
                target = f"<= {limit} ns: {'met' if mine <= limit else 'NOT met'}"
            else:
                goal = 2.0 if name != "duplicated_samples" else 1.0
                ratio = pandas_call / mine
                target = f">= {goal:.0f}x pandas: {'met' if ratio >= goal else 'NOT met'}"

            def cell(x):
                return f"{x:7.1f}" if x is not None else f"{'-':>7s}"

            def ratio(x):
                return f"{x / mine:5.1f}x" if x is not None else "    -"

            print(
                f"{name:22s} {storage:7s} {cell(mine)} {cell(was)} {cell(python)} "
                f"{cell(pandas_call)}  {ratio(was)} / {ratio(python)} / {ratio(pandas_call)}"
                f"   {target}"
            )
    for storage in frames:
        memory = peak_memory(args.rows, storage)
        if memory:
            deep, extra = memory
            print(
                f"single_column_check peak memory above the {storage} frame: "
                f"{extra / 2**20:.0f} MiB = {extra / deep:.1%} of its deep size "
                f"({deep / 2**20:.0f} MiB)" + ("; target <= 10%" if storage == "arrow" else "")
            )


if __name__ == "__main__":
    main()
