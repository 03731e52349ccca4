"""zeka report --parquet: the integrity section over every row on Dask, the
modelling steps on a seeded sample; bad input is refused before any report."""

import io

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.parquet as pq
import pytest

from zeka.data.datasets.registry import DATASET_SOURCES
from zeka.report.cli import run


def _write_parts(folder, frame, parts=3):
    folder.mkdir(exist_ok=True)
    for i, rows in enumerate(np.array_split(np.arange(len(frame)), parts)):
        frame.iloc[rows].to_parquet(folder / "part{}.parquet".format(i))
    return str(folder / "*.parquet")


def _report(args):
    out, err = io.StringIO(), io.StringIO()
    status = run(["report", *args, "--quiet"], stdout=out, stderr=err)
    return status, out.getvalue(), err.getvalue()


def test_report_over_parquet(tmp_path):
    frame = DATASET_SOURCES["SimuCredit_raw"].build().iloc[:300]
    pattern = _write_parts(tmp_path / "data", frame)
    out = tmp_path / "report.html"
    status, _, err = _report(
        ["--parquet", pattern, "--target", "Default", "--models", "glm", "--workers", "1"]
        + ["--sample-rows", "150", "--out", str(out)]
    )
    assert status == 0, err
    page = out.read_text()
    assert "These checks ran on all 300 rows, on a local Dask cluster of 1 worker." in page
    assert "the other steps on a seeded sample of 150 rows" in page


def _bad_inputs(tmp_path):
    frame = pd.DataFrame({"x": np.arange(30.0), "y": np.arange(30) % 2, "t": ["a", "b"] * 15})
    good = _write_parts(tmp_path / "good", frame)
    mixed = tmp_path / "mixed"
    _write_parts(mixed, frame)
    frame.assign(x=frame["x"].astype(str)).to_parquet(mixed / "part9.parquet")
    nested = tmp_path / "nested.parquet"
    pq.write_table(pa.table({"x": list(range(30)), "y": [0, 1] * 15, "l": [[1, 2]] * 30}), nested)
    return {
        "nothing matches": (
            ["--parquet", str(tmp_path / "none*.parquet"), "--target", "y"],
            "matches no file",
        ),
        "schemas differ": (["--parquet", str(mixed), "--target", "y"], "differ in their schema"),
        "unknown type": (
            ["--parquet", str(nested), "--target", "y"],
            "column 'l' has the Parquet type list",
        ),
        "no target": (["--parquet", good, "--target", "z"], "has no column 'z'"),
        "no scheduler": (
            ["--parquet", good, "--target", "y", "--scheduler", "tcp://127.0.0.1:9"],
            "cannot reach the Dask scheduler at 'tcp://127.0.0.1:9'",
        ),
        "workers without parquet": (["--workers", "2"], "go with --parquet"),
    }


@pytest.mark.parametrize(
    "case",
    [
        "nothing matches",
        "schemas differ",
        "unknown type",
        "no target",
        "no scheduler",
        "workers without parquet",
    ],
)
def test_bad_parquet_input(tmp_path, case):
    args, message = _bad_inputs(tmp_path)[case]
    before = {p: p.read_bytes() for p in tmp_path.rglob("*") if p.is_file()}
    out = tmp_path / "report.html"
    status, _, err = _report(args + ["--out", str(out)])
    assert status == 2
    assert message in err
    assert len(err.strip().splitlines()) == 1
    assert not out.exists()
    assert {p: p.read_bytes() for p in tmp_path.rglob("*") if p.is_file()} == before
