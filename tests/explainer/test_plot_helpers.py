import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from numpy.testing import assert_allclose
from sklearn.preprocessing import MinMaxScaler, StandardScaler

from zeka.plots import scale_plot_ticks

RAW = np.column_stack([np.linspace(0, 50, 11), np.linspace(1000, 3000, 11)])
NAMED = MinMaxScaler().fit(pd.DataFrame(RAW, columns=["a", "b"]))


@pytest.mark.parametrize(
    "scaler, feature",
    [
        (StandardScaler().fit(RAW), 1),
        (StandardScaler().fit(RAW), [1, 0]),
        (NAMED, "b"),
        (NAMED, ["b"]),
    ],
)
@pytest.mark.parametrize("axis", [0, 1])
def test_ticks_are_labelled_in_original_units(scaler, feature, axis):
    fig, ax = plt.subplots()
    ax.plot([-2.0, 2.0], [0.0, 1.0])
    limits = (ax.get_xlim(), ax.get_ylim())
    assert scale_plot_ticks(ax=ax, feature=feature, scaler=scaler, axis=axis) is ax
    assert (ax.get_xlim(), ax.get_ylim()) == limits
    ticks, labels = ax.get_xticks(), ax.get_xticklabels()
    if axis:
        ticks, labels = ax.get_yticks(), ax.get_yticklabels()
    grid = np.column_stack([np.zeros(ticks.size), ticks])
    assert ticks.size >= 3
    assert_allclose([float(t.get_text()) for t in labels], scaler.inverse_transform(grid)[:, 1])
    for bad, error in [("c", ValueError), (2, IndexError)]:
        with pytest.raises(error):
            scale_plot_ticks(ax=ax, feature=bad, scaler=scaler, axis=axis)
    plt.close(fig)
