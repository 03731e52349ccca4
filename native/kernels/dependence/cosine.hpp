// A cosine of our own for the random Fourier features: the same bits on every
// platform (it uses only +, -, * and bit operations), and branch-free so the
// compiler vectorises the loop over a block of rows.
#pragma once

#include <cstddef>

namespace zeka::kernels {

// Replaces each of the `count` values by its cosine. Arguments up to 1e6 in
// magnitude are reduced by a three-part pi (Cody-Waite) and evaluated by a
// polynomial, accurate to a few units in the last place of the result's
// magnitude; a block with a larger argument falls back to std::cos.
void cosine_in_place(double* values, std::size_t count);

} // namespace zeka::kernels
