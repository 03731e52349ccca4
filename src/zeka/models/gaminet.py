"""Additive network of per-feature and pairwise subnetworks ("gaminet").

The prediction is an intercept plus one small ReLU network per feature (main effects,
hidden sizes ``subnet_size_main_effect``) plus one per selected feature pair
(interactions, hidden sizes ``subnet_size_interaction``). Training has three stages, each
a run of mini-batch Adam (``batch_size``) with early stopping on a held-out fifth of the
rows; stage i runs at most ``max_epochs[i]`` epochs at ``learning_rates[i]`` and stops
after ``early_stop_thres[i]`` epochs in which the validation loss did not beat its best by
1e-3 times the loss of a constant prediction ("auto" picks a patience from the epoch
budget). An epoch takes at least eight optimiser steps: on data smaller than eight
batches the batch shrinks to an eighth of the fitting rows.

1. the main effects alone; afterwards the weakest main effects are pruned: effects are
   ranked by variance and the fewest top ones are kept whose loss on all training rows
   is within the relative ``loss_threshold`` of the best count;
2. with the main effects fixed, the ``interact_num`` pairs whose pairwise tree most
   improves the fit, among pairs with at least one kept main effect, get their subnets
   and are trained, then pruned the same way on the validation rows;
3. everything is fine-tuned together.

In stages 2 and 3 the loss carries ``reg_clarity`` times the absolute mean product of every
interaction with the main effects of its two features, which keeps interactions from
absorbing main effects; their early stopping watches that penalised loss. Every subnet
output is centred to mean zero on the training rows. Features in
``mono_increasing_list``/``mono_decreasing_list`` get monotone subnets and take part in no
interaction, so predictions are monotone in them. With ``normalize`` the inputs
are standardised first. With ``warm_start`` a refit on data of the same width starts from
the fitted weights and pairs. ``verbose`` prints a line per stage. ``n_jobs`` is accepted
for compatibility; training runs on the calling thread.
"""

import numbers

import numpy as np

from . import _subnet
from ._base import (
    ZekaClassifier,
    ZekaEstimator,
    ZekaRegressor,
    bin_edges,
    bin_matrix,
    check_non_negative,
    check_positive_int,
)
from ._losses import LogLoss, SquaredLoss
from ._nn import (
    Adam,
    EarlyStopping,
    SubnetBank,
    epoch_batch_size,
    in_chunks,
    mean_loss,
    null_loss,
    single_blas_thread,
    validation_split,
)
from ._pair_terms import rank_pairs

_VALIDATION_SHARE = 0.2
_PAIR_BINS = 32
# validation-loss improvement, relative to a constant prediction's, that counts as progress
_TOLERANCE = 1e-3


