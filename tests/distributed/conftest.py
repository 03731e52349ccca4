"""The checks on a local Dask cluster. They start worker processes and take a
while, so they run once per CI run (make cluster-test sets ZEKA_CLUSTER_TESTS=1),
not with every interpreter."""

import os

import pytest

if os.environ.get("ZEKA_CLUSTER_TESTS") != "1":
    collect_ignore_glob = ["test_*.py"]
else:
    pytest.importorskip("distributed")


@pytest.fixture(scope="session")
def cluster_client():
    """A client of a local cluster of two worker processes, one thread each."""
    from distributed import Client, LocalCluster

    with (
        LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0"
        ) as cluster,
        Client(cluster) as client,
    ):
        yield client
