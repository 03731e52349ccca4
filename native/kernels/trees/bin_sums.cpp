#include "kernels/trees/bin_sums.hpp"

#include <algorithm>

namespace zeka::kernels {

namespace {

// One feature's sums of one or two value arrays (the gradients, and the
// hessians unless the caller has them already); the row's bin is checked as
// it is read, which costs less than a separate pass over the columns.
template <std::size_t N>
bool feature_sums(const std::int64_t* column, std::size_t width, const std::int64_t* node_rows,
                  std::size_t count, const double* const* values, double* const* out,
                  std::size_t offset) {
    const auto limit = static_cast<std::uint64_t>(width);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t r = node_rows ? static_cast<std::size_t>(node_rows[i]) : i;
        const auto bin = static_cast<std::uint64_t>(column[r]);
        if (bin >= limit)
            return false;
        for (std::size_t v = 0; v < N; ++v)
            out[v][offset + bin] += values[v][r];
    }
    return true;
}

} // namespace

bool bin_sums(const BinColumns& columns, const std::int64_t* node_rows, std::size_t count,
              const double* const* values, std::size_t n_values, double* const* out) {
    for (std::size_t v = 0; v < n_values; ++v)
        std::fill_n(out[v], columns.features * columns.width, 0.0);
    for (std::size_t j = 0; j < columns.features; ++j) {
        const std::int64_t* column = columns.bins + j * columns.rows;
        const std::size_t offset = j * columns.width;
        const bool ok =
            n_values == 1
                ? feature_sums<1>(column, columns.width, node_rows, count, values, out, offset)
                : feature_sums<2>(column, columns.width, node_rows, count, values, out, offset);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace zeka::kernels
