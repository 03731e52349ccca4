#include "data/tabular_prep/blocks.hpp"

namespace zeka::tabular_prep {

py::object passthrough(const Frame& f, const char* name, py::handle columns) {
    py::list transformers;
    transformers.append(py::make_tuple(name, "passthrough", columns));
    return f.global("ColumnTransformer")(transformers, py::arg("remainder") = "drop");
}

} // namespace zeka::tabular_prep
