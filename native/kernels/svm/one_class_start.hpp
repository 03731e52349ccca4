// The starting point of libsvm's one-class solver, as scikit-learn runs it.
//
// The solver spreads nu * sum(w) over the rows in order, giving each row at
// most its own weight, and stops when nothing is left. It only checks that
// the remainder is positive, not that rows remain: when rounding leaves the
// remainder positive after the last row (possible only with nu = 1, or nu so
// close to 1 that w * nu rounds to w), it reads and writes past the end of
// its arrays and corrupts the heap.
#pragma once

#include <cstddef>

namespace zeka::kernels {

// Whether the solver's starting loop would run past the last row for these
// sample weights (in row order) and this `nu`. Replays the solver's own
// double arithmetic: rows of weight <= 0 are dropped first, as scikit-learn's
// libsvm drops them before solving.
bool one_class_start_overruns(const double* weights, std::size_t count, double nu);

} // namespace zeka::kernels
