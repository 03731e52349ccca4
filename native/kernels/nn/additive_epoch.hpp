// One training epoch of an additive network: an intercept plus a bank of
// main-effect networks plus a bank of pair networks, trained by mini-batch
// Adam on a squared or logistic loss with an optional clarity penalty.
//
// Each step on a batch of rows: the outputs of both banks, the scores
// F = intercept + sum_j main_active[j] * main_j + sum_k pair_active[k] * pair_k,
// the gradient of the weighted mean loss (weights summed over the batch), plus
// reg_clarity * sum over pairs k and their two features f of
// pair_active[k] * main_active[f] * |mean(main_f * pair_k)|; the backward pass
// of every trained bank, one Adam update of the trained banks' parameters and
// the intercept, then monotone main networks clamped to non-negative weights.
// A bank that the stage does not train contributes fixed outputs.
#pragma once

#include "kernels/nn/adam.hpp"
#include "kernels/nn/subnet_bank.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeka::kernels {

// A bank taking part in the epoch: trained (its parameters, updated in place,
// and every row's inputs (networks, rows, sizes[0])) or fixed (its outputs on
// every row, (networks, rows)).
struct EpochBank {
    SubnetBankView view;         // networks, sizes, weights, biases, capped
    std::vector<float*> weights; // the same arrays as view's, to update
    std::vector<float*> biases;
    const float* inputs = nullptr;
    const double* fixed = nullptr; // non-null: the bank is not trained
    bool trained() const { return fixed == nullptr; }
    std::size_t networks() const { return view.networks; }
    std::size_t parameter_count() const;
};

struct AdditiveTargets {
    const double* y = nullptr; // (rows,)
    const double* w = nullptr; // (rows,)
    std::size_t rows = 0;
    bool logistic = false;
};

struct AdditiveTerms {
    const double* main_active = nullptr;         // (main networks,)
    const double* pair_active = nullptr;         // (pair networks,)
    const std::int64_t* pair_features = nullptr; // (pair networks, 2), main indices
    double reg_clarity = 0.0;                    // 0: no penalty
    double* intercept = nullptr;
};

// Adam's moments over the trained parameters in order: the main bank's weights
// then biases (when trained), the pair bank's (when trained), the intercept.
struct AdamState {
    double* m = nullptr;
    double* v = nullptr;
    std::int64_t t = 0; // steps taken so far; advanced by the epoch
    double learning_rate = 0.0;
    double beta1 = 0.9, beta2 = 0.999, eps = 1e-8;
};

// The network's weighted mean loss on the given rows (indices), plus
// reg_clarity times the clarity penalty with the means taken over those rows:
// the objective that a stage's early stopping watches. NaN when the rows'
// weights sum to zero. Computed in blocks of rows, so that its scratch stays
// small whatever the number of rows.
double additive_loss(EpochBank& main, EpochBank& pair, const AdditiveTargets& targets,
                     const AdditiveTerms& terms, const std::int64_t* rows, std::size_t n);

// One step per `batch_size` consecutive entries of `order` (row indices). A
// batch whose weights sum to zero carries no information and is skipped.
void train_additive_epoch(EpochBank& main, EpochBank& pair, const AdditiveTargets& targets,
                          const AdditiveTerms& terms, AdamState& adam, const std::int64_t* order,
                          std::size_t order_size, std::size_t batch_size);

} // namespace zeka::kernels
