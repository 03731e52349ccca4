#include "kernels/nn/adam.hpp"

#include <cmath>

namespace zeka::kernels {

namespace {

// The update's loop, with a copy for processors with AVX2 where the compiler
// supports it (four square roots and divisions at a time instead of two).
template <typename Param, typename Grad>
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target_clones("arch=x86-64-v3", "default")))
#endif
void update_loop(Param* params, const Grad* grads, double* m, double* v, std::size_t count,
                 const AdamSettings& settings) {
    const double keep1 = settings.beta1, take1 = 1.0 - settings.beta1;
    const double keep2 = settings.beta2, take2 = 1.0 - settings.beta2;
    for (std::size_t i = 0; i < count; ++i) {
        const double g = static_cast<double>(grads[i]);
        m[i] = m[i] * keep1 + take1 * g;
        v[i] = v[i] * keep2 + take2 * (g * g);
        double update = std::sqrt(v[i] / settings.correction2) + settings.eps;
        update = m[i] / update;
        update *= settings.step_size;
        params[i] = static_cast<Param>(static_cast<double>(params[i]) - update);
    }
}

} // namespace

template <typename Param, typename Grad>
void adam_update(Param* params, const Grad* grads, double* m, double* v, std::size_t count,
                 const AdamSettings& settings) {
    update_loop(params, grads, m, v, count, settings);
}

template void adam_update<float, float>(float*, const float*, double*, double*, std::size_t,
                                        const AdamSettings&);
template void adam_update<float, double>(float*, const double*, double*, double*, std::size_t,
                                         const AdamSettings&);
template void adam_update<double, float>(double*, const float*, double*, double*, std::size_t,
                                         const AdamSettings&);
template void adam_update<double, double>(double*, const double*, double*, double*, std::size_t,
                                          const AdamSettings&);

} // namespace zeka::kernels
