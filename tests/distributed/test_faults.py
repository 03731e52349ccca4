"""A worker process lost during a scan: Dask runs its tasks again and the result
is still exact; a partition that kills every worker reading it ends the scan
with a clear error. Either way the client and the other workers go on."""

import os
import signal
import threading
import time

import dask
import numpy as np
import pandas as pd
import pytest

from reference.dask_frames import assert_same_table, deadly_frame, html, slow_frame
from zeka.data.quality_scan.distributed import DistributedIntegrityCheck
from zeka.data.quality_scan.quality_scan import DataIntegrityCheck


@pytest.fixture()
def own_cluster():
    """A cluster of its own, since a worker of it is killed; a task may fail
    on one lost worker only, so that a deadly partition is noticed soon."""
    from distributed import Client, LocalCluster

    with dask.config.set({"distributed.scheduler.allowed-failures": 1}):
        with (
            LocalCluster(
                n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0"
            ) as cluster,
            Client(cluster) as client,
        ):
            yield client


def _frame(n=400):
    rng = np.random.default_rng(5)
    frame = pd.DataFrame(
        {
            "x": rng.integers(0, 5, n).astype(float),
            "t": pd.Series(rng.choice(["ab", "!!", "a much longer text", "3"], n), dtype=object),
        }
    )
    frame.iloc[n - 1] = frame.iloc[0]
    return frame


def _still_working(client):
    assert client.submit(sum, [1, 2, 3]).result(timeout=60) == 6
    client.wait_for_workers(2, timeout=60)
    assert len(client.run(os.getpid)) == 2


def test_worker_killed_during_a_scan(own_cluster):
    client = own_cluster
    frame = _frame()
    ddf = slow_frame(frame, parts=12, seconds=0.4)
    victim = next(iter(client.run(os.getpid).values()))
    # the scans take some seconds; one worker dies a second into them
    killed = threading.Event()

    def kill():
        os.kill(victim, signal.SIGKILL)
        killed.set()

    killer = threading.Timer(1.0, kill)
    killer.start()
    try:
        spread = DistributedIntegrityCheck(ddf, None, client=client)
        got_report = spread.single_column_check()
        got_duplicates = spread.duplicated_samples()
        # the worker died while the scans were running
        assert killed.is_set()
    finally:
        killer.join()
    client.wait_for_workers(2, timeout=60)
    assert victim not in client.run(os.getpid).values()
    local = DataIntegrityCheck(frame, None)
    assert html(got_report) == html(local.single_column_check())
    assert_same_table(local.duplicated_samples(), got_duplicates)
    _still_working(client)


def test_a_partition_that_kills_its_workers(own_cluster):
    from distributed import KilledWorker

    client = own_cluster
    spread = DistributedIntegrityCheck(deadly_frame(_frame(40)), None, client=client)
    started = time.monotonic()
    with pytest.raises(KilledWorker, match="_deadly_piece"):
        spread.null_ratio()
    assert time.monotonic() - started < 120
    _still_working(client)
