"""The additive families as a sum of terms: an intercept, one main effect per feature and
pairwise interactions, identified over a set of rows.

``effects(estimator, X)`` returns an ``Effects``: the family's own terms (spline terms
for "gam", step functions for "xgb1", the depth-two trees of "xgb2" regrouped by the
features on each leaf's path, the lookup tables of "ebm", the subnetworks of "gaminet"),
identified the usual way over the rows of ``X``:

- every interaction is purified: on its grid of cells (the model's own cut points for
  the tree families, quantile bins of ``X`` for "gaminet"), the weighted mean of the
  interaction along each of its axes is zero, the weights being the rows of ``X`` per
  cell; what it takes out moves into the main effects of its two features and the
  intercept;
- every main effect then has mean zero over ``X``, its mean moved into the intercept.

So at every row the terms plus the intercept give the model's raw output (log-odds for a
classifier) and, over ``X``, every term averages to zero. A feature's contribution is its
main effect plus half of each interaction it takes part in.
"""

import numpy as np

from zeka.models._base import bin_edges

from . import _terms

# quantile bins per axis of the grid on which a continuous interaction is purified
PAIR_GRID_BINS = 32
_PURIFY_TOL = 1e-13
_PURIFY_SWEEPS = 5000


class StepSet:
    """Piecewise constant terms of one or two features, evaluated natively.

    ``terms``: a list of (features, edges, table): features a tuple of one or two column
    positions, edges one ascending array per feature (a value x lies in bin
    ``searchsorted(edges, x, side="left")``), table an array of shape
    (len(edges[0]) + 1[, len(edges[1]) + 1]).
    """

    def __init__(self, terms):
        self.terms = list(terms)
        axes, edges, tables, starts = [], [], [], []
        n_edges = n_table = 0
        for features, axis_edges, table in self.terms:
            row = []
            for k in range(2):
                if k < len(features):
                    e = np.asarray(axis_edges[k], dtype=np.float64)
                    row.append([features[k], n_edges, len(e)])
                    edges.append(e)
                    n_edges += len(e)
                else:
                    row.append([-1, 0, 0])
            axes.append(row)
            table = np.asarray(table, dtype=np.float64).ravel()
            starts.append(n_table)
            tables.append(table)
            n_table += len(table)
        self.axes = np.array(axes, dtype=np.int64).reshape(len(self.terms), 2, 3)
        self.edges = np.concatenate(edges) if edges else np.zeros(0)
        self.tables = np.concatenate(tables) if tables else np.zeros(0)
        self.starts = np.array(starts, dtype=np.int64)

    def values(self, X):
        return _terms.step_values(_c(X), self.axes, self.edges, self.tables, self.starts)

    def counts(self, X):
        return _terms.step_counts(_c(X), self.axes, self.edges, self.tables, self.starts)

    def summary(self, X):
        return _terms.step_summary(_c(X), self.axes, self.edges, self.tables, self.starts)

    def cells(self, X):
        return _terms.step_cells(_c(X), self.axes, self.edges, self.tables, self.starts)


def _c(X):
    return np.ascontiguousarray(X, dtype=np.float64)


