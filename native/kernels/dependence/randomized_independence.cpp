#include "kernels/dependence/randomized_independence.hpp"

#include "kernels/core/random.hpp"
#include "kernels/dependence/fourier_features.hpp"
#include "kernels/dependence/moments.hpp"
#include "kernels/dependence/null_approximation.hpp"
#include "kernels/dependence/standardize.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zeka::kernels {

namespace {

constexpr std::size_t kBlockRows = 512;
// Added to the diagonal of the z features' correlation matrix: negligible
// against its unit diagonal, and it keeps the Cholesky factorisation clear of
// breakdown when the features are nearly collinear (a low-dimensional z).
constexpr double kRidge = 1e-8;

// One variable's standardised values, Fourier map and feature scaling, with a
// buffer for the features of one block of rows.
struct FeatureSource {
    Standardized data;
    FourierMap map;
    std::vector<double> mean;
    std::vector<double> inverse_sd;
    std::vector<double> block;

    FeatureSource(Standardized values, FourierMap fourier)
        : data(std::move(values)), map(std::move(fourier)), mean(map.features, 0.0),
          inverse_sd(map.features, 1.0), block(kBlockRows * map.features) {}

    std::size_t features() const { return map.features; }

    // The features of rows [begin, begin + count), centred and scaled by the
    // current mean and inverse_sd, into `block` (column-major).
    const double* evaluate(std::size_t begin, std::size_t count) {
        evaluate_fourier_block(map, data.values.data() + begin * data.dims, count, block.data());
        for (std::size_t j = 0; j < map.features; ++j) {
            double* column = block.data() + j * count;
            for (std::size_t r = 0; r < count; ++r)
                column[r] = (column[r] - mean[j]) * inverse_sd[j];
        }
        return block.data();
    }

    // Sets the feature means from one pass over the rows.
    void fit_means() {
        std::vector<double> sums(map.features, 0.0);
        for (std::size_t begin = 0; begin < data.rows; begin += kBlockRows) {
            const std::size_t count = std::min(kBlockRows, data.rows - begin);
            const double* f = evaluate(begin, count);
            for (std::size_t j = 0; j < map.features; ++j)
                for (std::size_t r = 0; r < count; ++r)
                    sums[j] += f[j * count + r];
        }
        for (std::size_t j = 0; j < map.features; ++j)
            mean[j] = sums[j] / static_cast<double>(data.rows);
    }

    // Sets inverse_sd from the sums of squares of the centred features (a
    // feature without spread gets 0, so it contributes nothing).
    void set_scale(const std::vector<double>& squares) {
        for (std::size_t j = 0; j < map.features; ++j)
            inverse_sd[j] =
                squares[j] > 0.0
                    ? 1.0 / std::sqrt(squares[j] / (static_cast<double>(data.rows) - 1.0))
                    : 0.0;
    }
};

void require(bool condition, const std::string& message) {
    if (!condition)
        throw std::invalid_argument(message);
}

void check_shapes(const MatrixView& x, const MatrixView& y, const MatrixView& z,
                  const IndependenceTestSettings& settings) {
    require(x.rows >= 2, "the test needs at least 2 rows; x has " + std::to_string(x.rows));
    require(y.rows == x.rows, "x and y must have the same number of rows; x has " +
                                  std::to_string(x.rows) + ", y has " + std::to_string(y.rows));
    require(!z.data || z.rows == x.rows, "z must have as many rows as x; x has " +
                                             std::to_string(x.rows) + ", z has " +
                                             std::to_string(z.rows));
    require(x.cols >= 1 && y.cols >= 1 && (!z.data || z.cols >= 1),
            "x, y and z need at least one column");
    require(settings.features >= 1 && settings.conditioning_features >= 1,
            "num_f and num_f2 must be at least 1");
    require(settings.width_rows >= 2, "n_subsamples must be at least 2");
}

FeatureSource make_source(Standardized values, std::size_t features, std::size_t width_rows,
                          Random& rng) {
    const std::size_t rows = std::min(width_rows, values.rows);
    const double width = median_pairwise_distance(values.values.data(), rows, values.dims);
    FourierMap map = draw_fourier_map(rng, features, values.dims, width);
    return FeatureSource(std::move(values), std::move(map));
}

// Sums of squares of each centred feature over all rows.
std::vector<double> sums_of_squares(FeatureSource& source) {
    std::vector<double> squares(source.features(), 0.0);
    for (std::size_t begin = 0; begin < source.data.rows; begin += kBlockRows) {
        const std::size_t count = std::min(kBlockRows, source.data.rows - begin);
        const double* f = source.evaluate(begin, count);
        for (std::size_t j = 0; j < source.features(); ++j)
            squares[j] += dot(f + j * count, f + j * count, count);
    }
    return squares;
}

// Sums over the rows of (rx_i ry_j)(rx_k ry_l), the Gram matrix of the
// feature products, computed as the cross products of the pairwise products
// rx_i rx_k and ry_j ry_l: (nx (nx + 1) / 2) (ny (ny + 1) / 2) sums instead of
// about (nx ny)^2 / 2, and no block of all nx ny products.
class ProductGram {
  public:
    ProductGram(std::size_t nx, std::size_t ny)
        : nx_(nx), ny_(ny), x_pairs_(nx * (nx + 1) / 2), y_pairs_(ny * (ny + 1) / 2),
          sums_(x_pairs_ * y_pairs_, 0.0), x_block_(kBlockRows * x_pairs_),
          y_block_(kBlockRows * y_pairs_) {}

