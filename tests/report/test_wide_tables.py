"""A wide table: every pair of columns is checked, the document stays small and says
what it leaves out, and the modelling steps take the features most tied to the target."""

import io
import re

import numpy as np
import pandas as pd

from zeka.report import cli
from zeka.report.inputs import MAX_MODEL_FEATURES


def wide_frame(rows=100, numerical=2500, categorical=2500, seed=5):
    rng = np.random.default_rng(seed)
    signal = rng.normal(size=rows)
    columns = {f"n{i}": rng.normal(size=rows) for i in range(numerical)}
    columns.update({f"c{i}": rng.choice(list("abc"), size=rows) for i in range(categorical)})
    frame = pd.DataFrame(columns)
    frame["n17"] = signal + 0.1 * rng.normal(size=rows)  # tied to the target and to n42
    frame["n42"] = signal + 0.1 * rng.normal(size=rows)
    frame["y"] = (signal > 0).astype(int)
    return frame


def test_five_thousand_columns_give_a_small_report_of_every_pair(tmp_path):
    csv, out = tmp_path / "wide.csv", tmp_path / "wide.html"
    wide_frame().to_csv(csv, index=False)
    stdout, stderr = io.StringIO(), io.StringIO()
    status = cli.run(
        [
            "report",
            "--csv",
            str(csv),
            "--target",
            "y",
            "--models",
            "glm",
            "--out",
            str(out),
            "--quiet",
        ],
        stdout=stdout,
        stderr=stderr,
    )
    assert status == 0, stderr.getvalue()
    html = out.read_text()
    assert len(html.encode()) < 10 * 2**20
    text = re.sub(r"\s+", " ", re.sub(r"<[^>]+>", " ", html))
    assert "60 of the 5001 columns are shown" in text
    assert "The association of every pair of the 5001 columns was computed" in text
    # the strongest pair is found among the 12.5 million
    assert re.search(r"strongest association between two columns is n17 and n42", text)
    assert "The table has 5000 features, more than the {}".format(MAX_MODEL_FEATURES) in text
    assert "leave out the other {}".format(5000 - MAX_MODEL_FEATURES) in text
