#include "kernels/nn/subnet_bank.hpp"

#include <algorithm>

namespace zeka::kernels {

namespace {

// The loops below are short and run millions of times in a fit; where the
// compiler supports it, each gets an AVX2 copy too, picked at load time on
// processors that have it (twice the vector width, the same arithmetic: no
// fused multiply-add, so results do not depend on the copy).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define ZEKA_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZEKA_VECTOR_CLONES
#endif

// Rows whose dot products run side by side when a layer has a single output:
// independent sums, rather than one chain of dependent additions per row.
constexpr std::size_t kRowBlock = 8;

// One network's layer: out (rows, fan_out) = in (rows, fan_in) @ w + b, the
// products summed in input order and the bias added last, as a matrix product
// followed by a broadcast addition would. The inner loop runs along the
// contiguous output units, which the compiler vectorises.
ZEKA_VECTOR_CLONES void affine(const float* __restrict in, const float* __restrict w,
                               const float* __restrict b, std::size_t rows, std::size_t fan_in,
                               std::size_t fan_out, float* __restrict out) {
    for (std::size_t r = 0; r < rows; ++r) {
        const float* x = in + r * fan_in;
        float* __restrict z = out + r * fan_out;
        for (std::size_t o = 0; o < fan_out; ++o)
            z[o] = x[0] * w[o];
        for (std::size_t j = 1; j < fan_in; ++j) {
            const float xj = x[j];
            const float* __restrict wj = w + j * fan_out;
            for (std::size_t o = 0; o < fan_out; ++o)
                z[o] += xj * wj[o];
        }
        for (std::size_t o = 0; o < fan_out; ++o)
            z[o] += b[o];
    }
}

// affine for a layer with one output: a dot product per row, kRowBlock rows
// at a time.
ZEKA_VECTOR_CLONES void affine_single(const float* __restrict in, const float* __restrict w,
                                      float b, std::size_t rows, std::size_t fan_in,
                                      float* __restrict out) {
    std::size_t r = 0;
    for (; r + kRowBlock <= rows; r += kRowBlock) {
        float z[kRowBlock];
        for (std::size_t i = 0; i < kRowBlock; ++i)
            z[i] = in[(r + i) * fan_in] * w[0];
        for (std::size_t j = 1; j < fan_in; ++j)
            for (std::size_t i = 0; i < kRowBlock; ++i)
                z[i] += in[(r + i) * fan_in + j] * w[j];
        for (std::size_t i = 0; i < kRowBlock; ++i)
            out[r + i] = z[i] + b;
    }
    for (; r < rows; ++r) {
        const float* x = in + r * fan_in;
        float z = x[0] * w[0];
        for (std::size_t j = 1; j < fan_in; ++j)
            z += x[j] * w[j];
        out[r] = z + b;
    }
}

// ReLU in place, capped at one for a monotone network. NaN stays NaN, as
// numpy's maximum and minimum keep it.
ZEKA_VECTOR_CLONES void activate(float* __restrict z, std::size_t count, bool capped) {
    if (capped) {
        for (std::size_t i = 0; i < count; ++i)
            z[i] = z[i] < 0.0f ? 0.0f : (z[i] > 1.0f ? 1.0f : z[i]);
    } else {
        for (std::size_t i = 0; i < count; ++i)
            z[i] = z[i] < 0.0f ? 0.0f : z[i];
    }
}

// Whether a hidden unit passed its input's gradient on: strictly positive
// input, and below the cap when there is one. Read from the activation
// itself, which equals the input wherever the unit is active.
inline bool passes(float activation, bool capped) {
    return activation > 0.0f && !(capped && activation >= 1.0f);
}

// grad_w (fan_in, fan_out) = in^T @ delta and grad_b = the column sums of
// delta, summed over the rows in single precision as a matrix product would.
ZEKA_VECTOR_CLONES void accumulate_gradients(const float* __restrict in,
                                             const float* __restrict delta, std::size_t rows,
                                             std::size_t fan_in, std::size_t fan_out,
                                             float* __restrict grad_w, float* __restrict grad_b) {
    std::fill(grad_w, grad_w + fan_in * fan_out, 0.0f);
    std::fill(grad_b, grad_b + fan_out, 0.0f);
    for (std::size_t r = 0; r < rows; ++r) {
        const float* x = in + r * fan_in;
        const float* d = delta + r * fan_out;
        if (fan_out == 1) { // one output: the loop along the inputs is the long one
            const float d0 = d[0];
            grad_b[0] += d0;
            for (std::size_t j = 0; j < fan_in; ++j)
                grad_w[j] += x[j] * d0;
            continue;
        }
        for (std::size_t o = 0; o < fan_out; ++o)
            grad_b[o] += d[o];
        for (std::size_t j = 0; j < fan_in; ++j) {
            const float xj = x[j];
            float* __restrict g = grad_w + j * fan_out;
            for (std::size_t o = 0; o < fan_out; ++o)
                g[o] += xj * d[o];
        }
    }
}

// delta_in (rows, fan_in) = (delta (rows, fan_out) @ w^T) where the hidden unit
// that produced `in` passed its gradient on, zero elsewhere. `w_t` is w
// transposed (fan_out, fan_in), so that the inner loop runs along contiguous
// memory with an independent sum per input unit.
ZEKA_VECTOR_CLONES void propagate(const float* __restrict delta, const float* __restrict w_t,
                                  const float* __restrict in, std::size_t rows, std::size_t fan_in,
                                  std::size_t fan_out, bool capped, float* __restrict delta_in) {
    for (std::size_t r = 0; r < rows; ++r) {
        const float* d = delta + r * fan_out;
        float* __restrict out = delta_in + r * fan_in;
        for (std::size_t j = 0; j < fan_in; ++j)
            out[j] = d[0] * w_t[j];
        for (std::size_t o = 1; o < fan_out; ++o) {
            const float d_o = d[o];
            const float* __restrict row = w_t + o * fan_in;
            for (std::size_t j = 0; j < fan_in; ++j)
                out[j] += d_o * row[j];
        }
        const float* x = in + r * fan_in;
        for (std::size_t j = 0; j < fan_in; ++j)
            out[j] = passes(x[j], capped) ? out[j] : 0.0f;
    }
}

void transpose(const float* w, std::size_t fan_in, std::size_t fan_out, std::vector<float>& w_t) {
    w_t.resize(fan_in * fan_out);
    for (std::size_t j = 0; j < fan_in; ++j)
        for (std::size_t o = 0; o < fan_out; ++o)
            w_t[o * fan_in + j] = w[j * fan_out + o];
}

} // namespace

void subnet_forward(const SubnetBankView& bank, const float* inputs,
                    const std::vector<float*>& hidden, double* outputs) {
    const std::size_t rows = bank.rows, layers = bank.layers();
    std::vector<float> last(rows);
    for (std::size_t k = 0; k < bank.networks; ++k) {
        const float* in = inputs + k * rows * bank.sizes[0];
        for (std::size_t l = 0; l + 1 < layers; ++l) {
            const std::size_t fan_in = bank.sizes[l], fan_out = bank.sizes[l + 1];
            float* out = hidden[l] + k * rows * fan_out;
            affine(in, bank.weights[l] + k * fan_in * fan_out, bank.biases[l] + k * fan_out, rows,
                   fan_in, fan_out, out);
            activate(out, rows * fan_out, bank.capped[k] != 0);
            in = out;
        }
        const std::size_t fan_in = bank.sizes[layers - 1];
        affine_single(in, bank.weights[layers - 1] + k * fan_in, bank.biases[layers - 1][k], rows,
                      fan_in, last.data());
        std::copy(last.begin(), last.end(), outputs + k * rows);
    }
}

void subnet_backward(const SubnetBankView& bank, const float* inputs,
                     const std::vector<const float*>& hidden, const double* d_outputs,
                     const std::vector<float*>& grad_weights,
                     const std::vector<float*>& grad_biases) {
    const std::size_t rows = bank.rows, layers = bank.layers();
    const std::size_t widest = *std::max_element(bank.sizes.begin(), bank.sizes.end());
    std::vector<float> delta(rows * widest), delta_in(rows * widest);
    std::vector<float> w_t;
    for (std::size_t k = 0; k < bank.networks; ++k) {
        // the outputs' gradient in single precision, as the layers compute
        for (std::size_t r = 0; r < rows; ++r)
            delta[r] = static_cast<float>(d_outputs[k * rows + r]);
        for (std::size_t l = layers; l-- > 0;) {
            const std::size_t fan_in = bank.sizes[l], fan_out = bank.sizes[l + 1];
            const float* in =
                l == 0 ? inputs + k * rows * bank.sizes[0] : hidden[l - 1] + k * rows * fan_in;
            accumulate_gradients(in, delta.data(), rows, fan_in, fan_out,
                                 grad_weights[l] + k * fan_in * fan_out,
                                 grad_biases[l] + k * fan_out);
            if (l == 0)
                break;
            transpose(bank.weights[l] + k * fan_in * fan_out, fan_in, fan_out, w_t);
            propagate(delta.data(), w_t.data(), in, rows, fan_in, fan_out, bank.capped[k] != 0,
                      delta_in.data());
            delta.swap(delta_in);
        }
    }
}

} // namespace zeka::kernels
