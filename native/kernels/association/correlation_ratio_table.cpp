// The correlation ratio of every numerical column given every categorical
// column. Each pair gives bit for bit what correlation_ratio gives for the
// factorised codes and the measurements of its common rows; the spread of a
// column without missing values is computed once for all its pairs.
#include "kernels/association/association.hpp"
#include "kernels/association/association_tables.hpp"
#include "kernels/association/table_support.hpp"

#include <algorithm>
#include <cmath>

namespace zeka::kernels {

namespace {

using tables::RowMask;

// factorize keeps codes below this as they are; higher codes are
// renumbered there, so such pairs are measured through factorize itself.
constexpr std::int32_t kDirectCodeLimit = 1 << 16;

struct Measurements {
    const double* values = nullptr;
    RowMask present; // rows whose value is not NaN
    std::size_t n_present = 0;
    Spread spread; // over all rows; used when none is missing
};

struct Groups {
    const std::int32_t* codes = nullptr;
    std::int32_t levels = 0; // largest code + 1
    RowMask present;
    std::size_t n_present = 0;
};

Measurements describe_values(const double* values, std::size_t rows) {
    Measurements m;
    m.values = values;
    m.present = RowMask(rows);
    for (std::size_t i = 0; i < rows; ++i)
        if (!std::isnan(values[i])) {
            m.present.add(i);
            ++m.n_present;
        }
    if (m.n_present == rows)
        m.spread = spread_of(values, rows);
    return m;
}

Groups describe_groups(const std::int32_t* codes, std::size_t rows) {
    Groups g;
    g.codes = codes;
    g.present = RowMask(rows);
    for (std::size_t i = 0; i < rows; ++i)
        if (codes[i] >= 0) {
            g.present.add(i);
            ++g.n_present;
            g.levels = std::max(g.levels, codes[i] + 1);
        }
    return g;
}

class PairRatio {
  public:
    explicit PairRatio(std::size_t rows) : rows_(rows) {}

    double operator()(const Measurements& y, const Groups& groups) {
        if (groups.levels > kDirectCodeLimit)
            return through_factorize(y, groups);
        if (y.n_present == rows_ && groups.n_present == rows_) {
            if (y.spread.constant)
                return rows_ == 0 ? tables::kNaN : 0.0;
            return eta_from_sums(
                between_groups(groups.codes, groups.levels, y.values, rows_, y.spread.mean),
                y.spread.ss_total);
        }
        if (!gather(y, groups))
            return tables::kNaN;
        Spread spread = spread_of(values_.data(), values_.size());
        if (spread.constant)
            return 0.0;
        return eta_from_sums(between_groups(codes_.data(), groups.levels, values_.data(),
                                            values_.size(), spread.mean),
                             spread.ss_total);
    }

  private:
    // The pair's common rows into codes_ and values_; false when there is none.
    bool gather(const Measurements& y, const Groups& groups) {
        codes_.clear();
        values_.clear();
        y.present.common(groups.present, common_);
        for (std::uint32_t i : common_) {
            codes_.push_back(groups.codes[i]);
            values_.push_back(y.values[i]);
        }
        return !common_.empty();
    }

    double through_factorize(const Measurements& y, const Groups& groups) {
        if (!gather(y, groups))
            return tables::kNaN;
        std::vector<double> as_values(codes_.begin(), codes_.end());
        return correlation_ratio(factorize(as_values.data(), as_values.size()), values_.data(),
                                 values_.size());
    }

    std::size_t rows_;
    std::vector<std::uint32_t> common_;
    std::vector<std::int32_t> codes_;
    std::vector<double> values_;
};

} // namespace

void correlation_ratio_table(const ValueColumns& measurements, const TableSlots& measurement_out,
                             const CodeColumns& groups, const TableSlots& group_out) {
    tables::check_values(measurements);
    tables::check_codes(groups);
    if (measurements.rows != groups.rows)
        throw std::invalid_argument("the measurements and the categories differ in rows");
    tables::check_slots(measurement_out, measurements.columns);
    tables::check_slots(group_out, groups.columns);
    if (measurements.columns > 0 && groups.columns > 0 &&
        (measurement_out.cells != group_out.cells || measurement_out.stride != group_out.stride))
        throw std::invalid_argument("the two kinds of columns must share one output table");
    std::size_t rows = groups.rows;
    std::vector<Groups> described;
    described.reserve(groups.columns);
    for (std::size_t c = 0; c < groups.columns; ++c)
        described.push_back(describe_groups(groups.codes + c * rows, rows));
    PairRatio ratio(rows);
    for (std::size_t a = 0; a < measurements.columns; ++a) {
        Measurements y = describe_values(measurements.values + a * rows, rows);
        for (std::size_t b = 0; b < groups.columns; ++b)
            tables::put(measurement_out, a, group_out, b, ratio(y, described[b]));
    }
}

} // namespace zeka::kernels
