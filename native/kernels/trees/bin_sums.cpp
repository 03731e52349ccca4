#include "kernels/trees/bin_sums.hpp"

#include <algorithm>
#include <vector>

namespace zeka::kernels {

namespace {

// One feature's sums of N value arrays (the gradients, and the hessians unless
// the caller has them already) into `lanes` partial histograms, row r adding
// to partial r % lanes; each row's bin is checked as it is read, which costs
// less than a separate pass over the columns.
template <std::size_t N>
bool feature_partials(const std::int64_t* column, std::size_t width, std::size_t lanes,
                      const std::int64_t* node_rows, std::size_t count, const double* const* values,
                      std::vector<double>& partials) {
    const auto limit = static_cast<std::uint64_t>(width);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t r = node_rows ? static_cast<std::size_t>(node_rows[i]) : i;
        const auto bin = static_cast<std::uint64_t>(column[r]);
        if (bin >= limit)
            return false;
        double* lane = partials.data() + (r & (lanes - 1)) * N * width;
        for (std::size_t v = 0; v < N; ++v)
            lane[v * width + bin] += values[v][r];
    }
    return true;
}

} // namespace

bool bin_sums(const BinColumns& columns, const std::int64_t* node_rows, std::size_t count,
              const double* const* values, std::size_t n_values, std::size_t lanes,
              double* const* out) {
    const std::size_t width = columns.width;
    std::vector<double> partials(lanes * n_values * width);
    for (std::size_t j = 0; j < columns.features; ++j) {
        std::fill(partials.begin(), partials.end(), 0.0);
        const std::int64_t* column = columns.bins + j * columns.rows;
        const bool ok =
            n_values == 1
                ? feature_partials<1>(column, width, lanes, node_rows, count, values, partials)
                : feature_partials<2>(column, width, lanes, node_rows, count, values, partials);
        if (!ok)
            return false;
        for (std::size_t v = 0; v < n_values; ++v) {
            double* sums = out[v] + j * width;
            std::copy_n(partials.data() + v * width, width, sums);
            for (std::size_t l = 1; l < lanes; ++l) {
                const double* lane = partials.data() + (l * n_values + v) * width;
                for (std::size_t b = 0; b < width; ++b)
                    sums[b] += lane[b];
            }
        }
    }
    return true;
}

} // namespace zeka::kernels