class Effects:
    """Intercept and terms of an additive model; see the module's docstring.

    ``terms``: the features of every term, (j,) or (j, k); ``raw(X)``: the terms' values as
    the model computes them, shape (n, T), adding up with ``raw_intercept`` to the raw
    output. Identification adds step pieces (``pieces``: a StepSet whose i-th term adds to
    term ``targets[i]``) and a constant per term (``shifts``).
    """

    def __init__(self, names, terms, raw, raw_intercept, grids=None, logistic=False, steps=None):
        self.steps = steps
        self.names = list(names)
        self.terms = [tuple(int(j) for j in t) for t in terms]
        self._raw = raw
        self.intercept = float(raw_intercept)
        self.grids = grids or {}
        self.logistic = logistic
        self.pieces, self.targets = None, np.zeros(0, dtype=np.intp)
        self.shifts = np.zeros(len(self.terms))
        self.sweeps = {}
        self.final = None

    # -- evaluation -------------------------------------------------------------------
    def values(self, X, term=None):
        """Every term at every row of ``X`` (array, training column order): (n, T); with
        ``term``, that term's values only: (n,)."""
        X = _c(X)
        if self.final is not None:
            if term is None:
                return self.final.values(X)
            return StepSet([self.final.terms[term]]).values(X)[:, 0]
        out = self._adjusted(X, np.asarray(self._raw(X), dtype=np.float64).reshape(len(X), -1))
        return out if term is None else out[:, term]

    def _adjusted(self, X, raw):
        """The terms from the model's own values ``raw`` (n, T0 <= T): with the pieces
        and shifts of identification added."""
        out = np.zeros((len(X), len(self.terms)))
        out[:, : raw.shape[1]] = raw
        if self.pieces is not None and len(self.targets):
            pieces = self.pieces.values(X)[:, self._piece_order]
            out[:, self._piece_terms] += np.add.reduceat(pieces, self._piece_starts, axis=1)
        out += self.shifts
        return out

    def contributions(self, values):
        """Per-feature contributions from term values: the main effect plus half of each
        interaction the feature takes part in. Shape (n, p)."""
        out = np.zeros((values.shape[0], len(self.names)))
        for t, features in enumerate(self.terms):
            share = 1.0 / len(features)
            for j in features:
                out[:, j] += share * values[:, t]
        return out

    def term_names(self):
        return [" x ".join(self.names[j] for j in t) for t in self.terms]

    @property
    def main_terms(self):
        return [t for t, f in enumerate(self.terms) if len(f) == 1]

    @property
    def pair_terms(self):
        return [t for t, f in enumerate(self.terms) if len(f) == 2]

    # -- identification ---------------------------------------------------------------
    def identify(self, X):
        """Purify the interactions and centre the main effects over the rows of ``X``.

        Piecewise constant pairs are purified on their own tables, weighted by the rows
        per cell; a smooth pair on its grid, its cell values the means over the rows in
        each cell. No matrix of every term at every row is formed for piecewise
        constant terms (a wide model has hundreds of pairs).
        """
        X = _c(X)
        self._X = X
        steps = self.steps is not None
        raw = None if steps else np.asarray(self._raw(X), dtype=np.float64).reshape(len(X), -1)
        values = raw if self.pair_terms and not steps else None
        main_of = {f[0]: t for t, f in enumerate(self.terms) if len(f) == 1}
        pieces, targets = [], []
        if steps and self.pair_terms:
            # the rows per cell of every pair's table, in one pass over the rows
            own = StepSet([self.steps.terms[t] for t in self.pair_terms])
            all_counts = own.counts(X)
            cell_counts = {
                t: all_counts[start : start + np.size(own.terms[i][2])]
                for i, (t, start) in enumerate(zip(self.pair_terms, own.starts))
            }
        for t in self.pair_terms:
            a, b = self.terms[t]
            ea, eb = self.grids[t]
            shape = (len(ea) + 1, len(eb) + 1)
            width = shape[0] * shape[1]
            if steps:
                counts = cell_counts[t]
                table = np.asarray(self.steps.terms[t][2], dtype=np.float64).ravel()
            else:
                grid = StepSet([((a, b), (ea, eb), np.zeros(width))])
                cells = np.ascontiguousarray(grid.cells(X)[:, 0])
                sums, counts = _terms.cell_sums(cells, np.ascontiguousarray(values[:, [t]]), width)
                table = np.divide(sums[:, 0], counts, out=np.zeros(width), where=counts > 0)
            scale = max(float(np.abs(table).max(initial=0.0)), 1e-300)
            _, row, col, constant, sweeps = _terms.purify(
                table.reshape(shape), counts.reshape(shape), _PURIFY_TOL * scale, _PURIFY_SWEEPS
            )
            self.sweeps[t] = sweeps
            # the interaction gives up row[a-bin], col[b-bin] and the constant ...
            pieces += [((a,), (ea,), -row), ((b,), (eb,), -col)]
            targets += [t, t]
            self.shifts[t] -= constant
            self.intercept += constant
            # ... which its features' main effects take in
            for j, e, effect in ((a, ea, row), (b, eb, col)):
                if j not in main_of:
                    main_of[j] = len(self.terms)
                    self._add_empty_main(j)
                pieces.append(((j,), (e,), effect))
                targets.append(main_of[j])
        if pieces:
            self.pieces, self.targets = StepSet(pieces), np.array(targets, dtype=np.intp)
            self._piece_order = np.argsort(self.targets, kind="stable")
            self._piece_terms, self._piece_starts = np.unique(
                self.targets[self._piece_order], return_index=True
            )
        if steps:
            self._compile()
            _, sums, _ = self.final.summary(X)
            means = sums / len(X)
            tables = list(self.final.terms)
            for t in self.main_terms:
                features, edges, table = tables[t]
                tables[t] = (features, edges, table - means[t])
                self.intercept += means[t]
            self.final = StepSet(tables)
            return self
        values = self._adjusted(X, raw)
        means = values.mean(axis=0)
        for t in self.main_terms:
            self.shifts[t] -= means[t]
            self.intercept += means[t]
            values[:, t] -= means[t]
        # the terms over the rows identified on, for the views over the same rows
        self._data_values = values
        return self

    def summary(self):
        """Over the rows identified on: every row's feature contributions (n, p) and
        every term's mean absolute value (T,)."""
        if self.final is not None:
            contributions, _, absolute = self.final.summary(self._X)
            return contributions, absolute / len(self._X)
        values = self._data_values
        return self.contributions(values), np.abs(values).mean(axis=0)

    def _add_empty_main(self, j):
        self.terms.append((j,))
        self.shifts = np.append(self.shifts, 0.0)

    def _compile(self):
        """For piecewise constant terms: every term as one table on the union of its own
        cut points and those of its pieces, shifts included, evaluated in one pass."""
        own = {t: self.steps.terms[t] for t in range(len(self.steps.terms))}
        pieces = {}
        if self.pieces is not None:
            for (features, edges, table), t in zip(self.pieces.terms, self.targets):
                pieces.setdefault(int(t), []).append((features[0], edges[0], table))
        compiled = []
        for t, features in enumerate(self.terms):
            base = own.get(t)
            mine = pieces.get(t, [])
            axes = []
            for k, j in enumerate(features):
                cuts = [np.asarray(base[1][k])] if base is not None else []
                cuts += [np.asarray(e) for f, e, _ in mine if f == j]
                axes.append(np.unique(np.concatenate(cuts)) if cuts else np.zeros(0))
            # a value standing for every bin of the union: its upper edge, and +inf last
            reps = [np.append(e, np.inf) for e in axes]
            grid = np.meshgrid(*reps, indexing="ij")
            table = np.full(grid[0].shape, self.shifts[t])
            if base is not None:
                index = tuple(
                    np.searchsorted(base[1][k], g, side="left") for k, g in enumerate(grid)
                )
                table += np.asarray(base[2]).reshape(tuple(len(e) + 1 for e in base[1]))[index]
            for j, edges, values in mine:
                g = grid[features.index(j)]
                table += values[np.searchsorted(edges, g, side="left")]
            compiled.append((features, tuple(axes), table))
        self.final = StepSet(compiled)


