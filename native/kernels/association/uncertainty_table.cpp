// The symmetric uncertainty of every pair of categorical columns. Each pair
// gives bit for bit what symmetric_uncertainty gives for the factorised codes
// of its common rows: the entropies sum the same non-zero counts in the same
// order (by code, and the joint counts by code pair), only the counting is
// shared between pairs.
#include "kernels/association/association.hpp"
#include "kernels/association/association_tables.hpp"
#include "kernels/association/table_support.hpp"

#include <algorithm>

namespace zeka::kernels {

namespace {

using tables::RowMask;

// factorize keeps codes below this as they are; a column with higher codes
// is measured pair by pair through factorize itself.
constexpr std::int32_t kDirectCodeLimit = 1 << 16;
// Joint tables up to this many cells are counted densely (as in
// symmetric_uncertainty); a table much larger than the rows is read back
// through the cells that were hit, in order.
constexpr std::size_t kDenseJointLimit = std::size_t{1} << 20;
constexpr std::size_t kScanPerRow = 8;

struct CodeColumn {
    const std::int32_t* codes = nullptr;
    std::int32_t levels = 0; // largest code + 1
    RowMask present;
    std::size_t n_present = 0;
    double entropy = 0; // over all rows; used when none is missing
};

std::vector<std::int64_t> counts_of(const CodeColumn& x, const std::vector<std::uint32_t>* rows,
                                    std::size_t n_rows) {
    std::vector<std::int64_t> counts(static_cast<std::size_t>(x.levels));
    if (rows == nullptr)
        for (std::size_t i = 0; i < n_rows; ++i)
            ++counts[static_cast<std::size_t>(x.codes[i])];
    else
        for (std::uint32_t i : *rows)
            ++counts[static_cast<std::size_t>(x.codes[i])];
    return counts;
}

CodeColumn describe(const std::int32_t* codes, std::size_t rows) {
    CodeColumn column;
    column.codes = codes;
    column.present = RowMask(rows);
    for (std::size_t i = 0; i < rows; ++i)
        if (codes[i] >= 0) {
            column.present.add(i);
            ++column.n_present;
            column.levels = std::max(column.levels, codes[i] + 1);
        }
    if (column.n_present == rows && column.levels <= kDirectCodeLimit) {
        std::vector<std::int64_t> counts = counts_of(column, nullptr, rows);
        column.entropy = entropy_from_counts(counts.data(), counts.size());
    }
    return column;
}

// Entropy of the joint counts of two columns over all rows (`rows` null) or
// the listed ones, with buffers kept from pair to pair.
class JointEntropy {
  public:
    double operator()(const CodeColumn& x, const CodeColumn& y,
                      const std::vector<std::uint32_t>* rows, std::size_t n_rows) {
        auto width = static_cast<std::size_t>(y.levels);
        std::size_t cells = static_cast<std::size_t>(x.levels) * width;
        auto cell = [&](std::size_t i) {
            return static_cast<std::size_t>(x.codes[i]) * width +
                   static_cast<std::size_t>(y.codes[i]);
        };
        if (cells > kDenseJointLimit)
            return sorted_cells(cell, rows, n_rows);
        if (counts_.size() < cells)
            counts_.resize(cells);
        bool scan = cells <= kScanPerRow * n_rows + 64;
        touched_.clear();
        auto hit = [&](std::size_t c) {
            if (!scan && counts_[c] == 0)
                touched_.push_back(c);
            ++counts_[c];
        };
        if (rows == nullptr)
            for (std::size_t i = 0; i < n_rows; ++i)
                hit(cell(i));
        else
            for (std::uint32_t i : *rows)
                hit(cell(i));
        if (scan) {
            double h = entropy_from_counts(counts_.data(), cells);
            std::fill(counts_.begin(), counts_.begin() + static_cast<std::ptrdiff_t>(cells), 0);
            return h;
        }
        std::sort(touched_.begin(), touched_.end());
        runs_.clear();
        for (std::size_t c : touched_) {
            runs_.push_back(counts_[c]);
            counts_[c] = 0;
        }
        return entropy_from_counts(runs_.data(), runs_.size());
    }

