#include "kernels/nn/additive_epoch.hpp"

#include <algorithm>
#include <cmath>

namespace zeka::kernels {

std::size_t EpochBank::parameter_count() const {
    if (!trained() || networks() == 0)
        return 0;
    std::size_t count = 0;
    for (std::size_t l = 0; l + 1 < view.sizes.size(); ++l)
        count += networks() * (view.sizes[l] + 1) * view.sizes[l + 1];
    return count;
}

namespace {

// The layer kernels handle eight rows at a time in vector registers and the
// rows past the last multiple of eight one by one, which costs as much again
// on a batch of 45 rows. Each batch is therefore padded to a multiple of eight
// rows: zero inputs, whose outputs are ignored, and a zero gradient, so that
// they add nothing to the parameters' gradients.
constexpr std::size_t kRowBlock = 8;

std::size_t padded(std::size_t rows) {
    return (rows + kRowBlock - 1) / kRowBlock * kRowBlock;
}

// A bank's per-batch scratch, sized once for the largest (padded) batch; the
// rows of a batch are `stride` apart.
struct BankScratch {
    std::size_t stride = 0;
    std::vector<float> inputs; // (networks, sizes[0], batch)
    std::vector<std::vector<float>> hidden;
    std::vector<float*> hidden_out;
    std::vector<const float*> hidden_in;
    std::vector<double> outputs;   // (networks, batch)
    std::vector<double> d_outputs; // (networks, batch)
    std::vector<std::vector<float>> grad_w, grad_b;
    std::vector<float*> grad_w_out, grad_b_out;
};

void allocate(const EpochBank& bank, std::size_t batch, BankScratch& s) {
    const std::size_t m = bank.networks();
    s.outputs.resize(m * batch);
    s.d_outputs.resize(m * batch);
    if (!bank.trained() || m == 0)
        return;
    const auto& sizes = bank.view.sizes;
    s.inputs.resize(m * batch * sizes[0]);
    for (std::size_t l = 0; l + 1 < bank.view.layers(); ++l)
        s.hidden.emplace_back(m * batch * sizes[l + 1]);
    for (auto& h : s.hidden) {
        s.hidden_out.push_back(h.data());
        s.hidden_in.push_back(h.data());
    }
    for (std::size_t l = 0; l < bank.view.layers(); ++l) {
        s.grad_w.emplace_back(m * sizes[l] * sizes[l + 1]);
        s.grad_b.emplace_back(m * sizes[l + 1]);
    }
    for (std::size_t l = 0; l < s.grad_w.size(); ++l) {
        s.grad_w_out.push_back(s.grad_w[l].data());
        s.grad_b_out.push_back(s.grad_b[l].data());
    }
}

// The bank's outputs on the batch's n rows (padded to s.stride): a forward
// pass on their gathered inputs, or the fixed outputs gathered.
void bank_outputs(EpochBank& bank, const std::int64_t* rows, std::size_t n, std::size_t all_rows,
                  BankScratch& s) {
    const std::size_t m = bank.networks(), stride = s.stride;
    if (m == 0)
        return;
    if (!bank.trained()) {
        for (std::size_t k = 0; k < m; ++k)
            for (std::size_t r = 0; r < n; ++r)
                s.outputs[k * stride + r] =
                    bank.fixed[k * all_rows + static_cast<std::size_t>(rows[r])];
        return;
    }
    // (networks, all rows, d) gathered into the kernel's (networks, d, batch rows)
    const std::size_t d = bank.view.sizes[0];
    for (std::size_t k = 0; k < m; ++k)
        for (std::size_t j = 0; j < d; ++j) {
            float* out = s.inputs.data() + (k * d + j) * stride;
            const float* in = bank.inputs + k * all_rows * d + j;
            for (std::size_t r = 0; r < n; ++r)
                out[r] = in[static_cast<std::size_t>(rows[r]) * d];
            std::fill(out + n, out + stride, 0.0f);
        }
    bank.view.rows = stride;
    subnet_forward(bank.view, s.inputs.data(), s.hidden_out, s.outputs.data());
}

// F[r] = intercept + sum over networks of active * output, in network order.
void add_terms(const double* active, const BankScratch& s, std::size_t m, std::size_t n,
               double* scores) {
    for (std::size_t k = 0; k < m; ++k)
        for (std::size_t r = 0; r < n; ++r)
            scores[r] += active[k] * s.outputs[k * s.stride + r];
}

// Gradient of the weighted mean loss with respect to the scores; false when
// the batch's weights sum to zero.
bool loss_gradient(const AdditiveTargets& t, const std::int64_t* rows, std::size_t n,
                   const std::vector<double>& scores, std::vector<double>& d_scores) {
    double total = 0.0;
    for (std::size_t r = 0; r < n; ++r)
        total += t.w[rows[r]];
    if (!(total > 0.0))
        return false;
    for (std::size_t r = 0; r < n; ++r) {
        const double f = scores[r], y = t.y[rows[r]];
        const double g = t.logistic ? 1.0 / (1.0 + std::exp(-f)) - y : f - y;
        d_scores[r] = t.w[rows[r]] * g / total;
    }
    return true;
}

// Each network's share of the scores' gradient; zero on the padding rows.
void spread_gradient(const double* active, const std::vector<double>& d_scores, std::size_t m,
                     std::size_t n, BankScratch& s) {
    for (std::size_t k = 0; k < m; ++k) {
        double* d = s.d_outputs.data() + k * s.stride;
        for (std::size_t r = 0; r < n; ++r)
            d[r] = active[k] * d_scores[r];
        std::fill(d + n, d + s.stride, 0.0);
    }
}

double sign(double x) {
    return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : x);
}

// Gradient of reg_clarity * |mean(main_f * pair_k)| for each pair k and each of
// its two features f, with both switched on.
void add_clarity(const AdditiveTerms& terms, std::size_t pairs, std::size_t n, BankScratch& main,
                 BankScratch& pair, bool main_trained) {
    for (std::size_t side = 0; side < 2; ++side) {
        for (std::size_t k = 0; k < pairs; ++k) {
            const auto f = static_cast<std::size_t>(terms.pair_features[2 * k + side]);
            const double on = terms.pair_active[k] * terms.main_active[f];
            const double* fm = main.outputs.data() + f * main.stride;
            const double* fp = pair.outputs.data() + k * pair.stride;
            double product = 0.0;
            for (std::size_t r = 0; r < n; ++r)
                product += fm[r] * fp[r];
            product /= static_cast<double>(n);
            const double coef = terms.reg_clarity * on * sign(product) / static_cast<double>(n);
            double* d_fp = pair.d_outputs.data() + k * pair.stride;
            for (std::size_t r = 0; r < n; ++r)
                d_fp[r] += coef * fm[r];
            if (!main_trained)
                continue;
            double* d_fm = main.d_outputs.data() + f * main.stride;
            for (std::size_t r = 0; r < n; ++r)
                d_fm[r] += coef * fp[r];
        }
    }
}

void bank_gradients(EpochBank& bank, BankScratch& s) {
    if (!bank.trained() || bank.networks() == 0)
        return;
    subnet_backward(bank.view, s.inputs.data(), s.hidden_in, s.d_outputs.data(), s.grad_w_out,
                    s.grad_b_out);
}

// Adam over one bank's weights then biases; returns the moments' next offset.
std::size_t update_bank(EpochBank& bank, const BankScratch& s, AdamState& adam,
                        const AdamSettings& settings, std::size_t offset) {
    if (!bank.trained() || bank.networks() == 0)
        return offset;
    for (int part = 0; part < 2; ++part) {
        auto& params = part == 0 ? bank.weights : bank.biases;
        const auto& grads = part == 0 ? s.grad_w : s.grad_b;
        for (std::size_t l = 0; l < params.size(); ++l) {
            adam_update(params[l], grads[l].data(), adam.m + offset, adam.v + offset,
                        grads[l].size(), settings);
            offset += grads[l].size();
        }
    }
    return offset;
}

// Monotone (capped) networks keep non-negative weights; NaN stays NaN.
void clamp_monotone(EpochBank& bank) {
    const auto& sizes = bank.view.sizes;
    for (std::size_t k = 0; k < bank.networks(); ++k) {
        if (!bank.view.capped[k])
            continue;
        for (std::size_t l = 0; l < bank.weights.size(); ++l) {
            const std::size_t size = sizes[l] * sizes[l + 1];
            float* w = bank.weights[l] + k * size;
            for (std::size_t i = 0; i < size; ++i)
                w[i] = w[i] < 0.0f ? 0.0f : w[i];
        }
    }
}

// Both banks' outputs on a batch of n rows (padded in the scratch) and the
// rows' scores.
void score_batch(EpochBank& main, EpochBank& pair, const std::int64_t* rows, std::size_t n,
                 std::size_t all_rows, const AdditiveTerms& terms, BankScratch& ms, BankScratch& ps,
                 std::vector<double>& scores) {
    ms.stride = ps.stride = padded(n);
    bank_outputs(main, rows, n, all_rows, ms);
    bank_outputs(pair, rows, n, all_rows, ps);
    std::fill_n(scores.begin(), n, *terms.intercept);
    add_terms(terms.main_active, ms, main.networks(), n, scores.data());
    add_terms(terms.pair_active, ps, pair.networks(), n, scores.data());
}

// log(1 + exp(f)) - y * f without overflow, as numpy's logaddexp(0, f) - y * f.
double logistic_loss(double f, double y) {
    const double softplus = f > 0.0 ? f + std::log1p(std::exp(-f)) : std::log1p(std::exp(f));
    return softplus - y * f;
}

// Rows per block of additive_loss.
constexpr std::size_t kLossBlock = 512;

} // namespace

