"""DistributedIntegrityCheck on a local Dask cluster against DataIntegrityCheck
in one process, in one run.

Writes a Parquet dataset of --rows rows x 15 columns (the integrity bench's ten
text columns: words, rare long values, special-only values, numbers as text,
missing values; and five numerical ones, some with duplicated rows), then
times single_column_check and duplicated_samples:

- on a local cluster of 2 worker processes, each limited to --memory-limit,
  and on 1 such worker (the scaling);
- with the pandas class on the first --pandas-rows rows read into this
  process (the largest size taken to fit in one process), and on the cluster
  over the same rows, whose results are checked equal first.

Prints rows per second, the peak memory of every worker (sampled), and the
ratios. Needs the extra zeka[dask].

    python bench/bench_distributed.py [--rows N] [--pandas-rows N] [--rows-per-file N]
"""

import argparse
import os
import pathlib
import shutil
import sys
import tempfile
import threading
import time

import numpy as np

try:
    import dask.dataframe as dd
    import pyarrow as pa
    import pyarrow.parquet as pq

    from distributed import Client, LocalCluster
except ImportError:
    print("bench_distributed: skipped, needs the extra zeka[dask]")
    sys.exit(0)

import pandas as pd

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from bench_quality_scan import make_frame  # noqa: E402
from zeka.data.quality_scan.distributed import DistributedIntegrityCheck  # noqa: E402
from zeka.data.quality_scan.quality_scan import DataIntegrityCheck  # noqa: E402


def write_dataset(folder, rows, rows_per_file, seed=0):
    """rows x 15 columns in files of rows_per_file rows; every 50th row of a
    file repeats an earlier row of it."""
    written = 0
    part = 0
    while written < rows:
        n = min(rows_per_file, rows - written)
        frame = make_frame(n, seed=seed + part)
        rng = np.random.default_rng(1000 + seed + part)
        frame["n0"] = rng.normal(size=n)
        frame["n1"] = rng.integers(0, 1000, n).astype(float)
        frame["n2"] = rng.integers(0, 5, n)
        frame["n3"] = np.where(rng.random(n) < 0.05, np.nan, rng.exponential(size=n))
        frame["n4"] = rng.random(n) < 0.3
        repeat = np.arange(50, n, 50)
        frame.iloc[repeat] = frame.iloc[repeat - 50 + rng.integers(0, 50, repeat.size)].to_numpy()
        frame.index = pd.RangeIndex(written, written + n)
        table = pa.Table.from_pandas(frame, preserve_index=True)
        pq.write_table(table, os.path.join(folder, "part-{:05d}.parquet".format(part)))
        written += n
        part += 1
    return sorted(str(p) for p in pathlib.Path(folder).glob("*.parquet"))


class PeakMemory:
    """The largest resident memory of every worker, sampled every 0.2 s."""

    def __init__(self, client):
        self.client = client
        self.peak = {}
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._sample, daemon=True)

    def _sample(self):
        import psutil

        while not self._stop.is_set():
            try:
                rss = self.client.run(lambda: psutil.Process().memory_info().rss)
            except Exception:  # a worker starting or stopping
                rss = {}
            for worker, value in rss.items():
                self.peak[worker] = max(self.peak.get(worker, 0), value)
            self._stop.wait(0.2)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()


def timed(function):
    start = time.perf_counter()
    result = function()
    return result, time.perf_counter() - start


def on_cluster(files, workers, memory_limit):
    with (
        LocalCluster(
            n_workers=workers,
            threads_per_worker=1,
            processes=True,
            memory_limit=memory_limit,
            dashboard_address=":0",
        ) as cluster,
        Client(cluster) as client,
    ):
        ddf = dd.read_parquet(files)
        check = DistributedIntegrityCheck(ddf, None, client=client)
        with PeakMemory(client) as memory:
            results = timed_checks(check)
        return {**results, "peak": sorted(memory.peak.values())}


