import numpy as np
import pandas as pd
import pytest

pytest.importorskip("ipywidgets")


def small_frame(task_type, rows=160, seed=0):
    rng = np.random.default_rng(seed)
    data = pd.DataFrame(
        {
            "x0": rng.normal(size=rows),
            "x1": rng.uniform(-1, 1, size=rows),
            "x2": rng.normal(size=rows),
            "grade": rng.choice(["a", "b", "c"], size=rows),
        }
    )
    signal = 1.5 * data.x0 - data.x1**2 + 0.5 * data.x2 + (data.grade == "b")
    if task_type == "regression":
        data["y"] = signal + rng.normal(scale=0.3, size=rows)
    else:
        data["y"] = np.where(signal + rng.normal(scale=0.5, size=rows) > 0, "yes", "no")
    return data


@pytest.fixture(params=["classification", "regression"])
def task(request):
    return request.param


@pytest.fixture
def frame(task):
    return small_frame(task)


@pytest.fixture(scope="session")
def make_frame():
    return small_frame
