// The module and function docstrings.
#include "data/causality/core/independence_test.hpp"

namespace zeka::causality {

const char* const kModuleDoc =
    R"(Conditional independence tests on random Fourier features.

``conditional_independence_test`` is the randomized conditional independence
test (RCIT) of Strobl, Zhang and Visweswaran, "Approximate kernel-based
conditional independence tests for fast non-parametric causal discovery",
Journal of Causal Inference 7(1), 2019, and its unconditional form (RIT):

1. x, y and z are standardised column by column (sample standard deviation).
2. Each variable gets a Gaussian kernel whose width is the median Euclidean
   distance between distinct pairs of its first ``n_subsamples`` rows (the
   median of the positive distances when more than half of them are 0).
3. Random Fourier features approximate each kernel: ``num_f2`` for x and for
   y, ``num_f`` for z, sqrt(2) cos(w . v + b) with w ~ N(0, I / width^2) and
   b ~ U[0, 2 pi); the features are standardised over the rows.
4. For "rcit" with a z, the x and y features are replaced by their residuals
   of a ridge regression (ridge 1e-8 on the correlation scale) on the z
   features.
5. The statistic is n times the squared Frobenius norm of the sample
   cross-covariance of the x and y features (residuals).
6. Under independence the statistic is asymptotically sum_i l_i chi2_1, with
   l_i the eigenvalues of the covariance of the num_f2^2 feature products.
   The p-value matches the first three cumulants of that sum with a scaled,
   shifted chi-square (Hall-Buckley-Eagleson). We use it rather than the
   four-moment Lindsay-Pilla-Basak approximation because its cumulants are
   2^(r-1) (r-1)! tr(C^r), so it needs only traces of a 25 x 25 matrix and no
   eigenvalues or polynomial roots, it never fails when few eigenvalues
   dominate (where Lindsay-Pilla-Basak is ill-posed), and it is accurate at the
   levels a screening threshold uses (Bodenham and Adams, 2016, find the two
   close above the far tail).

Randomness comes from our own seeded splitmix64 generator with Box-Muller
normals and the cosine is our own polynomial, so the same seed gives the same
result on every platform. The covariances are summed over blocks of rows while
the features are recomputed, so the extra memory is the standardised copies of
the inputs and does not grow with the number of features times rows; the
computation runs without the interpreter lock.)";

} // namespace zeka::causality
