#include "kernels/interpret/terms.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace zeka::kernels {

std::size_t bin_of(const double* edges, std::size_t count, double x) {
    if (std::isnan(x))
        return count;
    return static_cast<std::size_t>(std::lower_bound(edges, edges + count, x) - edges);
}

namespace {

struct Axis {
    std::size_t feature = 0;
    const double* edges = nullptr;
    std::size_t count = 0;
    bool present = false;
};

Axis axis_of(const StepTerms& terms, std::size_t t, std::size_t k) {
    const std::int64_t* a = terms.axes + (t * 2 + k) * 3;
    Axis axis;
    axis.present = a[0] >= 0;
    if (axis.present) {
        axis.feature = static_cast<std::size_t>(a[0]);
        axis.edges = terms.edges + a[1];
        axis.count = static_cast<std::size_t>(a[2]);
    }
    return axis;
}

std::size_t cell_of(const Axis& a, const Axis& b, const double* row) {
    const std::size_t i = bin_of(a.edges, a.count, row[a.feature]);
    if (!b.present)
        return i;
    return i * (b.count + 1) + bin_of(b.edges, b.count, row[b.feature]);
}

} // namespace

namespace {

// The axes and tables of every term, read once: the loops below go row by row
// (a row of X and of the output stay in cache while every term reads them).
struct Term {
    Axis a, b;
    const double* table = nullptr;
};

std::vector<Term> read_terms(const StepTerms& terms) {
    std::vector<Term> out(terms.terms);
    for (std::size_t t = 0; t < terms.terms; ++t) {
        out[t].a = axis_of(terms, t, 0);
        out[t].b = axis_of(terms, t, 1);
        out[t].table = terms.tables + terms.table_start[t];
    }
    return out;
}

} // namespace

void step_cells(const double* X, std::size_t rows, std::size_t cols, const StepTerms& terms,
                std::int64_t* cells) {
    const std::vector<Term> all = read_terms(terms);
    for (std::size_t r = 0; r < rows; ++r) {
        const double* row = X + r * cols;
        std::int64_t* out = cells + r * terms.terms;
        for (std::size_t t = 0; t < all.size(); ++t)
            out[t] = static_cast<std::int64_t>(cell_of(all[t].a, all[t].b, row));
    }
}

void step_values(const double* X, std::size_t rows, std::size_t cols, const StepTerms& terms,
                 double* values) {
    const std::vector<Term> all = read_terms(terms);
    for (std::size_t r = 0; r < rows; ++r) {
        const double* row = X + r * cols;
        double* out = values + r * terms.terms;
        for (std::size_t t = 0; t < all.size(); ++t)
            out[t] = all[t].table[cell_of(all[t].a, all[t].b, row)];
    }
}

void step_counts(const double* X, std::size_t rows, std::size_t cols, const StepTerms& terms,
                 double* counts, std::size_t n_tables) {
    const std::vector<Term> all = read_terms(terms);
    std::fill(counts, counts + n_tables, 0.0);
    for (std::size_t r = 0; r < rows; ++r) {
        const double* row = X + r * cols;
        for (std::size_t t = 0; t < all.size(); ++t)
            counts[static_cast<std::size_t>(terms.table_start[t]) +
                   cell_of(all[t].a, all[t].b, row)] += 1.0;
    }
}

void step_summary(const double* X, std::size_t rows, std::size_t cols, const StepTerms& terms,
                  double* contributions, double* sum, double* sum_abs) {
    const std::vector<Term> all = read_terms(terms);
    std::fill(contributions, contributions + rows * cols, 0.0);
    std::fill(sum, sum + terms.terms, 0.0);
    std::fill(sum_abs, sum_abs + terms.terms, 0.0);
    for (std::size_t r = 0; r < rows; ++r) {
        const double* row = X + r * cols;
        double* out = contributions + r * cols;
        for (std::size_t t = 0; t < all.size(); ++t) {
            const Term& term = all[t];
            const double v = term.table[cell_of(term.a, term.b, row)];
            sum[t] += v;
            sum_abs[t] += std::fabs(v);
            if (term.b.present) {
                out[term.a.feature] += 0.5 * v;
                out[term.b.feature] += 0.5 * v;
            } else {
                out[term.a.feature] += v;
            }
        }
    }
}

bool cell_sums(const std::int64_t* cells, std::size_t rows, const double* values, std::size_t k,
               std::size_t width, double* sums, double* counts) {
    std::fill(sums, sums + width * k, 0.0);
    std::fill(counts, counts + width, 0.0);
    for (std::size_t r = 0; r < rows; ++r) {
        const std::int64_t c = cells[r];
        if (c < 0 || static_cast<std::size_t>(c) >= width)
            return false;
        const auto cell = static_cast<std::size_t>(c);
        counts[cell] += 1.0;
        for (std::size_t v = 0; v < k; ++v)
            sums[cell * k + v] += values[r * k + v];
    }
    return true;
}

