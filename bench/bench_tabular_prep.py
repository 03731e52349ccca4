"""DataPreprocessor against the same scikit-learn pipeline built in Python.

Both sides run ``fit_transform`` on a matrix of 12 numerical and 8 categorical
columns and then ``transform`` on new rows of the same shape (some categories
unseen in fitting). Prints the time ratio (ours / baseline, best and median of
the repeats) and the peak traced memory of one run of each.

    python bench/bench_tabular_prep.py [--rows N] [--repeat R]
"""

import argparse
import resource
import time
import tracemalloc

import numpy as np
import sklearn
from packaging.version import parse
from sklearn.compose import ColumnTransformer
from sklearn.impute import SimpleImputer
from sklearn.pipeline import FeatureUnion, Pipeline
from sklearn.preprocessing import OneHotEncoder, OrdinalEncoder, StandardScaler

from zeka.data.tabular_prep import DataPreprocessor

N_FEATURES = 20
CATEGORICAL = [1, 4, 6, 9, 11, 14, 17, 19]
NUMERICAL = [p for p in range(N_FEATURES) if p not in CATEGORICAL]
LEVELS = [2, 3, 4, 5, 6, 8, 10, 12]


def make_matrix(rows, seed, unseen=False):
    rng = np.random.default_rng(seed)
    x = rng.normal(5.0, 3.0, size=(rows, N_FEATURES))
    for p, k in zip(CATEGORICAL, LEVELS):
        x[:, p] = rng.integers(0, k + (1 if unseen else 0), rows)
    return x


def passthrough(name, columns):
    return ColumnTransformer([(name, "passthrough", columns)], remainder="drop")


def baseline_pipeline(x, nums, cats):
    """The pipeline DataPreprocessor builds (unit_norm, one_hot), written in Python."""
    dense = "sparse" if parse(sklearn.__version__) < parse("1.2") else "sparse_output"
    entries, widths = [], {}
    for p in cats:
        values = np.unique(x[:, p])
        steps = [
            (
                "ordinal",
                OrdinalEncoder(
                    categories=[values], handle_unknown="use_encoded_value", unknown_value=np.nan
                ),
            ),
            ("handle_unknown", SimpleImputer(missing_values=np.nan, strategy="most_frequent")),
            (
                "one_hot",
                OneHotEncoder(
                    **{dense: False},
                    drop="first",
                    categories=[np.arange(len(values), dtype=np.float64)],
                ),
            ),
        ]
        entries.append((str(p), Pipeline(steps=steps), [p]))
        widths[p] = len(values) - 1
    numerical = Pipeline(
        steps=[("ntrans", passthrough("ntrans", nums)), ("scaling", StandardScaler())]
    )
    union = FeatureUnion(
        transformer_list=[("ntransformer", numerical), ("ctransformer", ColumnTransformer(entries))]
    )
    starts = np.cumsum([0] + [1] * len(nums) + [widths[p] for p in cats])
    sizes = [1] * len(nums) + [widths[p] for p in cats]
    order = np.argsort(nums + cats)
    columns = np.concatenate([np.arange(starts[i], starts[i] + sizes[i]) for i in order])
    return Pipeline([("union", union), ("selector", passthrough("selector", columns))])


def run_ours(x_fit, x_new):
    prep = DataPreprocessor(NUMERICAL, CATEGORICAL)
    return prep.fit_transform(x_fit), prep.transform(x_new)


def run_baseline(x_fit, x_new):
    pipeline = baseline_pipeline(x_fit, NUMERICAL, CATEGORICAL)
    return pipeline.fit_transform(x_fit), pipeline.transform(x_new)


def timed(run, x_fit, x_new):
    """Wall-clock and CPU seconds of one run (CPU time is steadier on a shared machine)."""
    wall, cpu = time.perf_counter(), time.process_time()
    run(x_fit, x_new)
    return time.perf_counter() - wall, time.process_time() - cpu


def traced_peak(run, x_fit, x_new):
    tracemalloc.start()
    run(x_fit, x_new)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return peak


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    args, _ = parser.parse_known_args(argv)

    x_fit, x_new = make_matrix(args.rows, 0), make_matrix(args.rows, 1, unseen=True)
    ours, theirs = run_ours(x_fit, x_new), run_baseline(x_fit, x_new)
    assert all(np.array_equal(a, b) for a, b in zip(ours, theirs)), "outputs differ"
    del ours, theirs

    runs = {"ours": run_ours, "baseline": run_baseline}
    times = {"ours": [], "baseline": []}
    for i in range(args.repeat):  # interleaved, alternating who goes first
        for name in ["ours", "baseline"] if i % 2 == 0 else ["baseline", "ours"]:
            times[name].append(timed(runs[name], x_fit, x_new))
    wall = {name: [t[0] for t in ts] for name, ts in times.items()}
    cpu = {name: [t[1] for t in ts] for name, ts in times.items()}
    peaks = {
        "ours": traced_peak(run_ours, x_fit, x_new),
        "baseline": traced_peak(run_baseline, x_fit, x_new),
    }

    print(
        f"DataPreprocessor fit_transform + transform, {args.rows} x {N_FEATURES} "
        f"({len(NUMERICAL)} numerical, {len(CATEGORICAL)} categorical), "
        f"{args.repeat} repeats"
    )
    for name in ["ours", "baseline"]:
        print(
            f"  {name:9s} wall best {min(wall[name]):7.3f} s, median "
            f"{np.median(wall[name]):7.3f} s;  CPU best {min(cpu[name]):7.3f} s;  "
            f"peak traced memory {peaks[name] / 2**20:8.1f} MiB"
        )
    for label, t in [("wall", wall), ("CPU", cpu)]:
        print(
            f"  {label} time ratio ours/baseline: best "
            f"{min(t['ours']) / min(t['baseline']):.3f}, median "
            f"{np.median(t['ours']) / np.median(t['baseline']):.3f}   (target <= 1.05)"
        )
    print(f"  peak memory ratio ours/baseline: {peaks['ours'] / peaks['baseline']:.3f}")
    print(
        f"  process max RSS: {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 2**10:.1f} "
        "MiB (inputs included)"
    )


if __name__ == "__main__":
    main()
