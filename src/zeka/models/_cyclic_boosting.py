"""Cyclic boosting of additive terms over bags, with early stopping on held-out rows.

All outer bags (and their inner bootstrap bags) run side by side as rows of arrays. A term
is any object with ``allocate(n_bags)``, a ``table`` with one row per bag, ``lookup(tables)``
giving each row's score under per-bag tables, and ``fit_update(G, H, rng)`` giving the
Newton steps of one boosting visit per (bag, inner bag).
"""

import numpy as np

_LEARNING_RATE = 0.1
_VALIDATION_SHARE = 0.15
# the first rounds draw their cuts at random, which builds smooth shapes (see ebm)
_SMOOTHING_ROUNDS = 500


def _bag_weights(w, n_bags, n_inner, rng, hold_out=True):
    """Per outer bag: fitting weights (one row per inner bag) and validation weights."""
    n = len(w)
    n_val = int(round(_VALIDATION_SHARE * n)) if hold_out and n >= 20 else 0
    fit_w = np.empty((n_bags, max(n_inner, 1), n))
    val_w = np.zeros((n_bags, n))
    for b in range(n_bags):
        val = np.zeros(n, dtype=bool)
        val[rng.permutation(n)[:n_val]] = True
        val_w[b] = np.where(val, w, 0.0)
        base = np.where(val, 0.0, w)
        if n_inner == 0:
            fit_w[b, 0] = base
            continue
        fit_rows = np.flatnonzero(~val)
        for k in range(n_inner):
            counts = np.bincount(rng.choice(fit_rows, len(fit_rows)), minlength=n)
            fit_w[b, k] = base * counts
    return fit_w, val_w


class _CyclicBooster:
    """Round-robin boosting of a list of terms for all bags at once, with early stopping."""

    def __init__(self, y, fit_w, val_w, loss, max_rounds, patience, tolerance, rng):
        self.y, self.fit_w, self.val_w, self.loss = y, fit_w, val_w, loss
        self.rng = rng
        self.max_rounds, self.patience, self.tolerance = max_rounds, patience, tolerance
        self.n_bags, self.n_inner = fit_w.shape[:2]
        self.has_validation = val_w.sum() > 0
        self.scale = None

    def boost(self, F, terms):
        """Boost ``terms`` (their tables are updated in place) and return the new scores."""
        for term in terms:
            term.allocate(self.n_bags)
        if not terms:
            return F
        active = np.ones(self.n_bags, dtype=bool)
        best = self._validation_loss(F)
        if self.scale is None:
            # progress is measured against the loss of the starting model: relative to the
            # current loss, a bag whose validation rows are separable would improve forever
            self.scale = np.abs(best)
        best_state = [(F[b].copy(), [t.table[b].copy() for t in terms]) for b in range(self.n_bags)]
        stale = np.zeros(self.n_bags, dtype=int)
        self.rounds_ = 0
        for round_ in range(self.max_rounds):
            rng = self.rng if round_ < _SMOOTHING_ROUNDS else None
            for term in terms:
                g, h = self.loss.gradients(F, self.y)
                G = self.fit_w * g[:, None, :]
                H = self.fit_w * h[:, None, :]
                update = _LEARNING_RATE * term.fit_update(G, H, rng).mean(axis=1)
                update[~active] = 0.0
                term.table += update
                F = F + term.lookup(update)
            self.rounds_ += 1
            if not (self.patience and self.has_validation):
                continue
            current = self._validation_loss(F)
            improved = active & (current < best - self.tolerance * self.scale)
            for b in np.flatnonzero(improved):
                best_state[b] = (F[b].copy(), [t.table[b].copy() for t in terms])
            best = np.where(improved, current, best)
            stale = np.where(improved, 0, stale + 1)
            active &= stale < self.patience
            if not active.any():
                break
        if self.patience and self.has_validation:
            for b, (scores, tables) in enumerate(best_state):
                F[b] = scores
                for term, table in zip(terms, tables):
                    term.table[b] = table
        return F

    def _validation_loss(self, F):
        total = self.val_w.sum(axis=1)
        return (self.val_w * self.loss.loss(F, self.y)).sum(axis=1) / np.maximum(total, 1e-12)
