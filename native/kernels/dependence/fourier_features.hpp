// Random Fourier features of the Gaussian kernel (Rahimi and Recht):
// phi_j(v) = sqrt(2) cos(w_j . v + b_j) with w_j ~ N(0, I / width^2) and
// b_j ~ U[0, 2 pi), so that E[phi(u) . phi(v)] = exp(-|u - v|^2 / (2 width^2)).
#pragma once

#include "kernels/core/random.hpp"

#include <cstddef>
#include <vector>

namespace zeka::kernels {

struct FourierMap {
    std::size_t features = 0;
    std::size_t dims = 0;
    std::vector<double> weights; // features x dims, row-major, already divided by the width
    std::vector<double> phases;  // one per feature
};

// Draws a map from `rng`: the weights feature by feature (dims normals each),
// then the phases.
FourierMap draw_fourier_map(Random& rng, std::size_t features, std::size_t dims, double width);

// The features of `count` rows of the row-major matrix `rows` (dims columns),
// written feature-major: out[j * count + r] is feature j of row r.
void evaluate_fourier_block(const FourierMap& map, const double* rows, std::size_t count,
                            double* out);

} // namespace zeka::kernels
