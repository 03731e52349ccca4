#include "kernels/dependence/standardize.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace zeka::kernels {

namespace {

void reject_non_finite(const double* data, std::size_t count, const char* name) {
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isfinite(data[i]))
            throw std::invalid_argument(std::string(name) +
                                        " contains NaN or infinity; the test needs finite values");
}

// The power of two (its exponent) that brings a column's largest magnitude
// near 1 when its squares (times the row count) would overflow or vanish,
// else 0. Scaling by a power of two is exact, and a correlation does not
// depend on scale, so an ordinary column keeps its bits and an extreme one
// its standardised values.
int exact_rescaling(const double* data, std::size_t rows, std::size_t dims, std::size_t k) {
    double largest = 0.0;
    for (std::size_t r = 0; r < rows; ++r)
        largest = std::max(largest, std::fabs(data[r * dims + k]));
    int exponent = 0;
    std::frexp(largest, &exponent);
    constexpr int ordinary = 480;
    return exponent > -ordinary && exponent < ordinary ? 0 : -exponent;
}

// The median of `values` (reordered in place); `values` must not be empty.
double median_of(std::vector<double>& values) {
    const std::size_t half = values.size() / 2;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(half);
    std::nth_element(values.begin(), middle, values.end());
    const double upper = *middle;
    if (values.size() % 2 == 1)
        return upper;
    const double lower = *std::max_element(values.begin(), middle);
    return 0.5 * (lower + upper);
}

} // namespace

Standardized standardize(const double* data, std::size_t rows, std::size_t dims, const char* name) {
    reject_non_finite(data, rows * dims, name);
    Standardized out;
    out.rows = rows;
    out.dims = dims;
    out.values.assign(data, data + rows * dims);
    for (std::size_t k = 0; k < dims; ++k) {
        // ldexp, not a factor: 2**1074 (for the smallest subnormal) is no double.
        const int rescaling = exact_rescaling(data, rows, dims, k);
        double* column = out.values.data() + k;
        if (rescaling != 0)
            for (std::size_t r = 0; r < rows; ++r)
                column[r * dims] = std::ldexp(column[r * dims], rescaling);
        double mean = 0.0;
        for (std::size_t r = 0; r < rows; ++r)
            mean += column[r * dims];
        mean /= static_cast<double>(rows);
        double squares = 0.0;
        bool constant = true;
        for (std::size_t r = 0; r < rows; ++r) {
            const double d = column[r * dims] - mean;
            squares += d * d;
            constant = constant && column[r * dims] == column[0];
        }
        // An exactly constant column is zeros (its rounded deviations need not be).
        const double scale =
            constant ? 0.0 : 1.0 / std::sqrt(squares / (static_cast<double>(rows) - 1.0));
        out.all_constant = out.all_constant && constant;
        for (std::size_t r = 0; r < rows; ++r)
            column[r * dims] = (column[r * dims] - mean) * scale;
    }
    return out;
}

double median_pairwise_distance(const double* data, std::size_t rows, std::size_t dims) {
    if (rows < 2)
        throw std::invalid_argument("the median distance needs at least two rows");
    std::vector<double> distances;
    distances.reserve(rows * (rows - 1) / 2);
    for (std::size_t a = 0; a < rows; ++a)
        for (std::size_t b = a + 1; b < rows; ++b) {
            double squares = 0.0;
            for (std::size_t k = 0; k < dims; ++k) {
                const double d = data[a * dims + k] - data[b * dims + k];
                squares += d * d;
            }
            distances.push_back(std::sqrt(squares));
        }
    const double median = median_of(distances);
    if (median > 0.0)
        return median;
    distances.erase(std::remove(distances.begin(), distances.end(), 0.0), distances.end());
    return distances.empty() ? std::sqrt(2.0 * static_cast<double>(dims)) : median_of(distances);
}

} // namespace zeka::kernels
