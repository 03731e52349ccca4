// Helpers shared by the association tables: checks of the inputs and the
// output slots, and sets of rows as bit masks.
#pragma once

#include "kernels/association/association_tables.hpp"

#include <bitset>
#include <limits>
#include <stdexcept>
#include <vector>

namespace zeka::kernels::tables {

inline const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Rows are numbered with 32 bits.
inline void check_rows(std::size_t rows) {
    if (rows > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument("too many rows for an association table");
}

// Codes of a factorisation: -1 (missing) or 0..rows-1.
inline void check_codes(const CodeColumns& columns) {
    check_rows(columns.rows);
    if (columns.columns > 0 && columns.rows > 0 && columns.codes == nullptr)
        throw std::invalid_argument("code columns without data");
    const std::int32_t* end = columns.codes + columns.rows * columns.columns;
    for (const std::int32_t* c = columns.codes; c != end; ++c)
        if (*c < -1 || static_cast<std::size_t>(*c + 1) > columns.rows)
            throw std::invalid_argument("a category code outside -1..rows-1");
}

inline void check_values(const ValueColumns& columns) {
    check_rows(columns.rows);
    if (columns.columns > 0 && columns.rows > 0 && columns.values == nullptr)
        throw std::invalid_argument("value columns without data");
}

inline void check_slots(const TableSlots& out, std::size_t columns) {
    if (columns == 0)
        return;
    if (out.cells == nullptr || out.position == nullptr)
        throw std::invalid_argument("an output table without cells or positions");
    for (std::size_t c = 0; c < columns; ++c)
        if (out.position[c] >= out.stride)
            throw std::invalid_argument("an output position outside the table");
}

// The cell (row, column) of the output table and its mirror image.
inline void put(const TableSlots& rows, std::size_t a, const TableSlots& columns, std::size_t b,
                double value) {
    rows.cells[rows.position[a] * rows.stride + columns.position[b]] = value;
    columns.cells[columns.position[b] * columns.stride + rows.position[a]] = value;
}

// A set of rows, one bit each.
class RowMask {
  public:
    explicit RowMask(std::size_t rows = 0) : words_((rows + 63) / 64) {}

    void add(std::size_t row) { words_[row / 64] |= std::uint64_t{1} << (row % 64); }
    std::size_t count() const {
        std::size_t n = 0;
        for (std::uint64_t w : words_)
            n += std::bitset<64>(w).count();
        return n;
    }
    bool operator==(const RowMask& other) const { return words_ == other.words_; }

    // The rows in both masks, in increasing order, written to `rows`;
    // returns how many.
    std::size_t common(const RowMask& other, std::vector<std::uint32_t>& rows) const {
        rows.clear();
        for (std::size_t w = 0; w < words_.size(); ++w)
            for (std::uint64_t bits = words_[w] & other.words_[w]; bits != 0; bits &= bits - 1)
                rows.push_back(static_cast<std::uint32_t>(w * 64 + lowest_bit(bits)));
        return rows.size();
    }

  private:
    static unsigned lowest_bit(std::uint64_t bits) {
#if defined(__GNUC__)
        return static_cast<unsigned>(__builtin_ctzll(bits));
#else
        unsigned i = 0;
        for (; !(bits & 1); bits >>= 1)
            ++i;
        return i;
#endif
    }
    std::vector<std::uint64_t> words_;
};

} // namespace zeka::kernels::tables
