"""Fully connected ReLU network ("reludnn")."""

import numpy as np

from ._base import (
    ZekaClassifier,
    ZekaEstimator,
    ZekaRegressor,
    check_non_negative,
    check_positive_int,
)
from ._nn import (
    Adam,
    EarlyStopping,
    SubnetBank,
    epoch_batch_size,
    in_chunks,
    loss_and_gradient,
    mean_loss,
    null_loss,
    single_blas_thread,
    standardizer,
    validation_split,
)


class _ReluDNN(ZekaEstimator):
    """ReLU multilayer network trained by mini-batch Adam with early stopping.

    ``hidden_layer_sizes`` gives the width of each hidden layer. The network sees the inputs
    standardised (weighted mean zero, variance one per column; the shift and scale are kept
    in ``x_mean_`` and ``x_scale_`` and applied again at prediction), so that raw columns of
    any scale train alike. Training minimises the mean loss (half squared error on the
    standardised target, or log-loss) plus ``l1_reg`` times the sum of absolute weights, for
    at most ``max_epochs`` passes over the data in batches of ``batch_size`` (on data
    smaller than eight batches, an eighth of the fitting rows, so that an epoch takes eight
    optimiser steps) at ``learning_rate``, with inverted dropout of probability
    ``dropout_prob`` on hidden units. A random ``val_ratio`` share of the rows is held out
    and training stops after ``n_epoch_no_change`` epochs in which the validation loss did
    not beat its best by 1e-4 times the loss of a constant prediction, keeping the best
    weights. With ``iht`` the first-layer weights below ``threshold`` in absolute value are
    set to zero, and kept there, after every ``phase_epochs`` epochs (iterative hard
    thresholding, for sparse inputs). Everything runs on the CPU (``device`` must be "cpu");
    ``verbose`` prints the validation loss of every epoch.
    """

    def __init__(
        self,
        hidden_layer_sizes=[40, 40],
        max_epochs=1000,
        learning_rate=0.001,
        batch_size=500,
        l1_reg=1e-05,
        dropout_prob=0,
        val_ratio=0.2,
        iht=False,
        phase_epochs=1,
        threshold=0.1,
        device="cpu",
        verbose=False,
        n_epoch_no_change=20,
        random_state=0,
    ):
        self.hidden_layer_sizes = hidden_layer_sizes
        self.max_epochs = max_epochs
        self.learning_rate = learning_rate
        self.batch_size = batch_size
        self.l1_reg = l1_reg
        self.dropout_prob = dropout_prob
        self.val_ratio = val_ratio
        self.iht = iht
        self.phase_epochs = phase_epochs
        self.threshold = threshold
        self.device = device
        self.verbose = verbose
        self.n_epoch_no_change = n_epoch_no_change
        self.random_state = random_state

    def _check_params(self):
        hidden = self.hidden_layer_sizes
        if isinstance(hidden, (int, np.integer)):
            hidden = [hidden]
        hidden = [check_positive_int(size, "hidden_layer_sizes") for size in hidden]
        dropout = check_non_negative(self.dropout_prob, "dropout_prob")
        val_ratio = check_non_negative(self.val_ratio, "val_ratio")
        if dropout >= 1:
            raise ValueError("dropout_prob must be below 1, got %r" % self.dropout_prob)
        if val_ratio >= 1:
            raise ValueError("val_ratio must be below 1, got %r" % self.val_ratio)
        if self.device != "cpu":
            raise ValueError("only device='cpu' is supported, got %r" % self.device)
        return hidden, dropout, val_ratio

    def _fit(self, X, y, w):
        with single_blas_thread():
            self._train(X, y, w)

    def _train(self, X, y, w):
        hidden, dropout, val_ratio = self._check_params()
        max_epochs = check_positive_int(self.max_epochs, "max_epochs")
        batch_size = check_positive_int(self.batch_size, "batch_size")
        patience = check_positive_int(self.n_epoch_no_change, "n_epoch_no_change")
        phase = check_positive_int(self.phase_epochs, "phase_epochs")
        lr = check_non_negative(self.learning_rate, "learning_rate")
        l1 = check_non_negative(self.l1_reg, "l1_reg")
        threshold = check_non_negative(self.threshold, "threshold")
        rng = np.random.RandomState(self.random_state)
        logistic = self._logistic
        if logistic:
            self.y_shift_, self.y_scale_ = 0.0, 1.0
        else:
            self.y_shift_ = float(np.average(y, weights=w))
            self.y_scale_ = float(np.sqrt(np.average((y - self.y_shift_) ** 2, weights=w))) or 1.0
        target = (y - self.y_shift_) / self.y_scale_
        self.x_mean_, self.x_scale_ = standardizer(X, w)
        X = (X - self.x_mean_) / self.x_scale_

        val = validation_split(X.shape[0], val_ratio, rng)
        fit_rows = np.flatnonzero(~val)
        batch_size = epoch_batch_size(batch_size, len(fit_rows))
        # small uniform starting weights: a network started from He-scaled weights on a few
        # hundred rows fits the noise before early stopping can catch it
        self.network_ = SubnetBank(1, X.shape[1], hidden, rng, init="glorot")
        net = self.network_
        n_weights = len(net.weights)
        optimizer = Adam(net.params, lr)
        first_mask = np.ones_like(net.weights[0])
        check = val if val.any() else ~val
        stopper = EarlyStopping(
            patience if val.any() else None, scale=null_loss(target[check], w[check], logistic)
        )
        best = net.state()
        self.loss_curve_ = []
        self.n_epochs_ = 0
        for epoch in range(max_epochs):
            order = rng.permutation(fit_rows)
            for start in range(0, len(order), batch_size):
                rows = order[start : start + batch_size]
                out, cache = net.forward(X[None, rows], dropout, rng)
                _, grad = loss_and_gradient(out[0], target[rows], w[rows], logistic)
                grads = net.backward(cache, grad[None])
                for i in range(n_weights):
                    grads[i] = grads[i] + l1 * np.sign(net.weights[i])
                grads[0] = grads[0] * first_mask
                optimizer.step(grads)
                net.weights[0] *= first_mask
            self.n_epochs_ = epoch + 1
            if self.iht and (epoch + 1) % phase == 0:
                first_mask = first_mask * (np.abs(net.weights[0]) >= threshold)
                net.weights[0] *= first_mask
            loss = mean_loss(net.forward(X[None, check])[0][0], target[check], w[check], logistic)
            self.loss_curve_.append(loss)
            if self.verbose:
                print("epoch %d: validation loss %.6f" % (epoch + 1, loss))
            if stopper.update(loss, epoch):
                best = net.state()
            if stopper.stop:
                break
        if val.any():
            net.restore(best)

    def _raw_predict(self, X):
        X = (X - self.x_mean_) / self.x_scale_
        out = in_chunks(lambda rows: self.network_.forward(rows[None], precise=True)[0][0], X)
        return self.y_shift_ + self.y_scale_ * out


class ReluDNNRegressor(ZekaRegressor, _ReluDNN):
    _logistic = False


class ReluDNNClassifier(ZekaClassifier, _ReluDNN):
    _logistic = True
