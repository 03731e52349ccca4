#include "kernels/dependence/fourier_features.hpp"

#include "kernels/dependence/cosine.hpp"

#include <cmath>

namespace zeka::kernels {

constexpr double kTwoPi = 6.283185307179586476925286766559;

FourierMap draw_fourier_map(Random& rng, std::size_t features, std::size_t dims, double width) {
    FourierMap map;
    map.features = features;
    map.dims = dims;
    map.weights.resize(features * dims);
    for (double& w : map.weights)
        w = rng.normal() / width;
    map.phases.resize(features);
    for (double& b : map.phases)
        b = kTwoPi * rng.uniform();
    return map;
}

void evaluate_fourier_block(const FourierMap& map, const double* rows, std::size_t count,
                            double* out) {
    const double scale = std::sqrt(2.0);
    for (std::size_t j = 0; j < map.features; ++j) {
        double* feature = out + j * count;
        const double* w = map.weights.data() + j * map.dims;
        for (std::size_t r = 0; r < count; ++r)
            feature[r] = map.phases[j];
        for (std::size_t k = 0; k < map.dims; ++k)
            for (std::size_t r = 0; r < count; ++r)
                feature[r] += w[k] * rows[r * map.dims + k];
        cosine_in_place(feature, count);
        for (std::size_t r = 0; r < count; ++r)
            feature[r] *= scale;
    }
}

} // namespace zeka::kernels
