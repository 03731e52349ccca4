"""Small numpy neural-network kit: banks of independent ReLU subnetworks, Adam, losses.

A bank holds ``m`` networks of the same shape, each with its own weights, evaluated
together by batched matrix products on inputs of shape (m, n, d_in). A plain network is a
bank of one. Networks flagged as monotone keep non-negative weights (restored after every
update by ``project``) and use a ReLU capped at one, so their output never decreases in
any input while they can still bend both ways. Networks train in single precision,
which halves the memory traffic that dominates these small products; losses are taken in
double precision. Predictions run in double precision: single-precision products round
differently for a different number of rows, and a row's prediction must not depend on
the rows predicted with it.

Training steps without dropout run natively (``zeka.models._subnet``): a step on a few
dozen rows is dozens of numpy calls on tiny arrays, whose call overhead outweighs the
arithmetic many times over. The numpy methods stay the definition the native step
follows (and is tested against), and serve dropout and double-precision predictions.
gaminet goes further and trains a whole epoch per native call (``_subnet.train_epoch``).
"""

from contextlib import nullcontext

import numpy as np

from . import _subnet
from ._base import sigmoid

try:
    from threadpoolctl import ThreadpoolController
except ImportError:  # pragma: no cover - installed with scikit-learn
    ThreadpoolController = None


# multiply-adds per call above which a single network's step runs in numpy: the crossover
# of bench_subnet's kind of measurement for a (10, 40, 40, 1) network lies between 200 and
# 1,000 rows (400,000 to 2,000,000 multiply-adds)
NATIVE_MAX_WORK = 400_000


class SubnetBank:
    def __init__(self, m, d_in, hidden, rng, monotone=None, init="he"):
        """``init``: "he" draws normal weights of variance 2 / fan-in; "glorot" uniform ones
        of variance 2 / (fan-in + fan-out), smaller, so that a wide network starts smooth."""
        sizes = [d_in] + [int(s) for s in hidden] + [1]
        self.weights, self.biases = [], []
        for fan_in, fan_out in zip(sizes[:-1], sizes[1:]):
            if init == "glorot":
                bound = np.sqrt(6.0 / (fan_in + fan_out))
                weights = rng.uniform(-bound, bound, size=(m, fan_in, fan_out))
            else:
                weights = rng.normal(0.0, np.sqrt(2.0 / fan_in), size=(m, fan_in, fan_out))
            self.weights.append(weights.astype(np.float32))
            self.biases.append(np.zeros((m, 1, fan_out), dtype=np.float32))
        self.monotone = np.zeros(m, bool) if monotone is None else np.asarray(monotone, bool)
        for W in self.weights:
            W[self.monotone] = np.abs(W[self.monotone])
        self._cap = self.monotone[:, None, None]

    @property
    def params(self):
        return self.weights + self.biases

    def forward(self, U, dropout=0.0, rng=None, precise=False):
        """Outputs of shape (m, n) and the cache for ``backward``; ``precise`` computes in
        double precision, for predictions."""
        if precise or (dropout > 0 and rng is not None) or not self._native_pays(U.shape[1]):
            return self.forward_numpy(U, dropout, rng, precise)
        inputs = np.ascontiguousarray(U, dtype=np.float32)
        out, hidden = _subnet.forward(inputs, self.weights, self.biases, self.monotone)
        return out, _NativeCache(inputs, hidden)

    def _native_pays(self, rows):
        """Whether the native step beats numpy's: always for a bank of several networks
        (numpy's stacked products pay a call per network), for a single network while its
        multiply-adds stay below ``NATIVE_MAX_WORK`` (beyond, the matrix library's wider
        vector code wins)."""
        if len(self.monotone) > 1:
            return True
        work = sum(W.shape[1] * W.shape[2] for W in self.weights)
        return rows * work <= NATIVE_MAX_WORK

    def backward(self, cache, d_out):
        """Gradients of the parameters, in the order of ``params``."""
        if not isinstance(cache, _NativeCache):
            return self.backward_numpy(cache, d_out)
        return _subnet.backward(
            cache.inputs,
            cache.hidden,
            self.weights,
            self.monotone,
            np.ascontiguousarray(d_out, dtype=np.float64),
        )

    def forward_numpy(self, U, dropout=0.0, rng=None, precise=False):
        """``forward`` in numpy, with inverted ``dropout`` of hidden units drawn from ``rng``."""
        dtype = np.float64 if precise else np.float32
        a = U.astype(dtype, copy=False)
        cache = []
        last = len(self.weights) - 1
        for i, (W, b) in enumerate(zip(self.weights, self.biases)):
            z = _matmul(a, W.astype(dtype, copy=False)) + b
            if i == last:
                cache.append((a, None, None))
                return z[..., 0].astype(np.float64), cache
            out = np.maximum(z, 0.0)
            if self._cap.any():
                out = np.where(self._cap, np.minimum(out, 1.0), out)
            keep = None
            if dropout > 0 and rng is not None:
                keep = (rng.random_sample(out.shape) >= dropout).astype(np.float32)
                keep /= 1.0 - dropout
                out = out * keep
            cache.append((a, z, keep))
            a = out

    def backward_numpy(self, cache, d_out):
        """``backward`` in numpy, from the cache of ``forward_numpy``."""
        grad_w = [None] * len(self.weights)
        grad_b = [None] * len(self.biases)
        delta = d_out[..., None].astype(np.float32)
        for i in range(len(self.weights) - 1, -1, -1):
            a, _, _ = cache[i]
            grad_w[i] = np.swapaxes(a, 1, 2) @ delta
            grad_b[i] = delta.sum(axis=1, keepdims=True)
            if i == 0:
                break
            _, z_prev, keep_prev = cache[i - 1]
            delta = _matmul(delta, np.swapaxes(self.weights[i], 1, 2))
            active = z_prev > 0
            if self._cap.any():
                active = active & ~(self._cap & (z_prev >= 1.0))
            delta = delta * active
            if keep_prev is not None:
                delta = delta * keep_prev
        return grad_w + grad_b

    def project(self):
        if self.monotone.any():
            for W in self.weights:
                W[self.monotone] = np.maximum(W[self.monotone], 0.0)

    def subset(self, index):
        """A bank of copies of the networks at ``index``."""
        bank = object.__new__(SubnetBank)
        bank.weights = [W[index] for W in self.weights]
        bank.biases = [b[index] for b in self.biases]
        bank.monotone = self.monotone[index]
        bank._cap = self.monotone[index][:, None, None]
        return bank

    def put(self, index, bank):
        """Copy the networks of ``bank`` into this bank's places ``index``."""
        for mine, theirs in zip(self.params, bank.params):
            mine[index] = theirs

    def state(self):
        return [p.copy() for p in self.params]

    def restore(self, state):
        for p, saved in zip(self.params, state):
            p[...] = saved


