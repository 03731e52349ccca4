"""A Parquet dataset as the report's input: every row on Dask for the integrity
checks, a seeded sample of rows for the modelling steps.

Dask is imported here only, when a report is asked for Parquet input; every
problem with the input or the cluster is a ReportInputError naming it, raised
before the report is begun.
"""

import glob
import os
from dataclasses import dataclass

import numpy as np
import pandas as pd

from zeka.report.inputs import ReportInputError, Source

# Rows of the seeded sample the modelling steps use: enough for stable scores,
# few enough for the nine families and the explanations within minutes.
DEFAULT_SAMPLE_ROWS = 20_000


@dataclass
class Distributed:
    """Where the rows are: the Dask frame of all rows and the client it runs on."""

    frame: object  # dask.dataframe.DataFrame
    client: object  # distributed.Client
    rows: int
    where: str  # the scheduler's address, or "a local cluster of N workers"


def _dask():
    try:
        import dask.dataframe as dd

        import distributed
    except ImportError:
        raise ReportInputError(
            "--parquet needs Dask and pyarrow: pip install 'zeka[dask]'"
        ) from None
    return dd, distributed


def parquet_files(pattern):
    """The Parquet files a path, a folder or a glob pattern names, sorted."""
    shown = os.fspath(pattern)
    if os.path.isdir(pattern):
        files = sorted(
            os.path.join(root, name)
            for root, _, names in os.walk(pattern)
            for name in names
            if name.endswith(".parquet") or name.endswith(".parq")
        )
    elif os.path.isfile(pattern):
        files = [shown]
    else:
        files = sorted(f for f in glob.glob(shown, recursive=True) if os.path.isfile(f))
    if not files:
        raise ReportInputError(
            "--parquet {!r} matches no file; give a Parquet file, a folder of them or a "
            "glob such as 'data/*.parquet'".format(shown)
        )
    return files


# Arrow types the integrity checks read; anything else (lists, structs, maps,
# binary) is refused by name.
def _known_type(arrow_type):
    import pyarrow as pa

    t = pa.types
    if t.is_dictionary(arrow_type):
        return _known_type(arrow_type.value_type)
    return (
        t.is_integer(arrow_type)
        or t.is_floating(arrow_type)
        or t.is_boolean(arrow_type)
        or t.is_string(arrow_type)
        or t.is_large_string(arrow_type)
        or t.is_temporal(arrow_type)
        or t.is_decimal(arrow_type)
        or t.is_null(arrow_type)
    )


def check_schemas(files):
    """One schema for every file, of types the checks know."""
    import pyarrow.parquet as pq

    first = None
    for path in files:
        try:
            schema = pq.read_schema(path)
        except Exception as error:  # pyarrow raises its own errors for a broken file
            raise ReportInputError(
                "cannot read {!r} as Parquet ({})".format(path, str(error).splitlines()[0])
            ) from None
        schema = schema.remove_metadata()
        if first is None:
            first = (path, schema)
            continue
        if not schema.equals(first[1]):
            theirs = {f.name: str(f.type) for f in first[1]}
            ours = {f.name: str(f.type) for f in schema}
            differ = sorted(
                set(theirs) ^ set(ours) | {n for n in theirs if n in ours and theirs[n] != ours[n]}
            )
            raise ReportInputError(
                "the Parquet files differ in their schema: {!r} and {!r} (columns {}); "
                "give files of one table".format(first[0], path, ", ".join(differ) or "order")
            )
    for field in first[1]:
        if not _known_type(field.type):
            raise ReportInputError(
                "column {!r} has the Parquet type {}, which the integrity checks do not "
                "handle; give numbers, text, booleans, dates or categories".format(
                    field.name, field.type
                )
            )
    return first[1]


def connect(scheduler, workers):
    """A client of the scheduler at `scheduler`, or of a new local cluster of
    `workers` worker processes; and a text saying which."""
    _, distributed = _dask()
    if scheduler is not None:
        try:
            client = distributed.Client(scheduler, timeout="10s")
        except (OSError, TimeoutError, ValueError) as error:
            raise ReportInputError(
                "cannot reach the Dask scheduler at {!r} ({}); check the address and that "
                "the scheduler runs".format(
                    scheduler, str(error).splitlines()[0] if str(error) else type(error).__name__
                )
            ) from None
        return client, "the Dask scheduler at " + scheduler
    cluster = distributed.LocalCluster(
        n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=":0"
    )
    client = distributed.Client(cluster)
    client.zeka_cluster = cluster  # closed with the client (close())
    return client, "a local Dask cluster of {} worker{}".format(
        workers, "s" if workers != 1 else ""
    )


def close(client):
    import logging

    cluster = getattr(client, "zeka_cluster", None)
    client.close()
    if cluster is not None:
        # a worker slow to stop is stopped; that is no news for the user
        logging.getLogger("distributed.nanny").setLevel(logging.ERROR)
        cluster.close()


def _rows_at(frame, positions):
    return frame.iloc[positions]


def seeded_sample(ddf, client, rows, seed):
    """`rows` rows drawn without replacement by a generator seeded with `seed`,
    in their order in the data (all rows when there are fewer); and the
    number of rows in all."""
    import dask

    lengths = client.compute(ddf.map_partitions(len)).result()
    lengths = [int(n) for n in lengths]
    total = sum(lengths)
    chosen = np.sort(
        np.random.default_rng(seed).choice(total, size=min(rows, total), replace=False)
    )
    starts = np.concatenate([[0], np.cumsum(lengths)])
    pieces = []
    for i, part in enumerate(ddf.to_delayed()):
        inside = chosen[(chosen >= starts[i]) & (chosen < starts[i + 1])] - starts[i]
        if inside.size:
            pieces.append(dask.delayed(_rows_at)(part, inside))
    frames = client.gather(client.compute(pieces)) if pieces else []
    sample = pd.concat(frames) if frames else ddf._meta.copy()
    return sample, total


def load_parquet(pattern, target, task_type, sample_rows, seed, scheduler, workers):
    """The Source of a Parquet dataset: the seeded sample as its frame, and
    every row on Dask. The caller closes the client (`close`)."""
    dd, _ = _dask()
    files = parquet_files(pattern)
    schema = check_schemas(files)
    if target not in schema.names:
        columns = ", ".join(schema.names[:12]) + (", ..." if len(schema.names) > 12 else "")
        raise ReportInputError(
            "the Parquet data has no column {!r}; its columns are {}; pick one with "
            "--target".format(target, columns)
        )
    client, where = connect(scheduler, workers)
    try:
        ddf = dd.read_parquet(files)
        sample, total = seeded_sample(ddf, client, sample_rows, seed)
    except BaseException:
        close(client)
        raise
    shown = os.fspath(pattern)
    source = Source(sample, target, os.path.basename(shown.rstrip("/")) or shown, task_type)
    source.distributed = Distributed(ddf, client, total, where)
    return source
