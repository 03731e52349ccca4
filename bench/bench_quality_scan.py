"""DataIntegrityCheck against the same checks written with pandas and
per-value Python calls (tests/reference/quality_scan.py), in one run.

Part 1: long_string, special_characters, mixed_data_type and
single_column_check on a frame of 10 object columns (words, rare long values,
special-only values, numbers as text mixed with words, missing values).
Part 2: highly_correlated_features on 10 categorical + 10 numerical columns,
ours against the same method with the two association measures replaced by
their numpy definitions. Part 3: the peak memory of single_column_check above
the frame's own deep size, measured in a fresh process.

Results are checked equal before anything is timed. Prints the time ratio
(baseline / ours) and the time per value.

    python bench/bench_quality_scan.py [--rows N] [--corr-rows N]
"""

import argparse
import pathlib
import subprocess
import sys
import time

import numpy as np
import pandas as pd

from zeka.data.quality_scan import quality_scan as qs
from zeka.data.quality_scan import utils

HERE = pathlib.Path(__file__).parent
sys.path.insert(0, str(HERE.parent / "tests"))
from reference import quality_scan as reference  # noqa: E402

WORDS = np.array(
    [
        "alpha",
        "beta",
        "gamma",
        "delta",
        "épsilon",
        "zeta",
        "eta",
        "théta",
        "iota",
        "kappa",
        "lambda",
        "mu",
        "nu",
        "xi",
        "omicron",
        "pi",
    ],
    dtype=object,
)
SPECIAL = np.array(["??", "---", "#", "!!!", " ", "***"], dtype=object)
NUMBERS = np.array(["1", "2.5", "-3", "1e5", " 42 ", "nan", "0.001", "7_000"], dtype=object)


def make_frame(rows, seed=0):
    rng = np.random.default_rng(seed)
    columns = {}
    for c in range(10):
        values = WORDS[rng.integers(0, len(WORDS), rows)]
        kind = rng.random(rows)
        values[kind < 0.02] = "long text " * 8  # rare long values
        special = kind > 0.97
        values[special] = SPECIAL[rng.integers(0, len(SPECIAL), special.sum())]
        if c % 2:  # numbers mixed with words
            numeric = (kind > 0.4) & (kind < 0.7)
            values[numeric] = NUMBERS[rng.integers(0, len(NUMBERS), numeric.sum())]
        values[(kind > 0.1) & (kind < 0.13)] = None  # missing values
        values[(kind > 0.13) & (kind < 0.14)] = np.nan
        columns[f"c{c}"] = values
    return pd.DataFrame(columns, dtype=object)


def best_time(function, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def compare(name, ours, baseline, values, repeat):
    t_ours, t_base = best_time(ours, repeat), best_time(baseline, 1)
    print(
        f"{name:28s} ours {t_ours:7.3f}s  baseline {t_base:7.3f}s  "
        f"speed-up {t_base / t_ours:6.1f}x  ours {t_ours / values * 1e9:6.1f} ns/value",
        flush=True,
    )


def part_checks(rows, repeat):
    frame = make_frame(rows)
    check = qs.DataIntegrityCheck(frame, None)
    values = frame.size
    cases = [
        (
            "long_string",
            check.long_string,
            lambda: reference.long_string(frame, format_list=utils.format_list),
        ),
        (
            "special_characters",
            check.special_characters,
            lambda: reference.special_characters(frame),
        ),
        ("mixed_data_type", check.mixed_data_type, lambda: reference.mixed_data_type(frame)),
        (
            "single_column_check",
            lambda: check.single_column_check().data,
            lambda: reference.single_column_check(frame, format_list=utils.format_list),
        ),
    ]
    print(
        f"frame: {rows:,} rows x {frame.shape[1]} object columns "
        f"({frame.memory_usage(deep=True).sum() / 2**20:.0f} MiB deep)"
    )
    for _name, ours, baseline in cases:
        pd.testing.assert_frame_equal(ours(), baseline())
    print("results equal")
    for name, ours, baseline in cases:
        compare(name, ours, baseline, values, repeat)


def part_correlation(rows, repeat):
    rng = np.random.default_rng(1)
    data, meta = {}, {}
    for c in range(10):
        levels = rng.integers(2, 30)
        values = rng.integers(0, levels, rows).astype(object)
        values[rng.random(rows) < 0.05] = None
        data[f"cat{c}"] = values
        meta[f"cat{c}"] = "categorical"
    for c in range(10):
        data[f"num{c}"] = rng.normal(size=rows) + (c % 3) * np.asarray(
            [v if v is not None else 0 for v in data[f"cat{c}"]], dtype=float
        )
        meta[f"num{c}"] = "numerical"
    frame = pd.DataFrame(data)
    check = qs.DataIntegrityCheck(frame, meta)

    def baseline():
        saved = qs.symmetric_theil_u_correlation, qs.correlation_ratio
        qs.symmetric_theil_u_correlation = reference.symmetric_theil_u
        qs.correlation_ratio = reference.correlation_ratio
        try:
            return check.highly_correlated_features().data
        finally:
            qs.symmetric_theil_u_correlation, qs.correlation_ratio = saved

    ours = lambda: check.highly_correlated_features().data  # noqa: E731
    pd.testing.assert_frame_equal(ours(), baseline(), rtol=1e-9)
    print(f"highly_correlated_features on {rows:,} rows x 20 columns: results equal")
    compare("highly_correlated_features", ours, baseline, frame.size, repeat)


MEMORY_PROBE = """
import sys
sys.path.insert(0, {here!r})
import bench_quality_scan as b
from zeka.data.quality_scan import quality_scan as qs
frame = b.make_frame({rows})
deep = frame.memory_usage(deep=True).sum()
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1]) * 1024
before = status("VmRSS")
open("/proc/self/clear_refs", "w").write("5")  # reset the peak to the current size
qs.DataIntegrityCheck(frame, None).single_column_check()
print(deep, status("VmHWM") - before)
"""


def part_memory(rows):
    probe = MEMORY_PROBE.format(here=str(HERE), rows=rows)
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True)
    if out.returncode != 0:
        print("memory probe failed:", out.stderr.strip().splitlines()[-1:])
        return
    deep, extra = map(int, out.stdout.split())
    print(
        f"single_column_check peak memory above the frame: {extra / 2**20:.0f} MiB "
        f"= {extra / deep:.1%} of the frame's deep size ({deep / 2**20:.0f} MiB)"
    )


def part_kernels():
    """Compiles bench/kernels/bench_text_kernels.cpp with the kernel sources and runs it."""
    root = HERE.parent
    sources = sorted(str(p) for p in (root / "native" / "kernels" / "text").glob("*.cpp"))
    binary = pathlib.Path("/tmp") / "zeka_bench_text_kernels"
    build = subprocess.run(
        [
            "g++",
            "-std=c++17",
            "-O3",
            "-DNDEBUG",
            f"-I{root / 'native'}",
            str(HERE / "kernels" / "bench_text_kernels.cpp"),
            *sources,
            "-o",
            str(binary),
        ],
        capture_output=True,
        text=True,
    )
    if build.returncode != 0:
        print("kernel benchmark not built:", build.stderr.strip()[-300:])
        return
    print("kernels alone (1,000,000 values):")
    print(subprocess.run([str(binary)], capture_output=True, text=True).stdout, end="")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--corr-rows", type=int, default=200_000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args(argv)
    part_checks(args.rows, args.repeat)
    part_correlation(args.corr_rows, args.repeat)
    part_memory(args.rows)
    part_kernels()


if __name__ == "__main__":
    main()
