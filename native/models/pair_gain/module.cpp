// zeka.models._pair_gain: the scores that rank candidate feature pairs for
// the pairwise terms of the additive model families.
#include "common/module.hpp"

#include "models/pair_gain/pair_gains.hpp"

namespace zeka::pair_gain {

const char* const kModuleDoc =
    "Native scoring of candidate feature pairs: the gain of a small pairwise tree fitted to "
    "each pair's gradient and hessian histograms.";

} // namespace zeka::pair_gain

ZEKA_MODULE(_pair_gain, m) {
    m.doc() = zeka::pair_gain::kModuleDoc;
    zeka::pair_gain::define_pair_gains(m);
}
