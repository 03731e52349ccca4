// zeka.interpret._view_kernels: the loops of the interpretation views that run
// over the data: every row's decision path through a tree, and the class sums
// of every bin of the weight-of-evidence tables.
#include "common/module.hpp"

#include "interpret/view_kernels/functions.hpp"

namespace zeka::view_kernels {

const char* const kModuleDoc =
    "Native loops of the interpretation views: decision paths of trees over many rows, and "
    "the class sums per bin of binned features.";

} // namespace zeka::view_kernels

ZEKA_MODULE(_view_kernels, m) {
    m.doc() = zeka::view_kernels::kModuleDoc;
    zeka::view_kernels::define_tree_paths(m);
    zeka::view_kernels::define_bin_class_sums(m);
}
