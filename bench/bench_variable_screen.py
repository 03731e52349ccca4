"""FeatureSelection's dependence scores against baselines measured in the same run.

"rit": ``variable_screen`` with method "rit" over 20 features x 100,000 rows
against the same test written here with numpy (its settings: 5 random features
per variable, kernel widths from the first 100 rows, seed 0; the features
drawn from a Python copy of the native generator), p-values checked close
first. Prints the time ratio and the test's extra memory: the growth of the
peak resident set of a fresh process during one test, at two row counts.

"dcor": ``variable_screen`` with method "dcor" (dcor's fast method) against
the same call falling back to statsmodels (dcor's import blocked), on the first
few features (statsmodels is quadratic in the 5000 sampled rows), scores
checked close first.

    python bench/bench_variable_screen.py [--rows N] [--repeat R] [--dcor-features K]
"""

import argparse
import math
import subprocess
import sys
import time

import numpy as np
from scipy.spatial.distance import pdist
from scipy.special import gammaincc

from zeka.data.causality.core import conditional_independence_test
from zeka.data.variable_screen import FeatureSelection

N_FEATURES = 20
MASK = (1 << 64) - 1


class SplitMix64:
    """The native generator: splitmix64 bits, Box-Muller normals."""

    def __init__(self, seed):
        self.state, self.spare = seed & MASK, None

    def bits(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def uniform(self):
        return (self.bits() >> 11) * 2.0**-53

    def normal(self):
        if self.spare is not None:
            value, self.spare = self.spare, None
            return value
        radius = math.sqrt(-2.0 * math.log(1.0 - self.uniform()))
        angle = 2.0 * math.pi * self.uniform()
        self.spare = radius * math.sin(angle)
        return radius * math.cos(angle)


def standardize(v):
    return (v - v.mean(axis=0)) / v.std(axis=0, ddof=1)


def fourier_features(rng, v, count, width_rows):
    width = np.median(pdist(v[:width_rows]))
    w = np.array([rng.normal() for _ in range(count * v.shape[1])]).reshape(count, -1) / width
    b = np.array([2.0 * math.pi * rng.uniform() for _ in range(count)])
    return standardize(math.sqrt(2.0) * np.cos(v @ w.T + b))


def numpy_rit(x, y, num_f2=5, width_rows=100, seed=0):
    """The unconditional randomized independence test with numpy: (p-value, statistic)."""
    rng = SplitMix64(seed)
    fx = fourier_features(rng, standardize(x), num_f2, width_rows)
    fy = fourier_features(rng, standardize(y), num_f2, width_rows)
    n = len(fx)
    statistic = n * ((fx.T @ fy / (n - 1)) ** 2).sum()
    products = (fx[:, :, None] * fy[:, None, :]).reshape(n, -1)
    cov = products.T @ products / n
    square = cov @ cov
    k1, k2, k3 = np.trace(cov), 2 * np.trace(square), 8 * (square * cov.T).sum()
    nu = 8 * k2**3 / k3**2  # Hall-Buckley-Eagleson: a + b chi2_nu
    on_chi_square_scale = np.sqrt(2 * nu / k2) * (statistic - k1) + nu
    # Below the approximation's support (a + b chi2_nu >= a) the p-value is 1.
    p = gammaincc(nu / 2, on_chi_square_scale / 2) if on_chi_square_scale > 0 else 1.0
    return p, statistic


def make_data(rows, seed=0):
    rng = np.random.default_rng(seed)
    x = rng.normal(size=(rows, N_FEATURES))
    y = x[:, [0]] ** 2 + np.sin(3 * x[:, [1]]) + x[:, [2]] + rng.normal(size=(rows, 1))
    return x, y


def timed(run):
    wall, cpu = time.perf_counter(), time.process_time()
    result = run()
    return result, time.perf_counter() - wall, time.process_time() - cpu


def ours_rit(x, y):
    names = [f"x{i}" for i in range(N_FEATURES)]
    return FeatureSelection(method="rit", X=x, y=y, feature_names=names).variable_screen()[0]


def baseline_rit(x, y):
    return [numpy_rit(x[:, [i]], y)[0] for i in range(N_FEATURES)]


def status_kib(field):
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith(field + ":"))