  private:
    // Cells sorted and counted in runs, as symmetric_uncertainty does for
    // tables too large to hold.
    template <class Cell>
    double sorted_cells(Cell cell, const std::vector<std::uint32_t>* rows, std::size_t n_rows) {
        keys_.clear();
        if (rows == nullptr)
            for (std::size_t i = 0; i < n_rows; ++i)
                keys_.push_back(cell(i));
        else
            for (std::uint32_t i : *rows)
                keys_.push_back(cell(i));
        std::sort(keys_.begin(), keys_.end());
        runs_.clear();
        for (std::size_t i = 0; i < keys_.size();) {
            std::size_t j = i;
            while (j < keys_.size() && keys_[j] == keys_[i])
                ++j;
            runs_.push_back(static_cast<std::int64_t>(j - i));
            i = j;
        }
        return entropy_from_counts(runs_.data(), runs_.size());
    }

    std::vector<std::int64_t> counts_, runs_;
    std::vector<std::size_t> touched_, keys_;
};

// The pair through factorize and symmetric_uncertainty themselves: codes
// this high are renumbered there by first appearance.
double uncertainty_by_factorize(const CodeColumn& x, const CodeColumn& y,
                                const std::vector<std::uint32_t>& rows) {
    std::vector<double> xs, ys;
    for (std::uint32_t i : rows) {
        xs.push_back(x.codes[i]);
        ys.push_back(y.codes[i]);
    }
    return symmetric_uncertainty(factorize(xs.data(), xs.size()), factorize(ys.data(), ys.size()));
}

class PairUncertainty {
  public:
    explicit PairUncertainty(std::size_t rows) : rows_(rows) {}

    // `x` is the column that comes first in the table: the joint counts are
    // summed in the order of its codes.
    double operator()(const CodeColumn& x, const CodeColumn& y) {
        if (rows_ == 0)
            return tables::kNaN;
        bool complete = x.n_present == rows_ && y.n_present == rows_;
        if (complete && x.levels <= kDirectCodeLimit && y.levels <= kDirectCodeLimit)
            return uncertainty_from_entropies(x.entropy, y.entropy, joint_(x, y, nullptr, rows_));
        if (x.present.common(y.present, common_) == 0)
            return tables::kNaN;
        if (x.levels > kDirectCodeLimit || y.levels > kDirectCodeLimit)
            return uncertainty_by_factorize(x, y, common_);
        std::vector<std::int64_t> cx = counts_of(x, &common_, 0), cy = counts_of(y, &common_, 0);
        double hx = entropy_from_counts(cx.data(), cx.size());
        double hy = entropy_from_counts(cy.data(), cy.size());
        return uncertainty_from_entropies(hx, hy, joint_(x, y, &common_, common_.size()));
    }

  private:
    std::size_t rows_;
    std::vector<std::uint32_t> common_;
    JointEntropy joint_;
};

} // namespace

void symmetric_uncertainty_table(const CodeColumns& columns, const TableSlots& out) {
    tables::check_codes(columns);
    tables::check_slots(out, columns.columns);
    std::vector<CodeColumn> described;
    described.reserve(columns.columns);
    for (std::size_t c = 0; c < columns.columns; ++c)
        described.push_back(describe(columns.codes + c * columns.rows, columns.rows));
    PairUncertainty uncertainty(columns.rows);
    for (std::size_t a = 0; a < columns.columns; ++a) {
        tables::put(out, a, out, a, described[a].n_present > 0 ? 1.0 : tables::kNaN);
        for (std::size_t b = a + 1; b < columns.columns; ++b)
            tables::put(out, a, out, b, uncertainty(described[a], described[b]));
    }
}

} // namespace zeka::kernels
