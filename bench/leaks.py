"""Calls each public entry point many times and reports what it leaves behind.

For every case (a successful call and a failing one per entry point) the
call runs ``--calls`` times after a warm-up; the report gives, per call, the
growth of live objects the garbage collector tracks, of the reference counts
of the arguments, and of memory traced by tracemalloc, over the second half
of the calls. A leak-free entry point shows 0 objects and references; its
traced bytes stay below 16 per call (one leaked allocation per call would
show at least that), caches that fill once amortising towards 0.

    python bench/leaks.py [--calls N] [--only SUBSTRING]
"""

import argparse
import gc
import pathlib
import sys
import tracemalloc
import warnings

import matplotlib

matplotlib.use("Agg")

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
from sklearn.linear_model import LinearRegression  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
from reference.native_modules import installed_native_modules  # noqa: E402

WARM_UP = 50
# One leaked allocation per call shows as at least this many bytes per call;
# caches that fill once amortise to less over 10,000 calls.
SMALLEST_ALLOCATION = 16


def matrix(rows=40, seed=0):
    x = np.random.default_rng(seed).normal(size=(rows, 4))
    x[:, 1] = np.arange(rows) % 3
    return x


def frame():
    data = pd.DataFrame(matrix(), columns=list("abcd"))
    data["y"] = data["a"] - data["c"]
    data["text"] = ["1.5", "word", None, "x" * 80] * 10
    return data


def landed_cases():
    from zeka.config import estimator_settings as es
    from zeka.data.dataset import Dataset
    from zeka.data.outlier_detection.novelty import OneClassSVM
    from zeka.data.tabular_prep import DataPreprocessor
    from zeka.workflow.workbench import ModelAPI

    x = matrix()
    prep = DataPreprocessor([0, 2, 3], [1])
    prep.fit(x)
    detector = OneClassSVM()
    detector.fit(x)
    dataset = Dataset(frame().drop(columns="text"), target="y")
    api = ModelAPI(dataset, model_list=["glm"], model_item=es.model_param_items)
    pipeline = api.model_dict["glm"]
    api.singlerun(pipeline, "glm")
    table = {k: dict(v) for k, v in es.model_param_items.items()}
    return [
        ("param_render", es.param_render, ("gaminet", "max_epochs", "1, 2")),
        ("param_render (error)", es.param_render, ("nope", "x", 1)),
        ("model_param_specific", es.model_param_specific, (table, dataset)),
        ("model_param_specific (error)", es.model_param_specific, ({}, dataset)),
        ("DataPreprocessor()", DataPreprocessor, ([0, 2, 3], [1])),
        ("DataPreprocessor.transform", prep.transform, (x,)),
        ("DataPreprocessor.transform (error)", prep.transform, (x[:, :2],)),
        ("DataPreprocessor.fit_transform", prep.fit_transform, (x,)),
        ("OneClassSVM.fit", OneClassSVM(standardization=True).fit, (x,)),
        ("OneClassSVM.fit (refused)", OneClassSVM(nu=1.0).fit, (x, None, np.linspace(0.5, 2, 40))),
        ("OneClassSVM.decision_function", detector.decision_function, (x,)),
        ("OneClassSVM.predict", detector.predict, (x,)),
        ("OneClassSVM.predict (error)", detector.predict, ("x",)),
        ("ModelAPI.make_pipeline", api.make_pipeline, (LinearRegression(),)),
        ("ModelAPI.evaluate", api.evaluate, (pipeline,)),
        ("ModelAPI.get_leaderboard", api.get_leaderboard, ("MSE",)),
        ("ModelAPI.get_leaderboard (error)", api.get_leaderboard, ("nope",)),
        ("ModelAPI() (error)", ModelAPI, (dataset, ["nope"], es.model_param_items)),
    ]


def selection_cases():
    from zeka.data.causality.core import conditional_independence_test
    from zeka.data.variable_screen import FeatureSelection

    x, z = matrix(), matrix(seed=1)
    selector = FeatureSelection("cor", X=x, y=z[:, 0], feature_names=list("abcd"))
    return [
        (
            "conditional_independence_test",
            conditional_independence_test,
            (x[:, :2], z[:, :1], z[:, 2:]),
        ),
        ("conditional_independence_test (error)", conditional_independence_test, (x, z[:7], None)),
        ("FeatureSelection.variable_screen", selector.variable_screen, ()),
    ]


def quality_cases():
    from zeka.data.quality_scan import correlation, utils
    from zeka.data.quality_scan import quality_scan as quality

    data = frame()
    check = quality.DataIntegrityCheck(data, None)
    letters = pd.Series(list("aabbc") * 8)
    return [
        ("DataIntegrityCheck.single_column_check", check.single_column_check, ()),
        ("DataIntegrityCheck.long_string", check.long_string, ()),
        ("DataIntegrityCheck.long_string (error)", check.long_string, (2.0,)),
        ("DataIntegrityCheck.special_characters", check.special_characters, ()),
        ("DataIntegrityCheck.duplicated_samples", check.duplicated_samples, ()),
        ("DataIntegrityCheck.mixed_data_type", check.mixed_data_type, ()),
        ("DataIntegrityCheck() (error)", quality.DataIntegrityCheck, (data, [])),
        ("string_baseform", utils.string_baseform, ("a-b c!", True)),
        (
            "symmetric_theil_u_correlation",
            correlation.symmetric_theil_u_correlation,
            (letters, letters[::-1].reset_index(drop=True)),
        ),
        ("correlation_ratio", correlation.correlation_ratio, (letters, pd.Series(range(40)))),
    ]