def memory_probe(side, rows):
    """Peak resident growth (bytes) of one test on one feature, in this process.

    The kernel's high-water mark is reset just before the test (Linux
    /proc/self/clear_refs), so earlier peaks do not hide the test's own."""
    x, y = make_data(rows)
    column = np.ascontiguousarray(x[:, [3]])
    test = {
        "ours": lambda a, b: conditional_independence_test(
            a, b, None, method="rcit", num_f=25, num_f2=5, n_subsamples=100, seed=0
        ),
        "numpy": numpy_rit,
    }[side]
    test(column[:1000], y[:1000])  # first-call set-up outside the measurement
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")
    before = status_kib("VmRSS")
    test(column, y)
    return (status_kib("VmHWM") - before) * 1024


def probe_in_subprocess(side, rows):
    out = subprocess.check_output([sys.executable, __file__, "--probe", side, "--rows", str(rows)])
    return int(out.decode().split()[-1])


def bench_rit(rows, repeat):
    x, y = make_data(rows)
    ours, theirs = ours_rit(x, y), baseline_rit(x, y)
    np.testing.assert_allclose(ours, theirs, rtol=1e-6, atol=1e-12, err_msg="p-values differ")
    times = {"ours": [], "numpy": []}
    runs = {"ours": ours_rit, "numpy": baseline_rit}
    for i in range(repeat):  # interleaved, alternating who goes first
        for name in ["ours", "numpy"] if i % 2 == 0 else ["numpy", "ours"]:
            times[name].append(timed(lambda: runs[name](x, y))[1:])
    print(
        f'"rit" scores, {rows} rows x {N_FEATURES} features, {repeat} repeats '
        f"(p-values agree to rtol 1e-6; smallest {min(ours):.3g})"
    )
    for name in ["ours", "numpy"]:
        wall = [t[0] for t in times[name]]
        cpu = [t[1] for t in times[name]]
        print(
            f"  {name:6s} wall best {min(wall):7.3f} s, median {np.median(wall):7.3f} s;  "
            f"CPU best {min(cpu):7.3f} s"
        )
    for label, k in [("wall", 0), ("CPU", 1)]:
        best = min(t[k] for t in times["numpy"]) / min(t[k] for t in times["ours"])
        median = np.median([t[k] for t in times["numpy"]]) / np.median(
            [t[k] for t in times["ours"]]
        )
        print(
            f"  {label} speed-up numpy/ours: best {best:.2f}x, median {median:.2f}x   (target >= 2)"
        )
    print("  extra memory of one test (peak resident growth, fresh process, Linux):")
    for side in ["ours", "numpy"]:
        growth = {n: probe_in_subprocess(side, n) for n in (rows, 4 * rows)}
        slope = (growth[4 * rows] - growth[rows]) / (3 * rows)
        print(
            f"    {side:6s} {growth[rows] / 2**20:7.1f} MiB at {rows} rows, "
            f"{growth[4 * rows] / 2**20:7.1f} MiB at {4 * rows} rows: "
            f"{slope:6.1f} bytes per row = {slope / 8:5.1f} float64 columns"
        )


def ours_dcor(x, y, features):
    names = [f"x{i}" for i in range(features)]
    return FeatureSelection(method="dcor", X=x, y=y, feature_names=names).variable_screen()[0]


def fallback_dcor(x, y, features):
    saved = sys.modules.get("dcor")
    sys.modules["dcor"] = None  # the import fails: statsmodels is used
    try:
        return ours_dcor(x, y, features)
    finally:
        sys.modules["dcor"] = saved


def bench_dcor(rows, features):
    x, y = make_data(rows)
    ours_dcor(x[:200], y[:200], features)  # dcor's first-call compilation outside the timing
    ours, t_ours, _ = timed(lambda: ours_dcor(x, y, features))
    fallback, t_fallback, _ = timed(lambda: fallback_dcor(x, y, features))
    np.testing.assert_allclose(ours, fallback, rtol=1e-7, err_msg="distance correlations differ")
    print(f'"dcor" scores, {rows} rows ({min(rows, 5000)} sampled) x {features} features')
    print(
        f"  dcor {t_ours:7.3f} s, statsmodels fallback {t_fallback:7.3f} s: "
        f"speed-up {t_fallback / t_ours:.1f}x"
    )


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--dcor-features", type=int, default=3)
    parser.add_argument("--probe", choices=["ours", "numpy"])
    args, _ = parser.parse_known_args(argv)
    if args.probe:
        print(memory_probe(args.probe, args.rows))
        return
    bench_rit(args.rows, args.repeat)
    bench_dcor(args.rows, args.dcor_features)


if __name__ == "__main__":
    main()
