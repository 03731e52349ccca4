"""The model catalogue against the library a user would pick instead, family by family.

Every family runs at its hyper-parameter table defaults (with the keywords the training
workflow adds) under 5-fold cross-validation with a fixed seed, on five datasets:

- diabetes (scikit-learn, raw unscaled covariates): regression of disease progression;
- breast cancer (scikit-learn): classification, malignant or benign;
- randhie (statsmodels): regression of ``mdvis``, the number of outpatient visits;
- fair (statsmodels): classification, ``affairs > 0`` (any time spent in affairs);
- friedman1 (scikit-learn ``make_friedman1``, 5,000 rows, noise 1): regression.

Peers: glm -> Ridge / LogisticRegression, gam -> pyGAM (LinearGAM / LogisticGAM with the
same splines, order and smoothness), tree -> DecisionTree (same depth and leaf size),
figs -> imodels' FIGS (same depth, ``max_rules`` = our ``max_iter``), xgb1 / xgb2 ->
xgboost at max_depth 1 / 2 (same rounds, learning rate and penalties, ``hist``), ebm ->
interpret's EBM (same bags, rounds and interactions), gaminet / reludnn -> scikit-learn's
MLP (hidden layers (40, 40), early stopping, 1000 epochs at most). Ridge, logistic
regression and the MLP run after a StandardScaler, as a user would set them up. Every
peer runs on one thread (``n_jobs=1``), like our estimators.

Prints, per dataset and family, our metric (R² for regression; AUC and log-loss for
classification, each the mean over the folds), the peer's, and the fit-time ratio (ours /
peer, fit times summed over the folds),
and flags a family that is worse than its peer by more than 0.01 AUC, 0.05 log-loss or
0.03 R², or slower by more than 3x.

    python bench/bench_models.py [--datasets diabetes fair ...] [--families glm xgb1 ...]
                                 [--folds 5] [--seed 0]
"""

import argparse
import time
import warnings

import numpy as np
from sklearn.base import clone
from sklearn.datasets import load_breast_cancer, load_diabetes, make_friedman1
from sklearn.metrics import log_loss, r2_score, roc_auc_score
from sklearn.model_selection import KFold, StratifiedKFold
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

from zeka.config.estimator_settings import model_param_items
from zeka.models import FAMILY_KEYS, ZEKACLASSIFIER, ZEKAREGRESSOR

FAMILIES = list(FAMILY_KEYS)

# keywords the training workflow passes on top of a family's table
WORKFLOW_FIXED = {
    "xgb1": {"feature_names": None, "feature_types": None},
    "xgb2": {"feature_names": None, "feature_types": None},
    "gaminet": {
        "normalize": True,
        "reg_clarity": 0.1,
        "loss_threshold": 0.01,
        "warm_start": True,
        "verbose": False,
    },
}

LIMITS = {"auc": 0.01, "logloss": 0.05, "r2": 0.03, "time": 3.0}


def load(name):
    """(X, y, task) of one benchmark dataset."""
    if name == "diabetes":
        X, y = load_diabetes(return_X_y=True, scaled=False)
        return X, y, "regression"
    if name == "breast_cancer":
        X, y = load_breast_cancer(return_X_y=True)
        return X, y, "classification"
    if name == "friedman1":
        X, y = make_friedman1(n_samples=5000, noise=1.0, random_state=0)
        return X, y, "regression"
    from statsmodels.api import datasets

    if name == "randhie":
        frame = datasets.randhie.load_pandas().data
        return (
            frame.drop(columns="mdvis").to_numpy(float),
            frame["mdvis"].to_numpy(float),
            "regression",
        )
    if name == "fair":
        frame = datasets.fair.load_pandas().data
        y = (frame["affairs"] > 0).to_numpy(int)
        return frame.drop(columns="affairs").to_numpy(float), y, "classification"
    raise ValueError("unknown dataset %r" % name)


def ours(family, task):
    params = {key: entry[3] for key, entry in model_param_items[family].items()}
    if family == "tree" and task == "regression":
        params["criterion"] = "squared_error"
    params.update(WORKFLOW_FIXED.get(family, {}))
    catalogue = ZEKAREGRESSOR if task == "regression" else ZEKACLASSIFIER
    return catalogue[family](**params)


