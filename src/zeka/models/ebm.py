"""Explainable boosting ("ebm"): cyclic boosting of per-feature and pairwise lookup tables.

Every feature is cut into at most ``max_bins`` quantile bins, and the model is an intercept
plus one table of scores per feature (and per selected pair of features, on at most
``max_interaction_bins`` bins each). Training cycles through the features round after
round; each visit fits a small tree on that feature alone (a single cut for a feature, a
cut on one feature then one cut per side on the other for a pair) to the loss gradient and
adds it, shrunk by a learning rate, to the feature's table. In the first 500 rounds the
cut is drawn at random among the allowed ones instead of the best: the many small random
steps build smooth shapes, which the greedy rounds after them then sharpen where the data
ask for it (on small noisy data greedy cuts from the first round carve the noise into
staircases).

``outer_bags`` models are trained on different random splits into a fitting part and a
validation part (used for early stopping: a bag stops once its validation loss has not
improved by ``early_stopping_tolerance`` times the loss of the intercept-only model for
``early_stopping_rounds`` rounds, and keeps its best tables); with ``inner_bags`` > 0
every update is the average of that many updates on bootstrap resamples of the fitting
part. The final tables are the
average over the outer bags, each centred to mean zero on the training data. After the
main effects, the ``interactions`` pairs whose pairwise tree most improves the averaged
model are boosted the same way. All bags run side by side as rows of arrays.
"""

import numpy as np

from ._base import (
    ZekaClassifier,
    ZekaEstimator,
    ZekaRegressor,
    bin_edges,
    bin_matrix,
    check_non_negative,
    check_positive_int,
)
from ._cyclic_boosting import _bag_weights, _CyclicBooster
from ._losses import LogLoss, SquaredLoss
from ._main_terms import _MainTerm
from ._pair_terms import _PairTerm, rank_pairs