class _NativeCache:
    """What the native backward pass needs: the inputs and the hidden activations."""

    __slots__ = ("inputs", "hidden")

    def __init__(self, inputs, hidden):
        self.inputs, self.hidden = inputs, hidden


def _matmul(a, b):
    """Stacked matrix product; a plain broadcast product when the inner size is one,
    which numpy's stacked matmul handles slowly."""
    if a.shape[-1] == 1:
        return a * b
    return a @ b


class Adam:
    """Adam over a list of parameter arrays, with its moments in one flat array: an update
    is a handful of whole-array operations however many arrays the networks have."""

    def __init__(self, params, learning_rate, beta1=0.9, beta2=0.999, eps=1e-8):
        self.params = params
        self.learning_rate, self.beta1, self.beta2, self.eps = learning_rate, beta1, beta2, eps
        ends = np.cumsum([p.size for p in params])
        self._slices = [slice(end - p.size, end) for p, end in zip(params, ends)]
        self.m = np.zeros(int(ends[-1]) if len(ends) else 0)
        self.v = np.zeros_like(self.m)
        self.t = 0

    def step(self, grads):
        self.t += 1
        c1 = 1.0 - self.beta1**self.t
        c2 = 1.0 - self.beta2**self.t
        _subnet.adam_step(
            self.params,
            grads,
            self.m,
            self.v,
            self.learning_rate / c1,
            c2,
            self.beta1,
            self.beta2,
            self.eps,
        )

    def step_numpy(self, grads):
        """``step`` in numpy: the definition the native update follows."""
        self.t += 1
        c1 = 1.0 - self.beta1**self.t
        c2 = 1.0 - self.beta2**self.t
        g = np.concatenate([grad.ravel() for grad in grads])
        self.m *= self.beta1
        self.m += (1.0 - self.beta1) * g
        g *= g
        self.v *= self.beta2
        self.v += (1.0 - self.beta2) * g
        update = np.sqrt(self.v / c2)
        update += self.eps
        np.divide(self.m, update, out=update)
        update *= self.learning_rate / c1
        for p, part in zip(self.params, self._slices):
            p -= update[part].reshape(p.shape)


