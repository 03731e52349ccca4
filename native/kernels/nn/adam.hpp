// The Adam update of parameters held in single or double precision.
#pragma once

#include <cstddef>

namespace zeka::kernels {

struct AdamSettings {
    double beta1 = 0.9;
    double beta2 = 0.999;
    double eps = 1e-8;
    double step_size = 0.0;   // learning rate / (1 - beta1^t)
    double correction2 = 1.0; // 1 - beta2^t
};

// One Adam update of `count` parameters from their gradients, with the moments
// `m` and `v` of those parameters: the same operations, in the same order and
// precision, as the whole-array update in double precision followed by the
// subtraction from the parameters in their own precision.
template <typename Param, typename Grad>
void adam_update(Param* params, const Grad* grads, double* m, double* v, std::size_t count,
                 const AdamSettings& settings);

} // namespace zeka::kernels