def shap_cases():
    from zeka.explainer.shap import SHAP

    x = matrix()
    model = LinearRegression().fit(x, x[:, 0] - x[:, 2])
    explainer = SHAP(model, list("abcd"), sample_size=None)
    explainer.fit(x)
    return [
        ("SHAP()", SHAP, (model, list("abcd"))),
        ("SHAP.fit", explainer.fit, (x,)),
        ("SHAP.global_explain_data", explainer.global_explain_data, ()),
        ("SHAP.local_explain_data", explainer.local_explain_data, (x[4:5],)),
        ("SHAP.local_explain_data (error)", explainer.local_explain_data, (x[:, :2],)),
    ]


def model_kernel_cases():
    from zeka.models import _boost_tree, _pair_gain, _subnet
    from zeka.models._nn import SubnetBank

    rng = np.random.RandomState(0)
    bins = rng.randint(0, 8, (4, 40)).astype(np.int64)
    g, h = rng.normal(size=40), np.ones(40)
    hist_g, hist_h = _boost_tree.bin_sums(bins, 8, None, [g, h], 4)
    split = (
        hist_g,
        hist_h,
        np.full(4, 7),
        np.zeros(4),
        g.sum(),
        h.sum(),
        0.0,
        -np.inf,
        np.inf,
        1.0,
        0.0,
        0.0,
        1.0,
    )
    main = SubnetBank(3, 1, [4], rng)
    network = (
        (main.weights, main.biases, main.monotone, rng.normal(size=(3, 40, 1)).astype(np.float32)),
        None,
        np.zeros((0, 2), np.int64),
        np.ones(3),
        np.zeros(0),
        np.zeros(1),
        g,
        h,
    )
    return [
        ("bin_sums", _boost_tree.bin_sums, (bins, 8, np.arange(0, 40, 3), [g, h], 4)),
        ("bin_sums (error)", _boost_tree.bin_sums, (bins, 4, None, [g], 1)),
        ("best_split", _boost_tree.best_split, split),
        ("best_split (error)", _boost_tree.best_split, split[:9] + (-1.0,) + split[10:]),
        ("additive_loss", _subnet.additive_loss, network + (np.arange(10), False, 0.0)),
        (
            "additive_loss (error)",
            _subnet.additive_loss,
            network + (np.arange(10) + 35, False, 0.0),
        ),
        (
            "pair_gains",
            _pair_gain.pair_gains,
            (bins.T.copy(), np.full(4, 8), np.array([[0, 1], [2, 3]]), g, h, 0.01),
        ),
    ]


def growth_per_call(call, args, calls):
    """(objects, argument references, traced bytes) gained per call, measured
    over the second half of the calls, after caches that fill once (types'
    attribute caches, interned names, library memoisation) have filled."""

    def run(n):
        for _ in range(n):
            try:
                call(*args)
            except Exception:  # noqa: BLE001 - the failing cases fail on purpose
                pass

    def state():
        gc.collect()
        return (
            len(gc.get_objects()),
            sum(sys.getrefcount(a) for a in args),
            tracemalloc.get_traced_memory()[0],
        )

    run(WARM_UP)
    tracemalloc.start()
    run(calls // 2)
    before = state()
    run(calls // 2)
    after = state()
    tracemalloc.stop()
    return tuple((b - a) / (calls // 2) for a, b in zip(before, after))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=10_000)
    parser.add_argument("--only", default="")
    options = parser.parse_args(argv)
    warnings.simplefilter("ignore")
    print(f"{'entry point':45s} {'objects/call':>13s} {'refs/call':>10s} {'bytes/call':>11s}")
    leaking = []
    cases = (
        landed_cases() + selection_cases() + quality_cases() + shap_cases() + model_kernel_cases()
    )
    for label, call, args in cases:
        if options.only not in label:
            continue
        objects, references, memory = growth_per_call(call, args, options.calls)
        print(f"{label:45s} {objects:13.4f} {references:10.4f} {memory:11.2f}", flush=True)
        if objects >= 0.01 or references != 0 or memory >= SMALLEST_ALLOCATION:
            leaking.append(label)
    print("leaks:", ", ".join(leaking) if leaking else "none")
    covered = {module_of(call) for _, call, _ in cases}
    uncovered = [
        name
        for name in installed_native_modules()
        if name not in covered and has_entry_points(name)
    ]
    print("native modules without a case:", ", ".join(uncovered) if uncovered else "none")
    return 1 if leaking or uncovered else 0


def has_entry_points(module_name):
    """Whether a module defines anything callable (a table-only module does not)."""
    module = sys.modules.get(module_name) or __import__(module_name, fromlist=["_"])
    return any(
        callable(value) and getattr(value, "__module__", None) == module_name
        for name, value in vars(module).items()
        if not name.startswith("_")
    )


def module_of(call):
    """The module a case's callable comes from (a bound method's: its class's)."""
    owner = getattr(call, "__self__", None)
    if owner is not None and not isinstance(owner, type(sys)):
        return (owner if isinstance(owner, type) else type(owner)).__module__
    return call.__module__


if __name__ == "__main__":
    sys.exit(main())
