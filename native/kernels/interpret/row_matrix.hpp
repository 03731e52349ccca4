// The data the interpretation kernels read: a row-major rows x features matrix.
#pragma once

#include <cstddef>

namespace zeka::kernels {

struct RowMatrix {
    const double* data = nullptr;
    std::size_t rows = 0;
    std::size_t features = 0;
};

} // namespace zeka::kernels