def in_one_process(files):
    frame = dd.read_parquet(files).compute()
    return timed_checks(DataIntegrityCheck(frame, None))


def timed_checks(check):
    """The two benched checks' results and their times."""
    report, t_report = timed(check.single_column_check)
    duplicates, t_duplicates = timed(check.duplicated_samples)
    return {
        "report": report,
        "duplicates": duplicates,
        "t_report": t_report,
        "t_duplicates": t_duplicates,
    }


def gib(n):
    return "{:.2f} GiB".format(n / 2**30)


def line(name, rows, seconds):
    return "  {:<34} {:>8.1f} s  {:>12,.0f} rows/s".format(name, seconds, rows / seconds)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=20_000_000)
    parser.add_argument("--pandas-rows", type=int, default=2_000_000)
    parser.add_argument("--rows-per-file", type=int, default=500_000)
    parser.add_argument("--memory-limit", default="2GiB")
    parser.add_argument("--keep", metavar="DIR", help="write the dataset here and keep it")
    args, _ = parser.parse_known_args(argv)
    pandas_rows = min(args.pandas_rows, args.rows)
    per_file = min(args.rows_per_file, pandas_rows)

    folder = args.keep or tempfile.mkdtemp(prefix="zeka-bench-parquet-")
    os.makedirs(folder, exist_ok=True)
    try:
        _, t_write = timed(lambda: write_dataset(folder, args.rows, per_file))
        files = sorted(str(p) for p in pathlib.Path(folder).glob("*.parquet"))
        small = files[: -(-pandas_rows // per_file)]
        small_rows = min(pandas_rows, len(small) * per_file)
        print(
            "dataset: {:,} rows x 15 columns in {} Parquet files ({:.0f} MiB), written in {:.1f} s".format(
                args.rows,
                len(files),
                sum(os.path.getsize(f) for f in files) / 2**20,
                t_write,
            )
        )

        print(
            "same {:,} rows in one process and on 2 workers (results checked equal):".format(
                small_rows
            )
        )
        local = in_one_process(small)
        spread = on_cluster(small, 2, args.memory_limit)
        uuid = "bench"
        assert spread["report"].set_uuid(uuid).to_html() == local["report"].set_uuid(uuid).to_html()
        pd.testing.assert_frame_equal(spread["duplicates"], local["duplicates"])
        for key, name in (
            ("t_report", "single_column_check"),
            ("t_duplicates", "duplicated_samples"),
        ):
            print(line(name + ", pandas", small_rows, local[key]))
            print(line(name + ", 2 workers", small_rows, spread[key]))
            print("    ratio pandas / 2 workers: {:.2f}".format(local[key] / spread[key]))

        print("all {:,} rows, limit {} per worker:".format(args.rows, args.memory_limit))
        results = {}
        for workers in (2, 1):
            results[workers] = on_cluster(files, workers, args.memory_limit)
            r = results[workers]
            print(
                line("single_column_check, {} worker(s)".format(workers), args.rows, r["t_report"])
            )
            print(
                line(
                    "duplicated_samples, {} worker(s)".format(workers), args.rows, r["t_duplicates"]
                )
            )
            print("    peak memory per worker: " + ", ".join(gib(p) for p in r["peak"]))
        assert (
            results[1]["report"].set_uuid(uuid).to_html()
            == results[2]["report"].set_uuid(uuid).to_html()
        )
        for key, name in (
            ("t_report", "single_column_check"),
            ("t_duplicates", "duplicated_samples"),
        ):
            print(
                "  scaling {}: 1 worker / 2 workers = {:.2f}x".format(
                    name, results[1][key] / results[2][key]
                )
            )
        print(
            "  rows per second, 2 workers over all rows against pandas on {:,} rows: {:.2f}x".format(
                small_rows,
                (args.rows / results[2]["t_report"]) / (small_rows / local["t_report"]),
            )
        )
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
