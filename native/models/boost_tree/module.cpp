// zeka.models._boost_tree: the steps of growing a boosting tree (xgb1, xgb2)
// that run over the data: a node's gradient and hessian histograms, and the
// choice of its cut from them.
#include "common/module.hpp"

#include "models/boost_tree/functions.hpp"

namespace zeka::boost_tree {

const char* const kModuleDoc =
    "Native steps of growing a boosting tree: a node's gradient and hessian histograms, and "
    "the choice of its best cut from them.";

} // namespace zeka::boost_tree

ZEKA_MODULE(_boost_tree, m) {
    m.doc() = zeka::boost_tree::kModuleDoc;
    zeka::boost_tree::define_bin_sums(m);
    zeka::boost_tree::define_best_split(m);
}
