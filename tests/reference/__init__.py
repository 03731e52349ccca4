"""Definitions the tests compare the package with: the same quantities written
plainly with numpy, pandas and per-value Python calls. Benchmarks use them as
their baselines."""
