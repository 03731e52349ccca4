// Column-wise standardisation of a row-major matrix.
#pragma once

#include <cstddef>
#include <vector>

namespace zeka::kernels {

struct Standardized {
    std::vector<double> values; // rows x dims, row-major
    std::size_t rows = 0;
    std::size_t dims = 0;
    bool all_constant = true; // every column holds a single value
};

// Each column minus its mean, divided by its sample standard deviation
// (divisor rows - 1); a constant column becomes zeros. Throws
// std::invalid_argument naming `name` when a value is NaN or infinite.
Standardized standardize(const double* data, std::size_t rows, std::size_t dims, const char* name);

// The median (mean of the two middle values for an even count) of the
// Euclidean distances between the distinct pairs of the first `rows` rows.
// When that median is 0 (more than half the pairs tie), the median of the
// positive distances; when every distance is 0, sqrt(2 dims), the typical
// distance of standardised data. Needs rows >= 2.
double median_pairwise_distance(const double* data, std::size_t rows, std::size_t dims);

} // namespace zeka::kernels