def peer(family, task):
    regression = task == "regression"
    if family == "glm":
        from sklearn.linear_model import LogisticRegression, Ridge

        return make_pipeline(
            StandardScaler(), Ridge() if regression else LogisticRegression(max_iter=1000)
        )
    if family == "gam":
        from pygam import LinearGAM, LogisticGAM

        return (LinearGAM if regression else LogisticGAM)(
            n_splines=20, spline_order=3, lam=0.6, max_iter=100
        )
    if family == "tree":
        from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

        return (DecisionTreeRegressor if regression else DecisionTreeClassifier)(
            max_depth=5, min_samples_leaf=5, random_state=0
        )
    if family == "figs":
        from imodels import FIGSClassifier, FIGSRegressor

        return (FIGSRegressor if regression else FIGSClassifier)(
            max_rules=100, max_depth=5, random_state=0
        )
    if family in ("xgb1", "xgb2"):
        from xgboost import XGBClassifier, XGBRegressor

        return (XGBRegressor if regression else XGBClassifier)(
            max_depth=1 if family == "xgb1" else 2,
            n_estimators=100,
            learning_rate=0.3,
            gamma=0,
            reg_alpha=0,
            reg_lambda=1,
            max_bin=256,
            tree_method="hist",
            n_jobs=1,
            random_state=0,
        )
    if family == "ebm":
        from interpret.glassbox import ExplainableBoostingClassifier, ExplainableBoostingRegressor

        cls = ExplainableBoostingRegressor if regression else ExplainableBoostingClassifier
        return cls(
            interactions=10,
            outer_bags=8,
            inner_bags=0,
            max_bins=256,
            max_interaction_bins=32,
            max_rounds=5000,
            early_stopping_rounds=50,
            early_stopping_tolerance=1e-4,
            n_jobs=1,
            random_state=0,
        )
    if family in ("gaminet", "reludnn"):
        from sklearn.neural_network import MLPClassifier, MLPRegressor

        cls = MLPRegressor if regression else MLPClassifier
        return make_pipeline(
            StandardScaler(),
            cls(hidden_layer_sizes=(40, 40), max_iter=1000, early_stopping=True, random_state=0),
        )
    raise ValueError(family)


def cross_validate(make, X, y, task, folds, seed):
    """Metrics averaged over the folds, and the total fit time."""
    splitter = (KFold if task == "regression" else StratifiedKFold)(
        folds, shuffle=True, random_state=seed
    )
    per_fold = []
    seconds = 0.0
    for fit_rows, test_rows in splitter.split(X, y):
        model = clone(make)
        start = time.perf_counter()
        model.fit(X[fit_rows], y[fit_rows])
        seconds += time.perf_counter() - start
        if task == "regression":
            prediction = model.predict(X[test_rows])
        else:
            prediction = model.predict_proba(X[test_rows])
            if prediction.ndim == 2:  # pyGAM's classifier gives the positive class alone
                prediction = prediction[:, 1]
        per_fold.append(scores(task, y[test_rows], prediction))
    return {key: float(np.mean([s[key] for s in per_fold])) for key in per_fold[0]}, seconds


def scores(task, y, prediction):
    if task == "regression":
        return {"r2": r2_score(y, prediction)}
    clipped = np.clip(prediction, 1e-15, 1 - 1e-15)
    return {"auc": roc_auc_score(y, prediction), "logloss": log_loss(y, clipped)}


def flags(task, mine, theirs, ratio):
    found = []
    if task == "regression" and theirs["r2"] - mine["r2"] > LIMITS["r2"]:
        found.append("R2")
    if task == "classification":
        if theirs["auc"] - mine["auc"] > LIMITS["auc"]:
            found.append("AUC")
        if mine["logloss"] - theirs["logloss"] > LIMITS["logloss"]:
            found.append("log-loss")
    if ratio > LIMITS["time"]:
        found.append("time")
    return found


def show(dataset, family, task, mine, theirs, ratio, seconds):
    if task == "regression":
        metric = "R2 %7.3f vs %7.3f" % (mine["r2"], theirs["r2"])
    else:
        metric = "AUC %.3f vs %.3f  log-loss %.3f vs %.3f" % (
            mine["auc"],
            theirs["auc"],
            mine["logloss"],
            theirs["logloss"],
        )
    found = flags(task, mine, theirs, ratio)
    print(
        "%-14s %-8s %-42s time x%5.2f (%6.1fs)  %s"
        % (
            dataset,
            family,
            metric,
            ratio,
            seconds,
            ("OUTSIDE: " + ", ".join(found)) if found else "ok",
        ),
        flush=True,
    )
    return found


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument(
        "--datasets",
        nargs="+",
        default=["diabetes", "breast_cancer", "randhie", "fair", "friedman1"],
    )
    parser.add_argument("--families", nargs="+", default=FAMILIES)
    parser.add_argument("--folds", type=int, default=5)
    parser.add_argument("--seed", type=int, default=0)
    args, _ = parser.parse_known_args(argv)  # make bench passes other benchmarks' options
    warnings.simplefilter("ignore")
    outside = []
    for dataset in args.datasets:
        X, y, task = load(dataset)
        print("== %s: %s, %d rows x %d features" % (dataset, task, *X.shape), flush=True)
        for family in args.families:
            mine, t_ours = cross_validate(ours(family, task), X, y, task, args.folds, args.seed)
            theirs, t_peer = cross_validate(peer(family, task), X, y, task, args.folds, args.seed)
            found = show(dataset, family, task, mine, theirs, t_ours / t_peer, t_ours)
            if found:
                outside.append("%s/%s (%s)" % (dataset, family, ", ".join(found)))
    print("outside the limits:", ", ".join(outside) if outside else "none")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