namespace {

// sweeps without a smaller largest mean after which purification stops
constexpr std::size_t kStalledSweeps = 25;

// Subtracts the weighted mean of every row (stride_in = B, stride_out = 1) or
// column of f and adds it to effect; returns the largest mean moved.
double sweep(double* f, const double* w, std::size_t lines, std::size_t length,
             std::size_t line_stride, std::size_t step, double* effect) {
    double largest = 0.0;
    for (std::size_t i = 0; i < lines; ++i) {
        double total = 0.0, weight = 0.0;
        for (std::size_t j = 0; j < length; ++j) {
            const std::size_t at = i * line_stride + j * step;
            total += w[at] * f[at];
            weight += w[at];
        }
        if (!(weight > 0.0))
            continue;
        const double mean = total / weight;
        for (std::size_t j = 0; j < length; ++j)
            f[i * line_stride + j * step] -= mean;
        effect[i] += mean;
        largest = std::max(largest, std::fabs(mean));
    }
    return largest;
}

// Moves the weighted mean of effect (weights: the table's marginal along the
// other axis) into *constant.
void centre(double* effect, const double* w, std::size_t lines, std::size_t length,
            std::size_t line_stride, std::size_t step, double* constant) {
    double total = 0.0, weight = 0.0;
    for (std::size_t i = 0; i < lines; ++i) {
        double marginal = 0.0;
        for (std::size_t j = 0; j < length; ++j)
            marginal += w[i * line_stride + j * step];
        total += marginal * effect[i];
        weight += marginal;
    }
    if (!(weight > 0.0))
        return;
    const double mean = total / weight;
    for (std::size_t i = 0; i < lines; ++i)
        effect[i] -= mean;
    *constant += mean;
}

} // namespace

std::size_t purify(double* f, const double* w, std::size_t A, std::size_t B, double tol,
                   std::size_t max_iter, double* row_effect, double* col_effect, double* constant) {
    std::fill(row_effect, row_effect + A, 0.0);
    std::fill(col_effect, col_effect + B, 0.0);
    *constant = 0.0;
    std::size_t sweeps = 0, stalled = 0;
    double smallest = std::numeric_limits<double>::infinity();
    while (sweeps < max_iter) {
        ++sweeps;
        const double rows_moved = sweep(f, w, A, B, B, 1, row_effect);
        const double cols_moved = sweep(f, w, B, A, 1, B, col_effect);
        const double moved = std::max(rows_moved, cols_moved);
        if (moved <= tol)
            break;
        // the means shrink geometrically until rounding stops them: then no sweep
        // brings them lower, and going on would only spin
        if (moved < smallest) {
            smallest = moved;
            stalled = 0;
        } else if (++stalled >= kStalledSweeps) {
            break;
        }
    }
    centre(row_effect, w, A, B, B, 1, constant);
    centre(col_effect, w, B, A, 1, B, constant);
    return sweeps;
}

void relu_local_linear(const ReluNetwork& net, const double* Z, std::size_t rows, double* out,
                       double* grad, std::int64_t* region) {
    const std::size_t d = net.sizes[0];
    std::size_t widest = d;
    for (std::size_t l = 0; l <= net.layers; ++l)
        widest = std::max(widest, net.sizes[l]);
    // activations of every layer (for the backward pass) and two work vectors
    std::vector<std::vector<double>> act(net.layers + 1);
    for (std::size_t l = 0; l <= net.layers; ++l)
        act[l].assign(net.sizes[l], 0.0);
    std::vector<double> delta(widest), next(widest);
    for (std::size_t r = 0; r < rows; ++r) {
        std::copy(Z + r * d, Z + (r + 1) * d, act[0].begin());
        std::uint64_t hash = 1469598103934665603ULL;
        for (std::size_t l = 0; l < net.layers; ++l) {
            const std::size_t n_in = net.sizes[l], n_out = net.sizes[l + 1];
            const double* W = net.weights[l];
            std::vector<double>& z = act[l + 1];
            for (std::size_t o = 0; o < n_out; ++o)
                z[o] = 0.0;
            for (std::size_t i = 0; i < n_in; ++i) {
                const double a = act[l][i];
                for (std::size_t o = 0; o < n_out; ++o)
                    z[o] += a * W[i * n_out + o];
            }
            const bool hidden = l + 1 < net.layers;
            for (std::size_t o = 0; o < n_out; ++o) {
                z[o] += net.biases[l][o];
                if (hidden) {
                    const bool on = z[o] > 0.0;
                    if (!on)
                        z[o] = 0.0;
                    hash = (hash ^ (on ? 0x9eULL : 0x51ULL)) * 1099511628211ULL;
                }
            }
        }
        out[r] = act[net.layers][0];
        region[r] = static_cast<std::int64_t>(hash & 0x7fffffffffffffffULL);
        // backward: delta over the inputs of layer l, starting from the output
        delta[0] = 1.0;
        for (std::size_t l = net.layers; l-- > 0;) {
            const std::size_t n_in = net.sizes[l], n_out = net.sizes[l + 1];
            const double* W = net.weights[l];
            for (std::size_t i = 0; i < n_in; ++i) {
                double s = 0.0;
                for (std::size_t o = 0; o < n_out; ++o)
                    s += W[i * n_out + o] * delta[o];
                // a hidden unit passes the gradient only where it is positive
                next[i] = (l == 0 || act[l][i] > 0.0) ? s : 0.0;
            }
            std::copy(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(n_in),
                      delta.begin());
        }
        std::copy(delta.begin(), delta.begin() + static_cast<std::ptrdiff_t>(d), grad + r * d);
    }
}

} // namespace zeka::kernels
