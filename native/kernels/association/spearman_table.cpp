// Spearman's rank correlation of every pair of numerical columns, computed
// as pandas' DataFrame.corr(method="spearman") does, sum for sum: each
// column is ranked once; a pair whose columns miss different rows ranks its
// common rows again (from the column's sort order, in linear time), and the
// correlation of the ranks sums the products in row order about the mean
// rank (n + 1) / 2.
#include "kernels/association/association_tables.hpp"
#include "kernels/association/table_support.hpp"

#include <algorithm>
#include <cmath>

namespace zeka::kernels {

namespace {

using tables::RowMask;

struct RankedColumn {
    const double* values = nullptr;
    RowMask finite; // the rows that take part in the column's pairs
    std::size_t n_finite = 0;
    std::vector<std::uint32_t> order; // rows with a value (not NaN), by value
    std::vector<double> ranks;        // average ranks among those rows; NaN elsewhere
    bool complete = false;            // every value finite
    double self_sum = 0; // complete columns: sum of squared centred ranks, in row order
};

// Average ranks (1-based, ties sharing the mean of their places) of the
// listed rows, taken in sorted order, written at their rows of `ranks`.
template <class Rows>
void rank_in_order(const double* values, const Rows& sorted, std::size_t count, double* ranks) {
    for (std::size_t start = 0; start < count;) {
        std::size_t end = start + 1;
        while (end < count && values[sorted[end]] == values[sorted[start]])
            ++end;
        double rank = static_cast<double>(start + 1 + end) / 2;
        for (std::size_t i = start; i < end; ++i)
            ranks[sorted[i]] = rank;
        start = end;
    }
}

RankedColumn rank_column(const double* values, std::size_t rows) {
    RankedColumn c;
    c.values = values;
    c.finite = RowMask(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        if (std::isfinite(values[i])) {
            c.finite.add(i);
            ++c.n_finite;
        }
        if (!std::isnan(values[i]))
            c.order.push_back(static_cast<std::uint32_t>(i));
    }
    std::sort(c.order.begin(), c.order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
    c.ranks.assign(rows, tables::kNaN);
    rank_in_order(values, c.order, c.order.size(), c.ranks.data());
    c.complete = c.n_finite == rows;
    if (c.complete) {
        double mean = static_cast<double>(rows + 1) / 2;
        for (double& r : c.ranks) {
            r -= mean; // complete columns keep their centred ranks
            c.self_sum += r * r;
        }
    }
    return c;
}

double correlation_of(double sum_xy, double sum_xx, double sum_yy) {
    double divisor = std::sqrt(sum_xx * sum_yy);
    return divisor != 0 ? sum_xy / divisor : tables::kNaN;
}

// Centred-rank products of column x with up to four complete columns at
// once: four independent sums, each still in row order.
void cross_sums(const double* x, const double* const* ys, std::size_t count, std::size_t rows,
                double* sums) {
    double s[4] = {0, 0, 0, 0};
    const double* y[4];
    for (std::size_t k = 0; k < 4; ++k)
        y[k] = ys[k < count ? k : 0];
    for (std::size_t i = 0; i < rows; ++i) {
        double v = x[i];
        s[0] += v * y[0][i];
        s[1] += v * y[1][i];
        s[2] += v * y[2][i];
        s[3] += v * y[3][i];
    }
    std::copy(s, s + count, sums);
}

// A pair with a column that misses values.
class IncompletePair {
  public:
    explicit IncompletePair(std::size_t rows) : in_common_(rows, 0), rank_x_(rows), rank_y_(rows) {}

    double operator()(const RankedColumn& x, const RankedColumn& y) {
        std::size_t n = x.finite.common(y.finite, common_);
        if (n == 0)
            return tables::kNaN;
        // Columns that miss the same rows keep their ranks (pandas does so
        // even where an infinity was ranked and then left out).
        const double* rx = x.ranks.data();
        const double* ry = y.ranks.data();
        if (!(x.finite == y.finite)) {
            for (std::uint32_t i : common_)
                in_common_[i] = 1;
            rx = rerank(x, rank_x_);
            ry = rerank(y, rank_y_);
            for (std::uint32_t i : common_)
                in_common_[i] = 0;
        }
        double mean = static_cast<double>(n + 1) / 2;
        double sum_xy = 0, sum_xx = 0, sum_yy = 0;
        for (std::uint32_t i : common_) {
            double vx = rx[i] - mean, vy = ry[i] - mean;
            sum_xy += vx * vy;
            sum_xx += vx * vx;
            sum_yy += vy * vy;
        }
        return correlation_of(sum_xy, sum_xx, sum_yy);
    }

  private:
    // The column's ranks among the common rows; its own ranks when the
    // common rows are all its ranked rows.
    const double* rerank(const RankedColumn& c, std::vector<double>& out) {
        if (common_.size() == c.order.size())
            return c.ranks.data();
        kept_.clear();
        for (std::uint32_t i : c.order)
            if (in_common_[i])
                kept_.push_back(i);
        rank_in_order(c.values, kept_, kept_.size(), out.data());
        return out.data();
    }

    std::vector<std::uint32_t> common_, kept_;
    std::vector<char> in_common_;
    std::vector<double> rank_x_, rank_y_;
};

} // namespace

void spearman_table(const ValueColumns& columns, const TableSlots& out) {
    tables::check_values(columns);
    tables::check_slots(out, columns.columns);
    std::size_t rows = columns.rows;
    std::vector<RankedColumn> ranked;
    ranked.reserve(columns.columns);
    for (std::size_t c = 0; c < columns.columns; ++c)
        ranked.push_back(rank_column(columns.values + c * rows, rows));

    std::vector<std::size_t> complete;
    for (std::size_t c = 0; c < columns.columns; ++c)
        if (ranked[c].complete)
            complete.push_back(c);
    // Complete pairs: cached sums of squares, cross sums four at a time.
    for (std::size_t p = 0; p < complete.size(); ++p) {
        const RankedColumn& x = ranked[complete[p]];
        for (std::size_t q = 0; q <= p; q += 4) {
            std::size_t count = std::min<std::size_t>(4, p + 1 - q);
            const double* ys[4] = {nullptr, nullptr, nullptr, nullptr};
            double sums[4] = {0, 0, 0, 0};
            for (std::size_t k = 0; k < count; ++k)
                ys[k] = ranked[complete[q + k]].ranks.data();
            cross_sums(x.ranks.data(), ys, count, rows, sums);
            for (std::size_t k = 0; k < count; ++k)
                tables::put(out, complete[p], out, complete[q + k],
                            correlation_of(sums[k], x.self_sum, ranked[complete[q + k]].self_sum));
        }
    }
    IncompletePair incomplete(rows);
    for (std::size_t a = 0; a < columns.columns; ++a)
        for (std::size_t b = 0; b <= a; ++b)
            if (!ranked[a].complete || !ranked[b].complete)
                tables::put(out, a, out, b, incomplete(ranked[a], ranked[b]));
}

} // namespace zeka::kernels
