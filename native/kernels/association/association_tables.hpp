// Whole tables of association measures over many columns in one call, with
// the pairwise deletion of missing values of pandas' DataFrame.corr: each
// pair is measured on the rows where both of its columns have a value, and
// a pair without such a row gets NaN.
//
// The results are written into a square table over all features of a frame
// (row-major, `stride` cells per row): the measure of input columns a and b
// goes to the cells (position[a], position[b]) and (position[b], position[a]).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeka::kernels {

// Columns of category codes, column-major (column c starts at
// codes + c * rows): codes 0..rows-1 as a factorisation gives them, -1 for a
// missing value.
struct CodeColumns {
    const std::int32_t* codes = nullptr;
    std::size_t rows = 0, columns = 0;
};

// Columns of measurements, column-major; NaN marks a missing value.
struct ValueColumns {
    const double* values = nullptr;
    std::size_t rows = 0, columns = 0;
};

// The square output table and where each input column sits in it.
struct TableSlots {
    double* cells = nullptr;
    std::size_t stride = 0;                // cells per row (and rows) of the table
    const std::size_t* position = nullptr; // table position of each input column
};

// Symmetric uncertainty of every pair of code columns, the value
// symmetric_uncertainty gives for the pair's common rows; 1.0 on the
// diagonal of a column with any value, NaN for a column without.
void symmetric_uncertainty_table(const CodeColumns& columns, const TableSlots& out);

// Correlation ratio of every measurement column given every code column,
// the value correlation_ratio gives for the pair's common rows (a
// measurement is missing only when NaN; infinities take part).
void correlation_ratio_table(const ValueColumns& measurements, const TableSlots& measurement_out,
                             const CodeColumns& groups, const TableSlots& group_out);

// Spearman's rank correlation of every pair of measurement columns as
// pandas computes it (DataFrame.corr(method="spearman")): values that are
// not finite are missing; ranks with ties averaged, taken over each
// column's non-NaN values and recomputed over the pair's common rows unless
// both columns miss the same rows; then Pearson's correlation of the ranks,
// NaN when either has no spread.
void spearman_table(const ValueColumns& columns, const TableSlots& out);

} // namespace zeka::kernels
