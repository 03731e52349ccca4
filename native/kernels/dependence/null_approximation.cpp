#include "kernels/dependence/null_approximation.hpp"

#include "kernels/dependence/gamma.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zeka::kernels {

double hall_buckley_eagleson_pvalue(const double* covariance, std::size_t size, double statistic) {
    double trace1 = 0.0, trace2 = 0.0, trace3 = 0.0;
    std::vector<double> square(size * size, 0.0);
    for (std::size_t i = 0; i < size; ++i) {
        trace1 += covariance[i * size + i];
        for (std::size_t k = 0; k < size; ++k) {
            const double c = covariance[i * size + k];
            trace2 += c * covariance[k * size + i];
            for (std::size_t j = 0; j < size; ++j)
                square[i * size + j] += c * covariance[k * size + j];
        }
    }
    for (std::size_t i = 0; i < size; ++i)
        for (std::size_t j = 0; j < size; ++j)
            trace3 += square[i * size + j] * covariance[j * size + i];
    if (!(trace2 > 0.0) || !(trace3 > 0.0))
        return 1.0;
    // Cumulants of sum lambda_i chi2_1, matched by a + b chi2_nu.
    const double k1 = trace1, k2 = 2.0 * trace2, k3 = 8.0 * trace3;
    const double nu = 8.0 * k2 * k2 * k2 / (k3 * k3);
    const double on_chi_square_scale = std::sqrt(2.0 * nu / k2) * (statistic - k1) + nu;
    return std::clamp(chi_square_survival(on_chi_square_scale, nu), 0.0, 1.0);
}

} // namespace zeka::kernels
