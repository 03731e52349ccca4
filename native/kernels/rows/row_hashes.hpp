// Hashes of whole rows, for finding the rows a table holds more than once
// without comparing every pair: each column's values are hashed and mixed,
// in column order, into one 64-bit hash per row. Values that compare equal
// always hash equally (NaN equals NaN, -0.0 equals 0.0, as pandas counts
// duplicated rows), so every repeated row is among the rows whose hash
// repeats; unequal rows share a hash only by a rare collision, which the
// caller's exact comparison of those few rows then sorts out.
#pragma once

#include "kernels/text/text_view.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeka::kernels {

// The hash of the bytes of a text.
std::uint64_t text_hash(TextView text);

// Mixes the next column's value hashes into the row hashes.
void mix_hashes(const std::uint64_t* values, std::size_t n, std::uint64_t* rows);

// Mixes a strided column of floating-point values: NaN is one value, and
// -0.0 and 0.0 are one value.
template <typename Float>
void mix_floats(const char* data, std::ptrdiff_t stride, std::size_t n, std::uint64_t* rows);

// Mixes a strided column of integers (or booleans, dates, category codes)
// of `width` bytes (1, 2, 4 or 8), by their bits.
void mix_integers(const char* data, std::ptrdiff_t stride, std::size_t width, std::size_t n,
                  std::uint64_t* rows);

// The positions, ascending, of the rows whose hash occurs more than once.
std::vector<std::int64_t> repeated_positions(const std::uint64_t* rows, std::size_t n);

} // namespace zeka::kernels