def in_chunks(function, Z, rows=8192):
    """``function`` applied to row blocks of ``Z`` and concatenated: bounds the memory of
    the per-subnet activations when predicting on many rows."""
    if Z.shape[0] <= rows:
        return function(Z)
    return np.concatenate([function(Z[start : start + rows]) for start in range(0, len(Z), rows)])


_thread_pools = []


def single_blas_thread():
    """Context in which BLAS runs on one thread.

    Training multiplies many small matrices; handing each to a thread pool costs far more
    than it saves, and on a busy machine it slows training down several times over. The
    loaded thread pools are looked up once: a lookup reads every loaded library's path,
    milliseconds that a small fit would pay on every call.
    """
    if ThreadpoolController is None:
        return nullcontext()
    if not _thread_pools:
        _thread_pools.append(ThreadpoolController())
    return _thread_pools[0].limit(limits=1, user_api="blas")


def loss_and_gradient(F, y, w, logistic):
    """Weighted mean loss and its gradient with respect to the scores ``F``."""
    total = w.sum()
    if logistic:
        loss = np.logaddexp(0.0, F) - y * F
        grad = sigmoid(F) - y
    else:
        loss = 0.5 * (F - y) ** 2
        grad = F - y
    return float(w @ loss / total), w * grad / total


def mean_loss(F, y, w, logistic):
    return loss_and_gradient(F, y, w, logistic)[0]


def validation_split(n, share, rng):
    """Boolean mask of validation rows; empty when there are too few rows to spare."""
    mask = np.zeros(n, dtype=bool)
    n_val = int(round(share * n))
    if n_val >= 1 and n - n_val >= 2:
        mask[rng.permutation(n)[:n_val]] = True
    return mask


class EarlyStopping:
    """Tracks the best validation loss; ``stop`` once ``patience`` epochs bring nothing.

    An epoch counts as progress when it beats the best loss by ``tolerance`` times
    ``scale``, the validation loss of the best constant prediction: a fixed yardstick that
    neither the scale of an untrained network's first outputs nor a loss shrinking towards
    zero (a model that separates its validation rows) can stretch.
    """

    def __init__(self, patience, tolerance=1e-4, scale=1.0):
        self.patience, self.tolerance = patience, tolerance
        self.scale = abs(float(scale))
        self.best = np.inf
        self.best_epoch = -1
        self.stale = 0

    def update(self, loss, epoch):
        """Record an epoch's loss; True if it is the best so far."""
        if not np.isfinite(self.best) or loss < self.best - self.tolerance * self.scale:
            self.best, self.best_epoch, self.stale = loss, epoch, 0
            return True
        self.stale += 1
        return False

    @property
    def stop(self):
        return self.patience is not None and self.stale >= self.patience


def standardizer(X, w):
    """Weighted column means and standard deviations (one for a constant column)."""
    mean = np.average(X, axis=0, weights=w)
    scale = np.sqrt(np.average((X - mean) ** 2, axis=0, weights=w))
    return mean, np.where(scale > 0, scale, 1.0)


MIN_STEPS_PER_EPOCH = 8


def epoch_batch_size(batch_size, n_rows):
    """Batch size for an epoch over ``n_rows``: ``batch_size``, but small enough for
    ``MIN_STEPS_PER_EPOCH`` optimiser steps. A batch as large as the data would give one
    Adam step per epoch, far too few for the epoch budget to converge on small data."""
    return int(max(1, min(batch_size, -(-n_rows // MIN_STEPS_PER_EPOCH))))


def null_loss(y, w, logistic):
    """Mean loss of the best constant prediction of ``y``."""
    mean = np.average(y, weights=w)
    if logistic:
        mean = np.clip(mean, 1e-6, 1 - 1e-6)
        return mean_loss(np.full(len(y), np.log(mean / (1 - mean))), y, w, True)
    return mean_loss(np.full(len(y), mean), y, w, False)