double additive_loss(EpochBank& main, EpochBank& pair, const AdditiveTargets& targets,
                     const AdditiveTerms& terms, const std::int64_t* rows, std::size_t n) {
    const std::size_t block = std::min(n, kLossBlock);
    BankScratch ms, ps;
    allocate(main, padded(block), ms);
    allocate(pair, padded(block), ps);
    std::vector<double> scores(block);
    const std::size_t q = pair.networks();
    const bool clarity = terms.reg_clarity > 0.0 && q > 0;
    // sums over rows of main_f * pair_k, entry i for pair k = i % q and its
    // feature f on side i / q
    std::vector<double> products(clarity ? 2 * q : 0, 0.0);
    auto feature_of = [&](std::size_t i) {
        return static_cast<std::size_t>(terms.pair_features[2 * (i % q) + i / q]);
    };
    double weighted = 0.0, weights = 0.0;
    for (std::size_t start = 0; start < n; start += block) {
        const std::int64_t* at = rows + start;
        const std::size_t count = std::min(block, n - start);
        score_batch(main, pair, at, count, targets.rows, terms, ms, ps, scores);
        for (std::size_t r = 0; r < count; ++r) {
            const double f = scores[r], y = targets.y[at[r]], w = targets.w[at[r]];
            weighted += w * (targets.logistic ? logistic_loss(f, y) : 0.5 * (f - y) * (f - y));
            weights += w;
        }
        for (std::size_t i = 0; i < products.size(); ++i) {
            const double* fm = ms.outputs.data() + feature_of(i) * ms.stride;
            const double* fp = ps.outputs.data() + (i % q) * ps.stride;
            for (std::size_t r = 0; r < count; ++r)
                products[i] += fm[r] * fp[r];
        }
    }
    double loss = weighted / weights;
    for (std::size_t i = 0; i < products.size(); ++i) {
        const double on = terms.pair_active[i % q] * terms.main_active[feature_of(i)];
        loss += terms.reg_clarity * on * std::fabs(products[i] / static_cast<double>(n));
    }
    return loss;
}