    void add(const double* rx, const double* ry, std::size_t count) {
        pairwise_products(rx, nx_, count, x_block_.data());
        pairwise_products(ry, ny_, count, y_block_.data());
        add_cross_products(x_block_.data(), x_pairs_, y_block_.data(), y_pairs_, count,
                           sums_.data());
    }

    // The full (nx ny) x (nx ny) matrix, product (i, j) at index i * ny + j.
    std::vector<double> matrix() const {
        const std::size_t p = nx_ * ny_;
        std::vector<double> gram(p * p);
        for (std::size_t i = 0; i < nx_; ++i)
            for (std::size_t j = 0; j < ny_; ++j)
                for (std::size_t k = 0; k < nx_; ++k)
                    for (std::size_t l = 0; l < ny_; ++l)
                        gram[(i * ny_ + j) * p + k * ny_ + l] =
                            sums_[pair_index(i, k, nx_) * y_pairs_ + pair_index(j, l, ny_)];
        return gram;
    }

  private:
    // Position of the pair {a, b} in the order (0,0), (0,1), ..., (0,n-1), (1,1), ...
    static std::size_t pair_index(std::size_t a, std::size_t b, std::size_t n) {
        if (a > b)
            std::swap(a, b);
        return a * (2 * n - a + 1) / 2 + (b - a);
    }

    static void pairwise_products(const double* f, std::size_t n, std::size_t count, double* out) {
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t b = a; b < n; ++b, out += count)
                for (std::size_t r = 0; r < count; ++r)
                    out[r] = f[a * count + r] * f[b * count + r];
    }

    std::size_t nx_, ny_, x_pairs_, y_pairs_;
    std::vector<double> sums_, x_block_, y_block_;
};

// residual_i = feature_i - sum_k z_k coefficients[k, i] for one block.
void subtract_regression(const double* zf, std::size_t nz, const std::vector<double>& coefficients,
                         std::size_t n, std::size_t count, double* features) {
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < nz; ++k) {
            const double c = coefficients[k * n + i];
            const double* zk = zf + k * count;
            double* column = features + i * count;
            for (std::size_t r = 0; r < count; ++r)
                column[r] -= c * zk[r];
        }
}

// Statistic and p-value from the feature covariance (nx x ny, divisor n - 1)
// and the Gram matrix of the feature products (not yet divided by n).
IndependenceTestResult finish(const std::vector<double>& covariance, std::vector<double> gram,
                              std::size_t products, std::size_t rows) {
    const double n = static_cast<double>(rows);
    double squares = 0.0;
    for (double c : covariance)
        squares += c * c;
    for (double& g : gram)
        g /= n;
    IndependenceTestResult result;
    result.statistic = n * squares;
    result.p_value = hall_buckley_eagleson_pvalue(gram.data(), products, result.statistic);
    return result;
}

IndependenceTestResult unconditional_test(FeatureSource& fx, FeatureSource& fy) {
    const std::size_t rows = fx.data.rows, nx = fx.features(), ny = fy.features();
    fx.fit_means();
    fy.fit_means();
    // One pass for the variances, the cross products and the Gram matrix of
    // the products, all of centred features; the scaling comes afterwards.
    std::vector<double> sx(nx, 0.0), sy(ny, 0.0), cross(nx * ny, 0.0);
    ProductGram product_gram(nx, ny);
    for (std::size_t begin = 0; begin < rows; begin += kBlockRows) {
        const std::size_t count = std::min(kBlockRows, rows - begin);
        const double* ex = fx.evaluate(begin, count);
        const double* ey = fy.evaluate(begin, count);
        for (std::size_t i = 0; i < nx; ++i)
            sx[i] += dot(ex + i * count, ex + i * count, count);
        for (std::size_t j = 0; j < ny; ++j)
            sy[j] += dot(ey + j * count, ey + j * count, count);
        add_cross_products(ex, nx, ey, ny, count, cross.data());
        product_gram.add(ex, ey, count);
    }
    fx.set_scale(sx);
    fy.set_scale(sy);
    const std::size_t p = nx * ny;
    std::vector<double> product_scale(p);
    for (std::size_t i = 0; i < nx; ++i)
        for (std::size_t j = 0; j < ny; ++j) {
            product_scale[i * ny + j] = fx.inverse_sd[i] * fy.inverse_sd[j];
            cross[i * ny + j] *= product_scale[i * ny + j] / (static_cast<double>(rows) - 1.0);
        }
    std::vector<double> gram = product_gram.matrix();
    for (std::size_t a = 0; a < p; ++a)
        for (std::size_t b = 0; b < p; ++b)
            gram[a * p + b] *= product_scale[a] * product_scale[b];
    return finish(cross, std::move(gram), p, rows);
}

