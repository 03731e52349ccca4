"""highly_correlated_features on wide frames: the association kernels against
the per-pair path (DataFrame.corr / corrwith calling the measure once per
pair, forced by binding the module names to thin wrappers of the package's
own measures), and the other checks of DataIntegrityCheck at the same width.

Frames: half numerical columns (normal values; every 4th with 2% missing,
every 10th rounded, so with ties), half categorical (2 to 8 colour names;
every 4th with 2% missing).

Part 1: both paths at the smaller width, results compared cell by cell.
Part 2: the kernel path at the larger width, its time against the per-pair
path's time extrapolated from Part 1 by the number of pairs, and its peak
memory above the frame (fresh process, /proc/self/status VmHWM).
Part 3: every other check at the larger width, each timed once.

    python bench/bench_associations.py [--rows N] [--small N] [--wide N] [--no-checks]
"""

import argparse
import pathlib
import subprocess
import sys
import time

import numpy as np
import pandas as pd

from zeka.data.quality_scan import correlation
from zeka.data.quality_scan import quality_scan as qs

HERE = pathlib.Path(__file__).parent
LEVELS = np.array(
    ["red", "green", "blue", "amber", "violet", "grey", "white", "black"], dtype=object
)


def make_frame(columns, rows, seed=0):
    rng = np.random.default_rng(seed)
    data, meta = {}, {}
    for c in range(columns):
        if c % 2 == 0:
            values = rng.normal(size=rows)
            if c % 10 == 0:
                values = np.round(values)
            if c % 4 == 0:
                values[rng.random(rows) < 0.02] = np.nan
            data[f"n{c}"], meta[f"n{c}"] = values, "numerical"
        else:
            values = LEVELS[rng.integers(0, 2 + c % 7, rows)]
            if c % 4 == 1:
                values[rng.random(rows) < 0.02] = None
            data[f"c{c}"], meta[f"c{c}"] = values, "categorical"
    return pd.DataFrame(data), meta


def kernel_table(frame, meta):
    return qs.DataIntegrityCheck(frame, meta).highly_correlated_features().data


def per_pair_table(frame, meta):
    saved = qs.symmetric_theil_u_correlation, qs.correlation_ratio
    qs.symmetric_theil_u_correlation = lambda x, y: correlation.symmetric_theil_u_correlation(x, y)
    qs.correlation_ratio = lambda x, y: correlation.correlation_ratio(x, y)
    try:
        return kernel_table(frame, meta)
    finally:
        qs.symmetric_theil_u_correlation, qs.correlation_ratio = saved


def timed(function, *args):
    start = time.perf_counter()
    result = function(*args)
    return result, time.perf_counter() - start


def pairs(columns):
    return columns * (columns - 1) // 2


def part_small(columns, rows):
    frame, meta = make_frame(columns, rows)
    ours, t_ours = timed(kernel_table, frame, meta)
    theirs, t_theirs = timed(per_pair_table, frame, meta)
    a, b = ours.to_numpy(), theirs.to_numpy()
    same = (a == b) | (np.isnan(a) & np.isnan(b))
    pd.testing.assert_frame_equal(ours, theirs, check_exact=False, rtol=0, atol=1e-12)
    print(
        f"{columns} columns x {rows} rows: results equal "
        f"({same.mean():.4%} of {a.size:,} cells bit-identical, "
        f"largest difference {np.nanmax(np.abs(a - b)):.1e})"
    )
    print(
        f"  kernels  {t_ours:8.2f}s   per-pair {t_theirs:8.2f}s   "
        f"speed-up {t_theirs / t_ours:6.1f}x   "
        f"per-pair path {t_theirs / pairs(columns) * 1e6:.1f} us/pair",
        flush=True,
    )
    return t_theirs / pairs(columns)


MEMORY_PROBE = """
import sys, time
sys.path.insert(0, {here!r})
import bench_associations as b
frame, meta = b.make_frame({columns}, {rows})
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1]) * 1024
before = status("VmRSS")
open("/proc/self/clear_refs", "w").write("5")  # reset the peak to the current size
start = time.perf_counter()
table = b.kernel_table(frame, meta)
elapsed = time.perf_counter() - start
print(elapsed, frame.memory_usage(deep=True).sum(), status("VmHWM") - before, table.shape[0])
"""


def part_wide(columns, rows, per_pair_seconds):
    probe = MEMORY_PROBE.format(here=str(HERE), columns=columns, rows=rows)
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True)
    if out.returncode != 0:
        print("wide run failed:", out.stderr.strip().splitlines()[-1:])
        return
    elapsed, deep, extra, size = out.stdout.split()
    elapsed, deep, extra = float(elapsed), int(deep), int(extra)
    estimate = per_pair_seconds * pairs(columns)
    print(
        f"{columns} columns x {rows} rows: kernels {elapsed:.2f}s; per-pair path "
        f"extrapolated {estimate:,.0f}s ({estimate / elapsed:,.0f}x); table {size} x {size}"
    )
    print(
        f"  peak memory above the frame: {extra / 2**20:.0f} MiB "
        f"(frame {deep / 2**20:.0f} MiB deep, float table {int(size) ** 2 * 8 / 2**20:.0f} MiB)",
        flush=True,
    )


def part_checks(columns, rows):
    frame, meta = make_frame(columns, rows)
    check = qs.DataIntegrityCheck(frame, meta)
    print(f"the other checks at {columns} columns x {rows} rows:")
    for name in (
        "null_ratio",
        "is_single_value",
        "long_string",
        "special_characters",
        "mixed_data_type",
        "duplicated_samples",
        "single_column_check",
    ):
        _, seconds = timed(getattr(check, name))
        print(f"  {name:22s} {seconds:7.2f}s", flush=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1000)
    parser.add_argument("--small", type=int, default=500)
    parser.add_argument("--wide", type=int, default=5000)
    parser.add_argument("--no-checks", action="store_true")
    args = parser.parse_args(argv)
    per_pair = part_small(args.small, args.rows)
    part_wide(args.wide, args.rows, per_pair)
    if not args.no_checks:
        part_checks(args.wide, args.rows)


if __name__ == "__main__":
    main()
