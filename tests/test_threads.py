"""Native kernels release the GIL; calls from several threads at once must
give exactly what the same calls give one after another."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

from zeka.data.causality.core import conditional_independence_test
from zeka.data.outlier_detection.novelty import OneClassSVM


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


CALLS = {"conditional_independence_test": independence, "OneClassSVM.fit refused": refused_fit}


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
def test_four_threads_agree_with_one(call):
    seeds = list(range(12))
    alone = [call(seed) for seed in seeds]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(call, seeds))
    assert together == alone