class _EBM(ZekaEstimator):
    # bins are weighted quantiles, so an integer weight must count as that many rows
    _weights_in_rows = True

    def __init__(
        self,
        interactions=10,
        outer_bags=8,
        inner_bags=0,
        max_bins=256,
        feature_names=None,
        max_interaction_bins=32,
        max_rounds=5000,
        early_stopping_rounds=50,
        early_stopping_tolerance=0.0001,
        random_state=0,
    ):
        self.interactions = interactions
        self.outer_bags = outer_bags
        self.inner_bags = inner_bags
        self.max_bins = max_bins
        self.feature_names = feature_names
        self.max_interaction_bins = max_interaction_bins
        self.max_rounds = max_rounds
        self.early_stopping_rounds = early_stopping_rounds
        self.early_stopping_tolerance = early_stopping_tolerance
        self.random_state = random_state

    def _fit(self, X, y, w):
        n_pairs = check_positive_int(self.interactions, "interactions", minimum=0)
        n_bags = max(1, check_positive_int(self.outer_bags, "outer_bags", minimum=0))
        n_inner = check_positive_int(self.inner_bags, "inner_bags", minimum=0)
        max_bins = check_positive_int(self.max_bins, "max_bins", minimum=2)
        pair_bins = check_positive_int(self.max_interaction_bins, "max_interaction_bins", minimum=2)
        max_rounds = check_positive_int(self.max_rounds, "max_rounds", minimum=0)
        patience = check_positive_int(
            self.early_stopping_rounds, "early_stopping_rounds", minimum=0
        )
        tolerance = check_non_negative(self.early_stopping_tolerance, "early_stopping_tolerance")
        if self.feature_names is not None and len(self.feature_names) != X.shape[1]:
            raise ValueError(
                "feature_names has %d names for %d features" % (len(self.feature_names), X.shape[1])
            )
        rng = np.random.RandomState(self.random_state)
        # the smoothing cuts draw from their own stream, seeded before the bags take a
        # number of draws that depends on the row count: n rows of weight 2 and 2n rows
        # of weight 1 then get the same cuts
        cut_rng = np.random.RandomState(rng.randint(2**31 - 1))
        n, p = X.shape
        # without early stopping a validation part would only take rows away from fitting
        fit_w, val_w = _bag_weights(w, n_bags, n_inner, rng, hold_out=patience > 0)
        loss = LogLoss() if self._logistic else SquaredLoss()
        intercepts = np.array([loss.base_score(y, fw.sum(axis=0)) for fw in fit_w])
        F = np.repeat(intercepts[:, None], n, axis=1)
        run = _CyclicBooster(y, fit_w, val_w, loss, max_rounds, patience, tolerance, cut_rng)

        self.bin_edges_ = [bin_edges(X[:, j], max_bins, weights=w) for j in range(p)]
        bins = bin_matrix(X, self.bin_edges_)
        main_terms = [_MainTerm(bins[:, j], len(self.bin_edges_[j]) + 1) for j in range(p)]
        F = run.boost(F, main_terms)
        self.n_rounds_ = [run.rounds_]

        self.pairs_, self.pair_edges_, pair_terms = [], [], []
        if n_pairs > 0 and p > 1:
            pair_edges = [bin_edges(X[:, j], pair_bins, weights=w) for j in range(p)]
            pair_index = bin_matrix(X, pair_edges)
            ranked = rank_pairs(pair_index, pair_edges, y, w, loss, F.mean(axis=0))
            self.pairs_ = ranked[:n_pairs]
            pair_terms = [
                _PairTerm(
                    pair_index[:, j],
                    pair_index[:, k],
                    len(pair_edges[j]) + 1,
                    len(pair_edges[k]) + 1,
                )
                for j, k in self.pairs_
            ]
            self.pair_edges_ = [(pair_edges[j], pair_edges[k]) for j, k in self.pairs_]
            run.boost(F, pair_terms)
            self.n_rounds_.append(run.rounds_)
        self._finish(intercepts, main_terms, pair_terms, w)

    def _finish(self, intercepts, main_terms, pair_terms, w):
        """Average the bags and centre every table on the training rows."""
        intercept = intercepts.mean()
        self.term_scores_, importances = [], []
        for term in main_terms + pair_terms:
            table = term.table.mean(axis=0)
            scores = term.lookup(table[None])[0]
            shift = w @ scores / w.sum()
            self.term_scores_.append(table - shift)
            importances.append(float(w @ np.abs(scores - shift) / w.sum()))
            intercept += shift
        self.intercept_ = float(intercept)
        names = self._names()
        self.term_names_ = names + ["%s & %s" % (names[j], names[k]) for j, k in self.pairs_]
        self.term_features_ = [(j,) for j in range(len(main_terms))] + list(self.pairs_)
        # mean absolute contribution of each term over the training rows
        self.term_importances_ = dict(zip(self.term_names_, importances))

    def _names(self):
        if self.feature_names is not None:
            return [str(name) for name in self.feature_names]
        names = getattr(self, "feature_names_in_", None)
        if names is not None:
            return [str(name) for name in names]
        return ["X%d" % j for j in range(self.n_features_in_)]

    def _raw_predict(self, X):
        out = np.full(X.shape[0], self.intercept_)
        bins = bin_matrix(X, self.bin_edges_)
        p = X.shape[1]
        for j in range(p):
            out += self.term_scores_[j][bins[:, j]]
        for (j, k), (edges_j, edges_k), table in zip(
            self.pairs_, self.pair_edges_, self.term_scores_[p:]
        ):
            bj = np.searchsorted(edges_j, X[:, j], side="left")
            bk = np.searchsorted(edges_k, X[:, k], side="left")
            out += table[bj, bk]
        return out


class EBMRegressor(ZekaRegressor, _EBM):
    _logistic = False


class EBMClassifier(ZekaClassifier, _EBM):
    _logistic = True
