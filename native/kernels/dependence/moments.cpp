#include "kernels/dependence/moments.hpp"

#include <cmath>
#include <stdexcept>
#include <vector>

namespace zeka::kernels {

double dot(const double* a, const double* b, std::size_t count) {
    double s[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    std::size_t r = 0;
    for (; r + 8 <= count; r += 8)
        for (std::size_t k = 0; k < 8; ++k)
            s[k] += a[r + k] * b[r + k];
    for (; r < count; ++r)
        s[0] += a[r] * b[r];
    return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
}

void add_cross_products(const double* a, std::size_t na, const double* b, std::size_t nb,
                        std::size_t count, double* out) {
    for (std::size_t i = 0; i < na; ++i)
        for (std::size_t j = 0; j < nb; ++j)
            out[i * nb + j] += dot(a + i * count, b + j * count, count);
}

void add_gram_upper(const double* a, std::size_t n, std::size_t count, double* out) {
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i; j < n; ++j)
            out[i * n + j] += dot(a + i * count, a + j * count, count);
}

void mirror_upper(double* matrix, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < i; ++j)
            matrix[i * n + j] = matrix[j * n + i];
}

void ridge_solve(const double* a, std::size_t n, double ridge, double* b, std::size_t m) {
    // Lower factor L with A + ridge I = L L^T.
    std::vector<double> l(n * n, 0.0);
    for (std::size_t j = 0; j < n; ++j) {
        double pivot = a[j * n + j] + ridge;
        for (std::size_t k = 0; k < j; ++k)
            pivot -= l[j * n + k] * l[j * n + k];
        if (!(pivot > 0.0))
            throw std::domain_error(
                "the ridge regression on the conditioning features is singular");
        const double diagonal = std::sqrt(pivot);
        l[j * n + j] = diagonal;
        for (std::size_t i = j + 1; i < n; ++i) {
            double v = a[i * n + j];
            for (std::size_t k = 0; k < j; ++k)
                v -= l[i * n + k] * l[j * n + k];
            l[i * n + j] = v / diagonal;
        }
    }
    for (std::size_t c = 0; c < m; ++c) {
        for (std::size_t i = 0; i < n; ++i) { // L y = b
            double v = b[i * m + c];
            for (std::size_t k = 0; k < i; ++k)
                v -= l[i * n + k] * b[k * m + c];
            b[i * m + c] = v / l[i * n + i];
        }
        for (std::size_t i = n; i-- > 0;) { // L^T x = y
            double v = b[i * m + c];
            for (std::size_t k = i + 1; k < n; ++k)
                v -= l[k * n + i] * b[k * m + c];
            b[i * m + c] = v / l[i * n + i];
        }
    }
}

} // namespace zeka::kernels
