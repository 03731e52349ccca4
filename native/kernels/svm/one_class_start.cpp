#include "kernels/svm/one_class_start.hpp"

#include <algorithm>

namespace zeka::kernels {

// Built without floating-point contraction (ISO C++ mode), so each product
// and sum rounds as it does in the solver.
bool one_class_start_overruns(const double* weights, std::size_t count, double nu) {
    double total = 0.0;
    for (std::size_t i = 0; i < count; ++i)
        if (weights[i] > 0)
            total += weights[i] * nu;
    for (std::size_t i = 0; i < count && total > 0; ++i)
        if (weights[i] > 0)
            total -= std::min(weights[i], total);
    return total > 0;
}

} // namespace zeka::kernels
