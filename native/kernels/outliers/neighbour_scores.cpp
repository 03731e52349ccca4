#include "kernels/outliers/outlier_scores.hpp"

#include <algorithm>
#include <vector>

namespace zeka::kernels {

namespace {

// The distance of weight unit t (1-based, may be fractional) among the units
// of (distance, weight) pairs: the first pair whose running weight reaches t.
double unit_distance(const std::vector<double>& dist, const std::vector<double>& weight, double t) {
    double running = 0.0;
    for (std::size_t i = 0; i < dist.size(); ++i) {
        running += weight[i];
        if (running >= t - 1e-9)
            return dist[i];
    }
    return dist.empty() ? 0.0 : dist.back();
}

double aggregate(const std::vector<double>& dist, const std::vector<double>& weight, std::size_t k,
                 int method) {
    const double kk = static_cast<double>(k);
    if (method == 1)
        return unit_distance(dist, weight, kk);
    if (method == 2) {
        const std::size_t lo = (k + 1) / 2, hi = k / 2 + 1;
        return 0.5 * (unit_distance(dist, weight, static_cast<double>(lo)) +
                      unit_distance(dist, weight, static_cast<double>(hi)));
    }
    double sum = 0.0, taken = 0.0;
    for (std::size_t i = 0; i < dist.size() && taken < kk; ++i) {
        const double take = std::min(weight[i], kk - taken);
        sum += take * dist[i];
        taken += take;
    }
    if (taken < kk && !dist.empty())
        sum += (kk - taken) * dist.back();
    return sum / kk;
}

} // namespace

void neighbour_scores(const double* dist, std::size_t rows, std::size_t m, const double* weights,
                      const double* own, std::size_t k, int method, double* out) {
    std::vector<double> d, w;
    d.reserve(m + 1);
    w.reserve(m + 1);
    for (std::size_t r = 0; r < rows; ++r) {
        const double* row = dist + r * m;
        d.clear();
        w.clear();
        if (own && own[r] > 0.0) {
            d.push_back(0.0);
            w.push_back(own[r]);
        }
        const std::size_t used = weights ? m : std::min(k, m);
        for (std::size_t c = 0; c < used; ++c) {
            d.push_back(row[c]);
            w.push_back(weights ? weights[r * m + c] : 1.0);
        }
        out[r] = aggregate(d, w, k, method);
    }
}

} // namespace zeka::kernels
