"""The outlier detectors against pyod's and scikit-learn's implementations of the same
methods: each fits on the same standardised matrix and yields the scores of its training
rows, with matched parameters.

Prints, per method and size, the seconds of one fit that ends with the training rows'
scores (ours: `fit`, which stores them; pyod: `fit`, which stores `decision_scores_`;
scikit-learn: `fit` and one scoring), and the ratio ours / peer (below 1 is faster). scikit-learn has its own detector
for the isolation forest; for the others its building blocks (KMeans, PCA,
NearestNeighbors) stand in, written as the method in a few lines of numpy.

    python bench/bench_outliers.py [--rows 100000 1000000] [--features 20] [--skip knn]
"""

import argparse
import time

import numpy as np
from sklearn.preprocessing import StandardScaler

from zeka.data.outlier_detection import DETECTORS


def timed(function):
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def ours(key, x, **params):
    def run():
        DETECTORS[key](standardization=False, **params).fit(x)

    return run


def pyod_peer(key, x):
    try:
        from pyod.models import cblof, ecod, hbos, iforest, knn, pca
    except ImportError:
        return None
    from sklearn.cluster import KMeans

    make = {
        "if": lambda: iforest.IForest(n_estimators=100, max_samples=256, random_state=0),
        "cb": lambda: cblof.CBLOF(
            n_clusters=10,
            clustering_estimator=KMeans(n_clusters=10, random_state=0, n_init=1),
            random_state=0,
        ),
        "pca": lambda: pca.PCA(n_components=0.9, svd_solver="full", standardization=False),
        "knn": lambda: knn.KNN(n_neighbors=5, method="mean"),
        "hbos": lambda: hbos.HBOS(n_bins=10, alpha=0.1, tol=0.5),
        "ecod": lambda: ecod.ECOD(),
    }.get(key)
    if make is None:
        return None

    def run():
        make().fit(x)

    return run


def sklearn_peer(key, x):
    from sklearn.cluster import KMeans
    from sklearn.decomposition import PCA
    from sklearn.ensemble import IsolationForest
    from sklearn.neighbors import NearestNeighbors

    def forest():
        model = IsolationForest(n_estimators=100, max_samples=256, random_state=0).fit(x)
        -model.score_samples(x)

    def clusters():
        model = KMeans(n_clusters=10, random_state=0, n_init=1).fit(x)
        centres = model.cluster_centers_[model.predict(x)]
        np.sqrt(((x - centres) ** 2).sum(axis=1))

    def components():
        model = PCA(n_components=0.9, svd_solver="full").fit(x)
        t = model.transform(x)
        (t**2 / model.explained_variance_).sum(axis=1)

    def neighbours():
        index = NearestNeighbors(n_neighbors=5).fit(x)
        index.kneighbors(None)[0].mean(axis=1)

    return {"if": forest, "cb": clusters, "pca": components, "knn": neighbours}.get(key)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, nargs="+", default=[100_000])
    parser.add_argument("--features", type=int, default=20)
    parser.add_argument("--skip", nargs="*", default=[], help="method keys to leave out")
    args = parser.parse_args()
    print(
        f"{'method':8} {'rows':>9} {'ours s':>8} {'pyod s':>8} {'ratio':>6} {'sklearn s':>9} {'ratio':>6}"
    )
    for rows in args.rows:
        rng = np.random.default_rng(0)
        x = rng.standard_t(df=5, size=(rows, args.features))
        x[: rows // 50] += 3.0  # a small shifted group
        x = StandardScaler().fit_transform(x)
        warm = x[:2000]
        for key in DETECTORS:
            if key in args.skip or key == "novelty":
                continue
            # one small run first: imports and pyod's just-in-time compilation are not timed
            for make in (ours, pyod_peer, sklearn_peer):
                run = make(key, warm)
                if run is not None:
                    run()
            mine = timed(ours(key, x))
            cells = []
            for peer in (pyod_peer(key, x), sklearn_peer(key, x)):
                if peer is None:
                    cells.append(f"{'-':>8} {'-':>6}")
                else:
                    seconds = timed(peer)
                    cells.append(f"{seconds:8.2f} {mine / seconds:6.2f}")
            print(f"{key:8} {rows:9d} {mine:8.2f} {cells[0]} {cells[1]:>16}", flush=True)


if __name__ == "__main__":
    main()
