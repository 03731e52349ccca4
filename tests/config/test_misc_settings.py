import pytest
from sklearn.metrics import get_scorer

from zeka.config import misc_settings as ms

SCORER_NAMES = {
    "MSE": "neg_mean_squared_error",
    "MAE": "neg_mean_absolute_error",
    "R2": "r2",
    "ACC": "accuracy",
    "AUC": "roc_auc",
    "F1": "f1",
    "LogLoss": "neg_log_loss",
    "Brier": "neg_brier_score",
}


def test_module_names_are_bound_in_order():
    names = [n for n in vars(ms) if not n.startswith("__")]
    assert names == [
        "get_scorer",
        "REG_METRICS_ADDITIVE",
        "CLS_METRICS_ADDITIVE",
        "REG_METRICS",
        "CLS_METRICS",
        "METRICS",
        "DATASET_NAMES",
    ]
    assert ms.get_scorer is get_scorer


@pytest.mark.parametrize(
    "table, keys",
    [
        ("REG_METRICS_ADDITIVE", ["MSE", "MAE"]),
        ("CLS_METRICS_ADDITIVE", ["ACC", "LogLoss", "Brier"]),
        ("REG_METRICS", ["MSE", "MAE", "R2"]),
        ("CLS_METRICS", ["ACC", "AUC", "F1", "LogLoss", "Brier"]),
        ("METRICS", ["MSE", "MAE", "R2", "ACC", "AUC", "F1", "LogLoss", "Brier"]),
    ],
)
def test_metric_tables_hold_the_named_scorers(table, keys):
    scorers = getattr(ms, table)
    assert list(scorers) == keys
    for key, scorer in scorers.items():
        assert repr(scorer) == repr(get_scorer(SCORER_NAMES[key]))


def test_each_table_has_scorers_of_its_own_except_metrics():
    # every table but METRICS calls get_scorer per entry
    assert ms.REG_METRICS["MSE"] is not ms.REG_METRICS_ADDITIVE["MSE"]
    assert ms.CLS_METRICS["ACC"] is not ms.CLS_METRICS_ADDITIVE["ACC"]
    for key in ms.METRICS:
        source = ms.REG_METRICS if key in ms.REG_METRICS else ms.CLS_METRICS
        assert ms.METRICS[key] is source[key]


def test_metrics_is_a_separate_dict():
    ms.METRICS["extra"] = None
    try:
        assert "extra" not in ms.REG_METRICS and "extra" not in ms.CLS_METRICS
    finally:
        del ms.METRICS["extra"]
    assert ms.METRICS is not ms.REG_METRICS and ms.METRICS is not ms.CLS_METRICS


def test_error_metrics_are_negated():
    import numpy as np
    from sklearn.linear_model import LinearRegression

    x = np.arange(10.0).reshape(-1, 1)
    y = x.ravel() ** 2
    model = LinearRegression().fit(x, y)
    assert ms.REG_METRICS["MSE"](model, x, y) < 0
    assert ms.REG_METRICS["MSE"]._sign == -1 and ms.REG_METRICS["R2"]._sign == 1


def test_dataset_names():
    assert len(ms.DATASET_NAMES) == 10
    assert all(key == value and isinstance(key, str) for key, value in ms.DATASET_NAMES.items())
    suffixed = [name for name in ms.DATASET_NAMES if name.endswith(("_raw", "_trim1", "_trim2"))]
    stems = {name.rsplit("_", 1)[0] for name in suffixed}
    assert len(suffixed) == 3 and len(stems) == 1