IndependenceTestResult conditional_test(FeatureSource& fx, FeatureSource& fy, FeatureSource& fz) {
    const std::size_t rows = fx.data.rows;
    const std::size_t nx = fx.features(), ny = fy.features(), nz = fz.features();
    for (FeatureSource* source : {&fx, &fy, &fz}) {
        source->fit_means();
        source->set_scale(sums_of_squares(*source));
    }
    // Correlations of the standardised features, summed in one pass.
    std::vector<double> cxy(nx * ny, 0.0), czx(nz * nx, 0.0), czy(nz * ny, 0.0), czz(nz * nz, 0.0);
    for (std::size_t begin = 0; begin < rows; begin += kBlockRows) {
        const std::size_t count = std::min(kBlockRows, rows - begin);
        const double* ex = fx.evaluate(begin, count);
        const double* ey = fy.evaluate(begin, count);
        const double* ez = fz.evaluate(begin, count);
        add_cross_products(ex, nx, ey, ny, count, cxy.data());
        add_cross_products(ez, nz, ex, nx, count, czx.data());
        add_cross_products(ez, nz, ey, ny, count, czy.data());
        add_gram_upper(ez, nz, count, czz.data());
    }
    mirror_upper(czz.data(), nz);
    for (auto* m : {&cxy, &czx, &czy, &czz})
        for (double& v : *m)
            v /= static_cast<double>(rows) - 1.0;
    // Ridge coefficients of the x and y features on the z features.
    std::vector<double> ax = czx, ay = czy;
    ridge_solve(czz.data(), nz, kRidge, ax.data(), nx);
    ridge_solve(czz.data(), nz, kRidge, ay.data(), ny);
    // Covariance of the residuals: Cxy - Cxz Czz^-1 Czy.
    for (std::size_t i = 0; i < nx; ++i)
        for (std::size_t j = 0; j < ny; ++j)
            for (std::size_t k = 0; k < nz; ++k)
                cxy[i * ny + j] -= czx[k * nx + i] * ay[k * ny + j];
    ProductGram product_gram(nx, ny);
    std::vector<double> rx(kBlockRows * nx), ry(kBlockRows * ny);
    for (std::size_t begin = 0; begin < rows; begin += kBlockRows) {
        const std::size_t count = std::min(kBlockRows, rows - begin);
        std::copy_n(fx.evaluate(begin, count), count * nx, rx.begin());
        std::copy_n(fy.evaluate(begin, count), count * ny, ry.begin());
        const double* ez = fz.evaluate(begin, count);
        subtract_regression(ez, nz, ax, nx, count, rx.data());
        subtract_regression(ez, nz, ay, ny, count, ry.data());
        product_gram.add(rx.data(), ry.data(), count);
    }
    return finish(cxy, product_gram.matrix(), nx * ny, rows);
}

} // namespace

IndependenceTestResult randomized_independence_test(MatrixView x, MatrixView y, MatrixView z,
                                                    const IndependenceTestSettings& settings) {
    check_shapes(x, y, z, settings);
    Standardized sx = standardize(x.data, x.rows, x.cols, "x");
    Standardized sy = standardize(y.data, y.rows, y.cols, "y");
    Standardized sz;
    if (z.data)
        sz = standardize(z.data, z.rows, z.cols, "z");
    if (sx.all_constant || sy.all_constant)
        return IndependenceTestResult{};
    Random rng(settings.seed);
    FeatureSource fx = make_source(std::move(sx), settings.features, settings.width_rows, rng);
    FeatureSource fy = make_source(std::move(sy), settings.features, settings.width_rows, rng);
    if (!z.data || sz.all_constant)
        return unconditional_test(fx, fy);
    FeatureSource fz =
        make_source(std::move(sz), settings.conditioning_features, settings.width_rows, rng);
    return conditional_test(fx, fy, fz);
}

} // namespace zeka::kernels
