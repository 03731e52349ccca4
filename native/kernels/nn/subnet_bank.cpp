#include "kernels/nn/subnet_bank.hpp"

#include <algorithm>
#include <cstring>

namespace zeka::kernels {

namespace {

// The loops below run millions of times in a fit; where the compiler supports
// it, each gets a copy for processors with AVX2 and fused multiply-add too,
// picked at load time. The copies round differently (a fused multiply-add
// rounds once), within float32 rounding of each other.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define ZEKA_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define ZEKA_VECTOR_CLONES
#endif

// Eight rows in one vector register (two halves where the processor has only
// 128-bit vectors). The loops work on blocks of rows held in such registers:
// an output's partial results stay in registers over a whole sum, and a sum
// over rows keeps eight partial sums (lane i takes rows i, i + 8, ...), so
// that successive additions do not wait for each other.
constexpr std::size_t kLanes = 8;
typedef float Lanes __attribute__((vector_size(kLanes * sizeof(float))));

// Units computed together, sharing each load of their inputs' rows.
constexpr std::size_t kUnitBlock = 4;

inline Lanes load_lanes(const float* at) {
    Lanes v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

inline void store_lanes(float* at, Lanes v) {
    std::memcpy(at, &v, sizeof v);
}

// out (units, rows) = c @ in (inputs, rows), plus bias[u] when given, where
// unit u's coefficient of input i is c[u * unit_stride + i * input_stride].
// Each value sums its products in input order and adds the bias last, as a
// matrix product followed by a broadcast addition would.
ZEKA_VECTOR_CLONES void mix_rows(const float* __restrict in, std::size_t inputs,
                                 const float* __restrict c, std::size_t unit_stride,
                                 std::size_t input_stride, const float* __restrict bias,
                                 std::size_t units, std::size_t rows, float* __restrict out) {
    auto coef = [&](std::size_t u, std::size_t i) { return c[u * unit_stride + i * input_stride]; };
    std::size_t u = 0;
    for (; u + kUnitBlock <= units; u += kUnitBlock) {
        std::size_t r = 0;
        for (; r + kLanes <= rows; r += kLanes) {
            const Lanes x0 = load_lanes(in + r);
            Lanes z0 = x0 * coef(u, 0), z1 = x0 * coef(u + 1, 0);
            Lanes z2 = x0 * coef(u + 2, 0), z3 = x0 * coef(u + 3, 0);
            for (std::size_t i = 1; i < inputs; ++i) {
                const Lanes xi = load_lanes(in + i * rows + r);
                z0 += xi * coef(u, i);
                z1 += xi * coef(u + 1, i);
                z2 += xi * coef(u + 2, i);
                z3 += xi * coef(u + 3, i);
            }
            if (bias) {
                z0 += bias[u];
                z1 += bias[u + 1];
                z2 += bias[u + 2];
                z3 += bias[u + 3];
            }
            store_lanes(out + u * rows + r, z0);
            store_lanes(out + (u + 1) * rows + r, z1);
            store_lanes(out + (u + 2) * rows + r, z2);
            store_lanes(out + (u + 3) * rows + r, z3);
        }
        for (std::size_t v = u; v < u + kUnitBlock; ++v)
            for (std::size_t q = r; q < rows; ++q) {
                float z = in[q] * coef(v, 0);
                for (std::size_t i = 1; i < inputs; ++i)
                    z += in[i * rows + q] * coef(v, i);
                out[v * rows + q] = bias ? z + bias[v] : z;
            }
    }
    for (; u < units; ++u) {
        float* __restrict z = out + u * rows;
        const float c0 = coef(u, 0);
        for (std::size_t r = 0; r < rows; ++r)
            z[r] = in[r] * c0;
        for (std::size_t i = 1; i < inputs; ++i) {
            const float ci = coef(u, i);
            const float* __restrict x = in + i * rows;
            for (std::size_t r = 0; r < rows; ++r)
                z[r] += x[r] * ci;
        }
        if (bias)
            for (std::size_t r = 0; r < rows; ++r)
                z[r] += bias[u];
    }
}

// One network's layer: out (fan_out, rows) = w^T @ in (fan_in, rows) + b.
void affine(const float* in, const float* w, const float* b, std::size_t rows, std::size_t fan_in,
            std::size_t fan_out, float* out) {
    mix_rows(in, fan_in, w, 1, fan_out, b, fan_out, rows, out);
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

// The lanes added pairwise (three dependent additions, not seven), then the
// rows past the last full block of lanes (x[r] * d[r], or x[r] without d).
inline float lanes_total(Lanes lanes, const float* x, const float* d, std::size_t from,
                         std::size_t rows) {
    float total = ((lanes[0] + lanes[4]) + (lanes[2] + lanes[6])) +
                  ((lanes[1] + lanes[5]) + (lanes[3] + lanes[7]));
    for (std::size_t r = from; r < rows; ++r)
        total += d ? x[r] * d[r] : x[r];
    return total;
}

// sum over rows of x[r].
ZEKA_VECTOR_CLONES float row_sum(const float* __restrict x, std::size_t rows) {
    Lanes sum = {};
    std::size_t r = 0;
    for (; r + kLanes <= rows; r += kLanes)
        sum += load_lanes(x + r);
    return lanes_total(sum, x, nullptr, r, rows);
}

// out[u] = sum over rows of x[r] * d[u * rows + r], for every unit u of d.
ZEKA_VECTOR_CLONES void row_dots(const float* __restrict x, const float* __restrict d,
                                 std::size_t rows, std::size_t units, float* __restrict out) {
    std::size_t u = 0;
    for (; u + kUnitBlock <= units; u += kUnitBlock) {
        const float* d0 = d + u * rows;
        Lanes s0 = {}, s1 = {}, s2 = {}, s3 = {};
        std::size_t r = 0;
        for (; r + kLanes <= rows; r += kLanes) {
            const Lanes xr = load_lanes(x + r);
            s0 += xr * load_lanes(d0 + r);
            s1 += xr * load_lanes(d0 + rows + r);
            s2 += xr * load_lanes(d0 + 2 * rows + r);
            s3 += xr * load_lanes(d0 + 3 * rows + r);
        }
        out[u] = lanes_total(s0, x, d0, r, rows);
        out[u + 1] = lanes_total(s1, x, d0 + rows, r, rows);
        out[u + 2] = lanes_total(s2, x, d0 + 2 * rows, r, rows);
        out[u + 3] = lanes_total(s3, x, d0 + 3 * rows, r, rows);
    }
    for (; u < units; ++u) {
        const float* du = d + u * rows;
        Lanes sum = {};
        std::size_t r = 0;
        for (; r + kLanes <= rows; r += kLanes)
            sum += load_lanes(x + r) * load_lanes(du + r);
        out[u] = lanes_total(sum, x, du, r, rows);
    }
}

// grad_w (fan_in, fan_out) = in @ delta^T and grad_b = the row sums of delta
// (fan_out, rows).
void accumulate_gradients(const float* in, const float* delta, std::size_t rows, std::size_t fan_in,
                          std::size_t fan_out, float* grad_w, float* grad_b) {
    for (std::size_t o = 0; o < fan_out; ++o)
        grad_b[o] = row_sum(delta + o * rows, rows);
    if (fan_out == 1) {
        // an output layer: one pass of the single delta against every input
        // unit, four at a time (the same sums, products taken as d * x)
        row_dots(delta, in, rows, fan_in, grad_w);
        return;
    }
    // grad_w's row j: input unit j's sums against every output unit
    for (std::size_t j = 0; j < fan_in; ++j)
        row_dots(in + j * rows, delta, rows, fan_out, grad_w + j * fan_out);
}

// delta_in (fan_in, rows) = w @ delta (fan_out, rows) where the hidden unit
// that produced `in` passed its gradient on, zero elsewhere.
ZEKA_VECTOR_CLONES void propagate(const float* __restrict delta, const float* __restrict w,
                                  const float* __restrict in, std::size_t rows, std::size_t fan_in,
                                  std::size_t fan_out, bool capped, float* __restrict delta_in) {
    mix_rows(delta, fan_out, w, fan_out, 1, nullptr, fan_in, rows, delta_in);
    for (std::size_t i = 0; i < fan_in * rows; ++i)
        delta_in[i] = passes(in[i], capped) ? delta_in[i] : 0.0f;
}

} // namespace

void subnet_forward(const SubnetBankView& bank, const float* inputs,
                    const std::vector<float*>& hidden, double* outputs) {
    const std::size_t rows = bank.rows, layers = bank.layers();
    std::vector<float> last(rows);
    for (std::size_t k = 0; k < bank.networks; ++k) {
        const float* in = inputs + k * bank.sizes[0] * rows;
        for (std::size_t l = 0; l < layers; ++l) {
            const std::size_t fan_in = bank.sizes[l], fan_out = bank.sizes[l + 1];
            const bool output_layer = l + 1 == layers;
            float* out = output_layer ? last.data() : hidden[l] + k * fan_out * rows;
            affine(in, bank.weights[l] + k * fan_in * fan_out, bank.biases[l] + k * fan_out, rows,
                   fan_in, fan_out, out);
            if (output_layer)
                break;
            activate(out, fan_out * rows, bank.capped[k] != 0);
            in = out;
        }
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
    for (std::size_t k = 0; k < bank.networks; ++k) {
        // the outputs' gradient in single precision, as the layers compute
        for (std::size_t r = 0; r < rows; ++r)
            delta[r] = static_cast<float>(d_outputs[k * rows + r]);
        for (std::size_t l = layers; l-- > 0;) {
            const std::size_t fan_in = bank.sizes[l], fan_out = bank.sizes[l + 1];
            const float* in =
                l == 0 ? inputs + k * fan_in * rows : hidden[l - 1] + k * fan_in * rows;
            const float* w = bank.weights[l] + k * fan_in * fan_out;
            accumulate_gradients(in, delta.data(), rows, fan_in, fan_out,
                                 grad_weights[l] + k * fan_in * fan_out,
                                 grad_biases[l] + k * fan_out);
            if (l == 0)
                break;
            propagate(delta.data(), w, in, rows, fan_in, fan_out, bank.capped[k] != 0,
                      delta_in.data());
            delta.swap(delta_in);
        }
    }
}

} // namespace zeka::kernels
