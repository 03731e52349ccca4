"""Tables from scikit-learn: two seeded generators and two bundled data sets.

The bundled data sets are read from files that ship with scikit-learn; nothing
is downloaded.
"""

import pandas as pd
from sklearn.datasets import load_breast_cancer, load_diabetes, make_friedman1, make_hastie_10_2

FRIEDMAN_SEED = 20240505
HASTIE_SEED = 20240506


def _frame(x, y, target):
    frame = pd.DataFrame(x, columns=["X%d" % (j + 1) for j in range(x.shape[1])])
    frame[target] = y
    return frame


def friedman1():
    """2000 rows of make_friedman1: X1..X10 (X6..X10 have no effect), noise sd 1, target "y"."""
    x, y = make_friedman1(n_samples=2000, n_features=10, noise=1.0, random_state=FRIEDMAN_SEED)
    return _frame(x, y, "y")


def hastie10():
    """3000 rows of make_hastie_10_2: X1..X10, target "y" with the labels -1/1 mapped to 0/1."""
    x, y = make_hastie_10_2(n_samples=3000, random_state=HASTIE_SEED)
    return _frame(x, (y > 0).astype(int), "y")


def diabetes():
    """442 patients, 10 unscaled baseline measurements, target "target" (progression)."""
    bunch = load_diabetes(as_frame=True, scaled=False)
    return bunch.frame.copy()


def breast_cancer():
    """569 tumours, 30 measurements, target "target" (0 malignant, 1 benign)."""
    return load_breast_cancer(as_frame=True).frame.copy()
