#include "common/containers.hpp"
#include "data/tabular_prep/blocks.hpp"

namespace zeka::tabular_prep {

namespace {

// StandardScaler() for "unit_norm", MinMaxScaler() for "minmax"; an empty
// handle (no scaler) for anything else.
py::object scaler_for(const Frame& f, const py::object& strategy) {
    if (equals(strategy, "unit_norm"))
        return f.global("StandardScaler")();
    if (equals(strategy, "minmax"))
        return f.global("MinMaxScaler")();
    return py::object();
}

} // namespace

void build_numerical_block(const Frame& f, py::handle self) {
    py::object positions = self.attr("nfeature_index_list");
    if (py::len(positions) == 0) {
        py::setattr(self, "ntransformer", passthrough(f, "ntrans", positions));
        return;
    }
    py::object strategy = self.attr("normalize_strategy");
    py::object scaler = scaler_for(f, strategy);
    if (strategy.is_none()) {
        py::setattr(self, "ntransformer", passthrough(f, "ntrans", positions));
        return;
    }
    // An unknown strategy leaves the scaler unset, and building the
    // scaling pipeline fails as it would on the unbound name.
    if (!scaler)
        raise_unbound_local("scaler");
    py::list steps;
    steps.append(py::make_tuple("ntrans", passthrough(f, "ntrans", positions)));
    steps.append(py::make_tuple("scaling", scaler));
    py::setattr(self, "ntransformer", f.global("Pipeline")(py::arg("steps") = steps));
}

} // namespace zeka::tabular_prep
