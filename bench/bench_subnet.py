"""The small networks' training step: native against the numpy definition.

One optimiser step of gaminet's banks on a breast-cancer-sized batch (main effects: 30
networks of 1 input and 20 hidden units; pairs: 10 networks of 2 inputs and 20, 20
hidden units; 46 rows) and of reludnn's network on a breast-cancer-sized batch (30 inputs,
40, 40 hidden units, 46 rows): forward, backward and the Adam update of both paths, checked equal up to float32
rounding first. Prints the time per step of each part and the ratio (numpy / native, the
best of the repeats).

    python bench/bench_subnet.py [--repeat R] [--steps S]
"""

import argparse
import time

import numpy as np

from zeka.models._nn import Adam, SubnetBank

CASES = {
    "gaminet main effects": (30, 46, 1, [20]),
    "gaminet pairs": (10, 46, 2, [20, 20]),
    "reludnn": (1, 46, 30, [40, 40]),
}


def make_case(m, n, d_in, hidden):
    rng = np.random.RandomState(0)
    bank = SubnetBank(m, d_in, hidden, rng)
    return bank, rng.normal(size=(m, n, d_in)).astype(np.float32), rng.normal(size=(m, n))


def step_parts(bank, U, d_out, native):
    """(forward, backward, update) closures of one path, on a copy of the parameters."""
    forward = bank.forward if native else bank.forward_numpy
    backward = bank.backward if native else bank.backward_numpy
    optimizer = Adam([p.copy() for p in bank.params], 1e-3)
    update = optimizer.step if native else optimizer.step_numpy
    out, cache = forward(U)
    grads = backward(cache, d_out)
    return (
        (lambda: forward(U)),
        (lambda: backward(cache, d_out)),
        (lambda: update(grads)),
        (out, grads),
    )


def check_equal(bank, U, d_out):
    *_, (out, grads) = step_parts(bank, U, d_out, True)
    *_, (ref_out, ref_grads) = step_parts(bank, U, d_out, False)
    np.testing.assert_allclose(out, ref_out, rtol=1e-5, atol=1e-5 * np.abs(ref_out).max())
    for g, ref in zip(grads, ref_grads):
        np.testing.assert_allclose(g, ref, rtol=1e-4, atol=1e-5 * np.abs(ref).max())


def best_time(function, steps, repeat):
    best = np.inf
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(steps):
            function()
        best = min(best, (time.perf_counter() - start) / steps)
    return best


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--steps", type=int, default=200)
    options = parser.parse_args(argv)
    for name, shape in CASES.items():
        bank, U, d_out = make_case(*shape)
        check_equal(bank, U, d_out)
        times = {}
        for native in (False, True):
            parts = step_parts(bank, U, d_out, native)[:3]
            times[native] = [best_time(part, options.steps, options.repeat) for part in parts]
        cells = []
        for label, ref, ours in zip(["forward", "backward", "adam"], times[False], times[True]):
            cells.append(
                "%s %6.1f us -> %6.1f us (x%4.1f)" % (label, ref * 1e6, ours * 1e6, ref / ours)
            )
        print("%-21s %s" % (name, "  ".join(cells)), flush=True)


if __name__ == "__main__":
    main()