class _GAMINet(ZekaEstimator):
    def __init__(
        self,
        interact_num=10,
        batch_size=1000,
        mono_increasing_list=[],
        mono_decreasing_list=[],
        subnet_size_main_effect=[20],
        subnet_size_interaction=[20, 20],
        max_epochs=[1000, 1000, 1000],
        learning_rates=[0.001, 0.001, 0.0001],
        n_jobs=8,
        early_stop_thres=["auto", "auto", "auto"],
        random_state=0,
        normalize=True,
        reg_clarity=0.1,
        loss_threshold=0.01,
        warm_start=False,
        verbose=False,
    ):
        self.interact_num = interact_num
        self.batch_size = batch_size
        self.mono_increasing_list = mono_increasing_list
        self.mono_decreasing_list = mono_decreasing_list
        self.subnet_size_main_effect = subnet_size_main_effect
        self.subnet_size_interaction = subnet_size_interaction
        self.max_epochs = max_epochs
        self.learning_rates = learning_rates
        self.n_jobs = n_jobs
        self.early_stop_thres = early_stop_thres
        self.random_state = random_state
        self.normalize = normalize
        self.reg_clarity = reg_clarity
        self.loss_threshold = loss_threshold
        self.warm_start = warm_start
        self.verbose = verbose

    def _fit(self, X, y, w):
        with single_blas_thread():
            self._train(X, y, w)

    def _stage_settings(self):
        epochs = [
            check_positive_int(e, "max_epochs", minimum=0)
            for e in _three(self.max_epochs, "max_epochs")
        ]
        rates = [
            check_non_negative(r, "learning_rates")
            for r in _three(self.learning_rates, "learning_rates")
        ]
        patience = []
        for value, budget in zip(_three(self.early_stop_thres, "early_stop_thres"), epochs):
            if value == "auto":
                patience.append(max(5, min(20, budget // 10)))
            else:
                patience.append(check_positive_int(value, "early_stop_thres"))
        return epochs, rates, patience

    def _train(self, X, y, w):
        epochs, rates, patience = self._stage_settings()
        n_pairs = check_positive_int(self.interact_num, "interact_num", minimum=0)
        batch_size = check_positive_int(self.batch_size, "batch_size")
        reg_clarity = check_non_negative(self.reg_clarity, "reg_clarity")
        loss_threshold = check_non_negative(self.loss_threshold, "loss_threshold")
        main_sizes = _sizes(self.subnet_size_main_effect, "subnet_size_main_effect")
        pair_sizes = _sizes(self.subnet_size_interaction, "subnet_size_interaction")
        rng = np.random.RandomState(self.random_state)
        n, p = X.shape
        signs = self._monotone_signs()
        logistic = self._logistic

        if self.normalize:
            self.x_mean_ = np.average(X, axis=0, weights=w)
            scale = np.sqrt(np.average((X - self.x_mean_) ** 2, axis=0, weights=w))
            self.x_scale_ = np.where(scale > 0, scale, 1.0)
        else:
            self.x_mean_, self.x_scale_ = np.zeros(p), np.ones(p)
        if logistic:
            self.y_shift_, self.y_scale_ = 0.0, 1.0
        else:
            self.y_shift_ = float(np.average(y, weights=w))
            self.y_scale_ = float(np.sqrt(np.average((y - self.y_shift_) ** 2, weights=w))) or 1.0
        Z = (X - self.x_mean_) / self.x_scale_
        target = (y - self.y_shift_) / self.y_scale_
        val = validation_split(n, _VALIDATION_SHARE, rng)
        self.monotone_signs_ = signs

        shape = (p, tuple(main_sizes), tuple(pair_sizes), tuple(signs))
        warm = self.warm_start and getattr(self, "_network_shape", None) == shape
        if warm:
            net = self.network_
            net.reset_activity()
        else:
            net = _AdditiveNetwork(p, main_sizes, pair_sizes, signs, rng, logistic)
            net.intercept[0] = 0.0 if not logistic else _log_odds(target, w)
        trainer = _Trainer(net, Z, target, w, val, batch_size, rng, reg_clarity, self.verbose)

        trainer.run("main effects", ("main",), epochs[0], rates[0], patience[0], clarity=False)
        net.centre(Z[~val], w[~val])
        net.main_active = trainer.prune("main", loss_threshold)

        if not (warm and net.pairs):
            candidates = [
                (j, k)
                for j in range(p)
                for k in range(j + 1, p)
                if signs[j] == 0 and signs[k] == 0 and (net.main_active[j] or net.main_active[k])
            ]
            pairs = []
            if n_pairs > 0 and candidates:
                edges = [bin_edges(Z[~val, j], _PAIR_BINS) for j in range(p)]
                loss = LogLoss() if logistic else SquaredLoss()
                current = net.predict(Z[~val])
                ranked = rank_pairs(
                    bin_matrix(Z[~val], edges),
                    edges,
                    target[~val],
                    w[~val],
                    loss,
                    current,
                    candidates,
                )
                pairs = ranked[:n_pairs]
            net.set_pairs(pairs, rng)
        if net.pairs:
            trainer.run("interactions", ("pair",), epochs[1], rates[1], patience[1], clarity=True)
            net.centre(Z[~val], w[~val])
            net.pair_active = trainer.prune("pair", loss_threshold)
            net.set_aside_inactive_pairs()
        trainer.run("fine tuning", ("main", "pair"), epochs[2], rates[2], patience[2], clarity=True)
        net.centre(Z[~val], w[~val])

        self.network_ = net
        self._network_shape = shape
        self.n_epochs_ = trainer.epochs_run
        self.active_main_effects_ = np.flatnonzero(net.main_active).tolist()
        self.interaction_pairs_ = [pair for pair, on in zip(net.pairs, net.pair_active) if on]

    def _raw_predict(self, X):
        Z = (X - self.x_mean_) / self.x_scale_
        return self.y_shift_ + self.y_scale_ * in_chunks(self.network_.predict, Z)


def _three(value, name):
    if isinstance(value, (str, numbers.Number)):
        return [value] * 3
    value = list(value)
    if len(value) != 3:
        raise ValueError("%s needs three values (one per stage), got %r" % (name, value))
    return value


def _sizes(value, name):
    if isinstance(value, numbers.Integral):
        value = [value]
    sizes = [check_positive_int(v, name) for v in value]
    if not sizes:
        raise ValueError("%s needs at least one layer size" % name)
    return sizes


def _log_odds(y, w):
    mean = np.clip(np.average(y, weights=w), 1e-6, 1 - 1e-6)
    return np.log(mean / (1 - mean))


class _AdditiveNetwork:
    """Intercept + main-effect subnets + pairwise subnets, with on/off switches per term."""

    def __init__(self, p, main_sizes, pair_sizes, signs, rng, logistic):
        self.signs = np.where(signs == 0, 1.0, signs.astype(float))
        self.main = SubnetBank(p, 1, main_sizes, rng, monotone=signs != 0)
        self.pair_sizes = pair_sizes
        self.intercept = np.zeros(1)
        self.main_active = np.ones(p)
        self.pairs, self.pair_net, self.pair_active = [], None, np.zeros(0)
        self._set_aside = None
        self.logistic = logistic

    def reset_activity(self):
        """Every term active again, pairs set aside by pruning included."""
        if self._set_aside is not None:
            pairs, bank, live = self._set_aside
            if self.pair_net is not None:
                bank.put(live, self.pair_net)
            self.pairs, self.pair_net, self._set_aside = pairs, bank, None
        self.main_active = np.ones(len(self.main_active))
        self.pair_active = np.ones(len(self.pairs))

    def set_pairs(self, pairs, rng):
        self.pairs = [tuple(pair) for pair in pairs]
        self.pair_net = SubnetBank(len(pairs), 2, self.pair_sizes, rng) if pairs else None
        self.pair_active = np.ones(len(pairs))
        self._set_aside = None

    def set_aside_inactive_pairs(self):
        """Take pruned pairs out of the network, so that neither fine tuning nor prediction
        computes their subnets; a warm start puts them back in their places."""
        live = np.flatnonzero(self.pair_active)
        if len(live) == len(self.pairs):
            return
        self._set_aside = (self.pairs, self.pair_net, live)
        self.pairs = [self.pairs[i] for i in live]
        self.pair_net = self.pair_net.subset(live) if len(live) else None
        self.pair_active = np.ones(len(live))

    def params(self, banks):
        """Parameters of the named banks ("main", "pair") and the intercept."""
        chosen = [self.main if name == "main" else self.pair_net for name in banks]
        return [p for bank in chosen if bank is not None for p in bank.params] + [self.intercept]

    def _main_input(self, Z):
        return (Z * self.signs).T[:, :, None]

    def _pair_input(self, Z):
        index = np.asarray(self.pairs)
        return np.stack([Z[:, index[:, 0]].T, Z[:, index[:, 1]].T], axis=-1)

    def outputs(self, Z, main=None, precise=False):
        """Raw outputs of every main and pair subnet, with the caches for training.
        ``main``: the main subnets' outputs on ``Z`` when they are already known;
        ``precise``: in double precision, for predictions."""
        if main is not None:
            fm, cm = main, None
        else:
            fm, cm = self.main.forward(self._main_input(Z), precise=precise)
        if self.pair_net is None:
            return fm, cm, np.zeros((0, Z.shape[0])), None
        fp, cp = self.pair_net.forward(self._pair_input(Z), precise=precise)
        return fm, cm, fp, cp

    def combine(self, fm, fp):
        return self.intercept[0] + self.main_active @ fm + self.pair_active @ fp

    def predict(self, Z):
        fm, _, fp, _ = self.outputs(Z, precise=True)
        return self.combine(fm, fp)

    def centre(self, Z, w):
        """Shift every subnet's output bias so that its mean on ``Z`` is zero."""
        fm, _, fp, _ = self.outputs(Z)
        means = fm @ w / w.sum()
        self.main.biases[-1][:, 0, 0] -= means
        self.intercept[0] += self.main_active @ means
        if self.pair_net is not None:
            means = fp @ w / w.sum()
            self.pair_net.biases[-1][:, 0, 0] -= means
            self.intercept[0] += self.pair_active @ means


class _Trainer:
    """Runs the training stages and the pruning steps of an additive network."""

    def __init__(self, net, Z, y, w, val, batch_size, rng, reg_clarity, verbose):
        self.net, self.Z, self.y, self.w = net, Z, y, w
        self.val = val if val.any() else None
        self.fit_rows = np.flatnonzero(~val)
        # the rows that early stopping and the pruning of pairs judge by
        self.check_rows = np.flatnonzero(self._check_rows())
        self.batch_size = epoch_batch_size(batch_size, len(self.fit_rows))
        self.rng = rng
        self.null_loss = null_loss(y[self.check_rows], w[self.check_rows], net.logistic)
        self.reg_clarity, self.verbose = reg_clarity, verbose
        self.epochs_run = []
        # every row's subnet inputs in the training step's precision, laid out so that a
        # batch's are one indexing away: (subnets, rows, inputs per subnet)
        self._main_inputs = np.ascontiguousarray(net._main_input(Z), dtype=np.float32)

    def _check_rows(self):
        return self.val if self.val is not None else np.ones(len(self.y), bool)

    def run(self, name, banks, epochs, learning_rate, patience, clarity):
        """Train the named banks, an epoch per native call; a bank left out keeps its
        weights, so its outputs on the training rows are computed once for the whole
        stage."""
        net = self.net
        params = net.params(banks)
        main = self._bank_argument(net.main, "main" in banks, self._main_inputs)
        pair = None
        if net.pair_net is not None:
            pair_inputs = np.ascontiguousarray(net._pair_input(self.Z), dtype=np.float32)
            pair = self._bank_argument(net.pair_net, "pair" in banks, pair_inputs)
        features = np.asarray(net.pairs, dtype=np.int64).reshape(-1, 2)
        reg_clarity = self.reg_clarity if clarity and net.pairs else 0.0
        optimizer = Adam(params, learning_rate)
        stopper = EarlyStopping(
            patience if self.val is not None else None, _TOLERANCE, self.null_loss
        )
        best = [p.copy() for p in params]
        done = 0

        def validation_loss(reg_clarity):
            return _subnet.additive_loss(
                main,
                pair,
                features,
                net.main_active,
                net.pair_active,
                net.intercept,
                self.y,
                self.w,
                self.check_rows,
                net.logistic,
                reg_clarity,
            )

        for epoch in range(epochs):
            order = self.rng.permutation(self.fit_rows)
            _subnet.train_epoch(
                main,
                pair,
                features,
                net.main_active,
                net.pair_active,
                net.intercept,
                self.y,
                self.w,
                order,
                self.batch_size,
                net.logistic,
                reg_clarity,
                optimizer,
            )
            done = epoch + 1
            # the stage's own objective decides, so the penalty is not undone by stopping
            loss = validation_loss(reg_clarity)
            if stopper.update(loss, epoch):
                best = [p.copy() for p in params]
            if stopper.stop:
                break
        if self.val is not None and done:
            for p, saved in zip(params, best):
                p[...] = saved
        self.epochs_run.append(done)
        if self.verbose:
            print("%s: %d epochs, validation loss %.6f" % (name, done, validation_loss(0.0)))

    @staticmethod
    def _bank_argument(bank, trained, inputs):
        """A bank as the training epoch takes it: its parameters and every row's inputs
        when the stage trains it, else its outputs on every row."""
        if trained:
            return bank.weights, bank.biases, bank.monotone, inputs
        return bank.forward(inputs)[0]

    def prune(self, kind, loss_threshold):
        """Keep the fewest strongest terms whose loss is near the best.

        Pairs are judged on the validation rows. Main effects are judged on every training
        row, fitting and validation alike: the validation share alone is too small on small
        data to tell a weak real effect from none, and a pruned main effect stays out of the
        model for good (no later stage can bring it back).
        """
        net = self.net
        rows = np.ones(len(self.y), bool) if kind == "main" else self._check_rows()
        fm, _, fp, _ = net.outputs(self.Z[rows])
        terms = fm if kind == "main" else fp
        active = net.main_active if kind == "main" else net.pair_active
        fit_out = net.outputs(self.Z[self.fit_rows])
        spread = np.var(fit_out[0] if kind == "main" else fit_out[2], axis=1) * active
        order = np.argsort(-spread, kind="stable")
        base = net.intercept[0] + (net.pair_active @ fp if kind == "main" else net.main_active @ fm)
        losses = [mean_loss(base, self.y[rows], self.w[rows], net.logistic)]
        running = base.copy()
        for j in order:
            running = running + active[j] * terms[j]
            losses.append(mean_loss(running, self.y[rows], self.w[rows], net.logistic))
        losses = np.asarray(losses)
        limit = losses.min() + loss_threshold * abs(losses.min())
        keep = int(np.flatnonzero(losses <= limit)[0])
        new_active = np.zeros(len(active))
        new_active[order[:keep]] = 1.0
        return new_active * active


class GAMINetRegressor(ZekaRegressor, _GAMINet):
    _logistic = False


class GAMINetClassifier(ZekaClassifier, _GAMINet):
    _logistic = True
