#include "kernels/outliers/outlier_scores.hpp"

#include <algorithm>

namespace zeka::kernels {

bool cross_tables(const std::int64_t* codes, std::size_t n, std::size_t d, std::size_t width,
                  const std::int64_t* node_rows, std::size_t count, const double* w,
                  const double* values, double* counts, double* sums) {
    std::fill(counts, counts + d * width * d * width, 0.0);
    if (values)
        std::fill(sums, sums + d * width * d, 0.0);
    const auto limit = static_cast<std::uint64_t>(width);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t r = node_rows ? static_cast<std::size_t>(node_rows[i]) : i;
        if (r >= n)
            return false;
        const std::int64_t* code = codes + r * d;
        for (std::size_t j = 0; j < d; ++j)
            if (static_cast<std::uint64_t>(code[j]) >= limit)
                return false;
        const double weight = w ? w[r] : 1.0;
        const double* value = values ? values + r * d : nullptr;
        for (std::size_t j = 0; j < d; ++j) {
            const auto b = static_cast<std::size_t>(code[j]);
            double* table = counts + (j * width + b) * d * width;
            for (std::size_t l = 0; l < d; ++l)
                table[l * width + static_cast<std::size_t>(code[l])] += weight;
            if (value) {
                double* s = sums + (j * width + b) * d;
                for (std::size_t l = 0; l < d; ++l)
                    s[l] += weight * value[l];
            }
        }
    }
    return true;
}

} // namespace zeka::kernels