# -- the families ---------------------------------------------------------------------


def effects(estimator, X, names):
    """The identified ``Effects`` of a fitted additive-family estimator over ``X``."""
    from zeka.models import get_model_name

    family = get_model_name(estimator)
    build = _BUILDERS[family]
    model = build(estimator, np.asarray(X, dtype=np.float64), names)
    model.logistic = hasattr(estimator, "classes_")
    return model.identify(X)


def _gam(est, X, names):
    blocks = []
    start = 0
    for j, spline, center in est.terms_:
        size = spline.n_features_out_
        blocks.append((j, spline, center, est.coef_[start : start + size]))
        start += size

    def raw(Z):
        out = np.empty((len(Z), len(blocks)))
        for t, (j, spline, center, coef) in enumerate(blocks):
            out[:, t] = (spline.transform(Z[:, [j]]) - center) @ coef
        return out

    return Effects(names, [(b[0],) for b in blocks], raw, est.intercept_)


def _xgb1(est, X, names):
    terms = []
    features = np.asarray(est.step_features_)
    for j in np.unique(features):
        mine = features == j
        thresholds = np.asarray(est.step_thresholds_)[mine]
        heights = np.asarray(est.step_heights_)[mine]
        edges = np.unique(thresholds)
        table = np.zeros(len(edges) + 1)
        # a step [x > t] adds its height to every bin above t's
        for t, h in zip(thresholds, heights):
            table[np.searchsorted(edges, t) + 1 :] += h
        terms.append(((int(j),), (edges,), table))
    steps = StepSet(terms)
    return Effects(names, [t[0] for t in terms], steps.values, est.intercept_, steps=steps)


