"""Native kernels release the GIL; calls from several threads at once must
give exactly what the same calls give one after another."""

from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pandas as pd
import pytest

from zeka.data.causality.core import conditional_independence_test
from zeka.data.outlier_detection.novelty import OneClassSVM
from zeka.data.quality_scan.correlation import correlation_ratio, symmetric_theil_u_correlation
from zeka.data.quality_scan.quality_scan import DataIntegrityCheck
from zeka.models import XGB2Regressor
from zeka.models._pair_gain import pair_gains


def independence(seed):
    rng = np.random.default_rng(seed)
    x = rng.normal(size=(3000, 2))
    y = x[:, :1] ** 2 + rng.normal(size=(3000, 1))
    return conditional_independence_test(x, y, rng.normal(size=(3000, 1)), seed=seed)


def refused_fit(seed):
    x = np.random.default_rng(seed).normal(size=(24, 2))
    try:
        OneClassSVM(nu=1.0).fit(x, sample_weight=np.linspace(0.5, 2, 24))
    except ValueError as error:
        return str(error)


def messy_frame(seed, rows=4000):
    rng = np.random.default_rng(seed)
    words = np.array(
        ["alpha", "beta", "%%", "12.5", " 1_000 ", "x" * 60, None, "nan", "--"], dtype=object
    )
    return pd.DataFrame({f"c{i}": rng.choice(words, rows) for i in range(4)})


def integrity_checks(seed):
    check = DataIntegrityCheck(messy_frame(seed), None)
    tables = [
        check.long_string(),
        check.special_characters(),
        check.mixed_data_type(),
        check.single_column_check().data,
    ]
    return [table.to_json() for table in tables]


def association(seed):
    rng = np.random.default_rng(seed)
    codes = rng.integers(0, 5, 50_000).astype(float)
    other = (codes + rng.integers(0, 3, 50_000)).astype(float)
    return (
        symmetric_theil_u_correlation(codes, other),
        correlation_ratio(codes, other + rng.normal(size=50_000)),
    )


def pair_scores(seed):
    rng = np.random.default_rng(seed)
    bins = rng.integers(0, 16, size=(5000, 12))
    pairs = np.array([(j, k) for j in range(12) for k in range(j + 1, 12)])
    return pair_gains(
        bins, np.full(12, 16), pairs, rng.normal(size=5000), rng.uniform(size=5000), 0.005
    ).tolist()


def boosted_trees(seed):
    # every node's histograms (in four lanes: 20 bins, 5,000 rows) and its cut
    rng = np.random.default_rng(seed)
    X = rng.integers(0, 20, size=(5000, 3)).astype(float)
    y = X[:, 0] * X[:, 1] + rng.normal(size=5000)
    return XGB2Regressor(n_estimators=10).fit(X, y).predict(X[:100]).tolist()


CALLS = {
    "conditional_independence_test": independence,
    "OneClassSVM.fit refused": refused_fit,
    "DataIntegrityCheck checks": integrity_checks,
    "association measures": association,
    "pair_gains": pair_scores,
    "XGB2Regressor.fit": boosted_trees,
}


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
def test_four_threads_agree_with_one(call):
    seeds = list(range(12))
    alone = [call(seed) for seed in seeds]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(call, seeds))
    assert together == alone
