// DataPreprocessor: builds, fits and applies the preprocessing pipeline.
#pragma once

#include "common/function.hpp"

namespace zeka::tabular_prep {

// The class, bound as the module attribute `DataPreprocessor`.
void define_data_preprocessor(py::module_ module);

} // namespace zeka::tabular_prep