void train_additive_epoch(EpochBank& main, EpochBank& pair, const AdditiveTargets& targets,
                          const AdditiveTerms& terms, AdamState& adam, const std::int64_t* order,
                          std::size_t order_size, std::size_t batch_size) {
    const std::size_t batch = std::min(batch_size, order_size);
    BankScratch ms, ps;
    allocate(main, padded(batch), ms);
    allocate(pair, padded(batch), ps);
    std::vector<double> scores(batch), d_scores(batch);
    const std::size_t p = main.networks(), q = pair.networks();
    for (std::size_t start = 0; start < order_size; start += batch_size) {
        const std::int64_t* rows = order + start;
        const std::size_t n = std::min(batch_size, order_size - start);
        score_batch(main, pair, rows, n, targets.rows, terms, ms, ps, scores);
        if (!loss_gradient(targets, rows, n, scores, d_scores))
            continue;
        if (main.trained())
            spread_gradient(terms.main_active, d_scores, p, n, ms);
        spread_gradient(terms.pair_active, d_scores, q, n, ps);
        if (terms.reg_clarity > 0.0 && q > 0)
            add_clarity(terms, q, n, ms, ps, main.trained());
        bank_gradients(main, ms);
        bank_gradients(pair, ps);
        double d_intercept = 0.0;
        for (std::size_t r = 0; r < n; ++r)
            d_intercept += d_scores[r];

        adam.t += 1;
        AdamSettings settings;
        settings.beta1 = adam.beta1;
        settings.beta2 = adam.beta2;
        settings.eps = adam.eps;
        settings.step_size =
            adam.learning_rate / (1.0 - std::pow(adam.beta1, static_cast<double>(adam.t)));
        settings.correction2 = 1.0 - std::pow(adam.beta2, static_cast<double>(adam.t));
        std::size_t offset = update_bank(main, ms, adam, settings, 0);
        offset = update_bank(pair, ps, adam, settings, offset);
        adam_update(terms.intercept, &d_intercept, adam.m + offset, adam.v + offset, 1, settings);
        if (main.trained())
            clamp_monotone(main);
    }
}

} // namespace zeka::kernels
