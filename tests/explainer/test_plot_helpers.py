import matplotlib
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from numpy.testing import assert_allclose
from sklearn.preprocessing import MinMaxScaler, StandardScaler

from zeka.plots import scale_plot_ticks

matplotlib.use("Agg")


@pytest.fixture
def ax():
    fig, ax = plt.subplots()
    ax.plot([-2.0, 2.0], [0.0, 1.0])
    yield ax
    plt.close(fig)


RAW = np.column_stack([np.linspace(0, 50, 11), np.linspace(1000, 3000, 11)])


@pytest.mark.parametrize("scaler, feature", [
    (StandardScaler().fit(RAW), 1),
    (StandardScaler().fit(RAW), [1, 0]),
    (MinMaxScaler().fit(pd.DataFrame(RAW, columns=["a", "b"])), "b"),
    (MinMaxScaler().fit(pd.DataFrame(RAW, columns=["a", "b"])), ["b"]),
])
@pytest.mark.parametrize("axis", [0, 1])
def test_ticks_are_labelled_in_original_units(ax, scaler, feature, axis):
    limits = (ax.get_xlim(), ax.get_ylim())
    scale_plot_ticks(ax=ax, feature=feature, scaler=scaler, axis=axis)
    assert (ax.get_xlim(), ax.get_ylim()) == limits
    ticks = ax.get_xticks() if axis == 0 else ax.get_yticks()
    labels = ax.get_xticklabels() if axis == 0 else ax.get_yticklabels()
    shown = np.array([float(label.get_text()) for label in labels])
    grid = np.zeros((ticks.size, 2))
    grid[:, 1] = ticks
    assert ticks.size >= 3
    assert_allclose(shown, scaler.inverse_transform(grid)[:, 1], rtol=1e-9)


def test_unplaceable_features(ax):
    scaler = StandardScaler().fit(RAW)
    with pytest.raises(ValueError, match="without feature names"):
        scale_plot_ticks(ax=ax, feature="b", scaler=scaler, axis=0)
    with pytest.raises(IndexError):
        scale_plot_ticks(ax=ax, feature=2, scaler=scaler, axis=0)
    with pytest.raises(ValueError, match="not among"):
        scale_plot_ticks(ax=ax, feature="c", scaler=MinMaxScaler().fit(
            pd.DataFrame(RAW, columns=["a", "b"])), axis=0)
