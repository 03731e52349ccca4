#include "kernels/association/association.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace zeka::kernels {

namespace {

// Tables of joint counts up to this many cells are dense; beyond it the
// pairs are sorted and counted in runs.
constexpr std::size_t kDenseJointLimit = std::size_t{1} << 20;

std::vector<std::int64_t> count_codes(const Codes& x) {
    std::vector<std::int64_t> counts(static_cast<std::size_t>(x.levels));
    for (std::int32_t c : x.codes)
        ++counts[static_cast<std::size_t>(c)];
    return counts;
}

std::vector<std::int64_t> count_pairs(const Codes& x, const Codes& y) {
    std::size_t n = x.codes.size();
    auto width = static_cast<std::size_t>(y.levels);
    std::size_t cells = static_cast<std::size_t>(x.levels) * width;
    if (cells <= kDenseJointLimit) {
        std::vector<std::int64_t> joint(cells);
        for (std::size_t i = 0; i < n; ++i)
            ++joint[static_cast<std::size_t>(x.codes[i]) * width +
                    static_cast<std::size_t>(y.codes[i])];
        return joint;
    }
    std::vector<std::uint64_t> keys(n);
    for (std::size_t i = 0; i < n; ++i)
        keys[i] =
            static_cast<std::uint64_t>(x.codes[i]) * width + static_cast<std::uint64_t>(y.codes[i]);
    std::sort(keys.begin(), keys.end());
    std::vector<std::int64_t> runs;
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        while (j < n && keys[j] == keys[i])
            ++j;
        runs.push_back(static_cast<std::int64_t>(j - i));
        i = j;
    }
    return runs;
}

} // namespace

double entropy_from_counts(const std::int64_t* counts, std::size_t k) {
    // H = log N - (1/N) sum c log c, which needs one pass and no division
    // per cell.
    double total = 0, weighted = 0;
    for (std::size_t i = 0; i < k; ++i) {
        if (counts[i] < 0)
            throw std::invalid_argument("entropy of a negative count");
        if (counts[i] > 0) {
            auto c = static_cast<double>(counts[i]);
            total += c;
            weighted += c * std::log(c);
        }
    }
    return total > 0 ? std::max(0.0, std::log(total) - weighted / total) : 0.0;
}

double uncertainty_from_entropies(double hx, double hy, double hxy) {
    if (hx + hy <= 0)
        return 1.0;
    return std::clamp(2 * (hx + hy - hxy) / (hx + hy), 0.0, 1.0);
}

double symmetric_uncertainty(const Codes& x, const Codes& y) {
    if (x.codes.size() != y.codes.size())
        throw std::invalid_argument("the two columns differ in length");
    std::vector<std::int64_t> cx = count_codes(x), cy = count_codes(y), cxy = count_pairs(x, y);
    double hx = entropy_from_counts(cx.data(), cx.size());
    double hy = entropy_from_counts(cy.data(), cy.size());
    double hxy = entropy_from_counts(cxy.data(), cxy.size());
    return uncertainty_from_entropies(hx, hy, hxy);
}

Spread spread_of(const double* y, std::size_t n) {
    Spread spread;
    // A NaN never equals y[0], so a column with NaN is not constant.
    if (n == 0 || std::all_of(y, y + n, [&](double v) { return v == y[0]; }))
        return spread;
    spread.constant = false;
    double total = 0;
    for (std::size_t i = 0; i < n; ++i)
        total += y[i];
    spread.mean = total / static_cast<double>(n);
    for (std::size_t i = 0; i < n; ++i)
        spread.ss_total += (y[i] - spread.mean) * (y[i] - spread.mean);
    return spread;
}

double between_groups(const std::int32_t* codes, std::int32_t levels, const double* y,
                      std::size_t n, double mean) {
    auto k = static_cast<std::size_t>(levels);
    std::vector<double> sums(k);
    std::vector<std::int64_t> sizes(k);
    for (std::size_t i = 0; i < n; ++i) {
        auto g = static_cast<std::size_t>(codes[i]);
        sums[g] += y[i];
        ++sizes[g];
    }
    double ss_between = 0;
    for (std::size_t g = 0; g < k; ++g) {
        if (sizes[g] == 0)
            continue;
        double deviation = sums[g] / static_cast<double>(sizes[g]) - mean;
        ss_between += static_cast<double>(sizes[g]) * deviation * deviation;
    }
    return ss_between;
}

double eta_from_sums(double ss_between, double ss_total) {
    if (std::isnan(ss_total) || std::isnan(ss_between))
        return std::numeric_limits<double>::quiet_NaN();
    if (ss_total <= 0)
        return 0.0;
    return std::sqrt(std::clamp(ss_between / ss_total, 0.0, 1.0));
}

double correlation_ratio(const Codes& groups, const double* y, std::size_t n_values) {
    std::size_t n = groups.codes.size();
    if (n != n_values)
        throw std::invalid_argument("the categories and the measurements differ in length");
    Spread spread = spread_of(y, n);
    if (spread.constant)
        return 0.0; // nothing to explain
    return eta_from_sums(between_groups(groups.codes.data(), groups.levels, y, n, spread.mean),
                         spread.ss_total);
}

} // namespace zeka::kernels
