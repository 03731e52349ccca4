// The square table of pairwise association of highly_correlated_features,
// computed by the association kernels in one call per block.
#pragma once

#include <pybind11/pybind11.h>

namespace zeka::quality_scan {

namespace py = pybind11;

// A float DataFrame over the columns of `data` (which must be unique):
// Spearman between the numerical features, the symmetric uncertainty
// between the categorical ones (codes from pd.factorize, 1.0 on the
// diagonal), the correlation ratio of each numerical feature given each
// categorical one in both orientations, NaN elsewhere; every pair measured
// on the rows where both of its columns have a value. The same values as
// DataFrame.corr and corrwith with the package's own measures give.
py::object association_table(const py::object& data, const py::list& num_features,
                             const py::list& cat_features);

} // namespace zeka::quality_scan