def _leaf_paths(tree):
    """(value, [(feature, threshold, goes_left), ...]) of every leaf."""
    out = []
    stack = [(0, [])]
    while stack:
        node, path = stack.pop()
        feature = int(tree["feature"][node])
        if feature < 0:
            out.append((float(tree["value"][node]), path))
            continue
        threshold = float(tree["threshold"][node])
        stack.append((int(tree["left"][node]), path + [(feature, threshold, True)]))
        stack.append((int(tree["right"][node]), path + [(feature, threshold, False)]))
    return out


def _xgb2(est, X, names):
    leaves = []
    constant = float(est.base_score_)
    for tree in est.trees_:
        for value, path in _leaf_paths(tree):
            key = tuple(sorted({f for f, _, _ in path}))
            if len(key) > 2:
                raise ValueError(
                    "a tree of this model splits on %d features along one path (max_depth=%r);"
                    " only trees of depth two or less are sums of main effects and pairwise "
                    "interactions" % (len(key), est.max_depth)
                )
            if not key:
                constant += value
            else:
                leaves.append((key, value, path))
    cuts = {}
    for key, _, path in leaves:
        for f, threshold, _ in path:
            cuts.setdefault(key, {}).setdefault(f, set()).add(threshold)
    tables = {}
    edges_of = {key: tuple(np.array(sorted(by[f])) for f in key) for key, by in cuts.items()}
    for key, value, path in leaves:
        edges = edges_of[key]
        masks = [np.ones(len(e) + 1, dtype=bool) for e in edges]
        for f, threshold, left in path:
            k = key.index(f)
            index = np.searchsorted(edges[k], threshold)
            bins = np.arange(len(edges[k]) + 1)
            masks[k] &= bins <= index if left else bins > index
        table = tables.setdefault(key, np.zeros(tuple(len(e) + 1 for e in edges)))
        if len(key) == 1:
            table[masks[0]] += value
        else:
            table[np.ix_(masks[0], masks[1])] += value
    keys = sorted(tables, key=lambda k: (len(k), k))
    steps = StepSet([(k, edges_of[k], tables[k]) for k in keys])
    grids = {t: edges_of[k] for t, k in enumerate(keys) if len(k) == 2}
    return Effects(names, keys, steps.values, constant, grids, steps=steps)


def _ebm(est, X, names):
    p = est.n_features_in_
    terms = [((j,), (est.bin_edges_[j],), est.term_scores_[j]) for j in range(p)]
    grids = {}
    for (j, k), (ej, ek), table in zip(est.pairs_, est.pair_edges_, est.term_scores_[p:]):
        if j > k:
            j, k, ej, ek, table = k, j, ek, ej, np.asarray(table).T
        grids[len(terms)] = (ej, ek)
        terms.append(((j, k), (ej, ek), table))
    steps = StepSet(terms)
    return Effects(names, [t[0] for t in terms], steps.values, est.intercept_, grids, steps=steps)


def _gaminet(est, X, names):
    net = est.network_
    p = est.n_features_in_
    mains = [j for j in range(p) if net.main_active[j]]
    pairs = [i for i, on in enumerate(net.pair_active) if on]
    scale = est.y_scale_

    def outputs(U):
        fm, _, fp, _ = net.outputs(U, precise=True)
        main = fm[mains] * net.main_active[mains, None]
        if not pairs:
            return main.T
        return np.vstack([main, fp[pairs] * net.pair_active[pairs, None]]).T

    def raw(Z):
        U = (Z - est.x_mean_) / est.x_scale_
        chunks = [outputs(U[i : i + 8192]) for i in range(0, len(U), 8192)]
        return scale * np.vstack(chunks) if chunks else np.zeros((0, len(mains) + len(pairs)))

    pair_features = [tuple(sorted(net.pairs[i])) for i in pairs]
    grids = {
        len(mains) + t: (bin_edges(X[:, a], PAIR_GRID_BINS), bin_edges(X[:, b], PAIR_GRID_BINS))
        for t, (a, b) in enumerate(pair_features)
    }
    terms = [(j,) for j in mains] + pair_features
    intercept = est.y_shift_ + scale * float(net.intercept[0])
    return Effects(names, terms, raw, intercept, grids)


_BUILDERS = {"gam": _gam, "xgb1": _xgb1, "xgb2": _xgb2, "ebm": _ebm, "gaminet": _gaminet}
