// zeka.data.causality.core: the randomized conditional independence test.
#include "common/module.hpp"

#include "data/causality/core/independence_test.hpp"

namespace py = pybind11;

ZEKA_MODULE(core, m) {
    m.doc() = zeka::causality::kModuleDoc;
    m.attr("np") = py::module_::import("numpy");
    zeka::causality::define_conditional_independence_test(m);
}
