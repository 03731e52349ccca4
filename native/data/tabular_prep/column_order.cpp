// Column order of the preprocessed matrix.
//
// The union yields the numerical columns (one per position, in list order)
// followed by the categorical output blocks (in list order). A one-hot
// encoded column of k categories yields k-1 columns, so the union can be
// wider than the list of positions; the selector therefore moves whole
// blocks, ordered by the argsort of the positions, and keeps every column.
#include "data/tabular_prep/blocks.hpp"

#include <algorithm>
#include <vector>

namespace zeka::tabular_prep {

namespace {

struct Block {
    py::ssize_t start;
    py::ssize_t width;
};

// Output width of each categorical position: what its encoder yields, as
// recorded in `c_hot_f`; one column when it was not encoded (passed through).
py::ssize_t categorical_width(const py::dict& c_hot_f, py::handle position) {
    if (!c_hot_f.contains(position))
        return 1;
    return std::max<py::ssize_t>(0, c_hot_f[position].cast<py::ssize_t>());
}

// The union's output block of every feature, numerical features first, in
// the order of `nfeature_index_list + cfeature_index_list`.
std::vector<Block> union_blocks(py::handle numerical, py::handle categorical,
                                const py::dict& c_hot_f) {
    std::vector<Block> blocks;
    py::ssize_t start = 0;
    for (size_t i = 0; i < py::len(numerical); ++i)
        blocks.push_back({start++, 1});
    for (py::handle position : categorical) {
        py::ssize_t width = categorical_width(c_hot_f, position);
        blocks.push_back({start, width});
        start += width;
    }
    return blocks;
}

} // namespace

py::object selector_columns(const Frame& f, py::handle self, const py::dict& c_hot_f) {
    py::object numerical = self.attr("nfeature_index_list");
    py::object categorical = self.attr("cfeature_index_list");
    py::object np = f.global("np");
    // The positions may come as any sequence (a numpy array, a tuple); `+` on
    // those would add or fail instead of concatenating.
    py::object order = np.attr("argsort")(py::list(numerical) + py::list(categorical));
    std::vector<Block> blocks = union_blocks(numerical, categorical, c_hot_f);

    py::list columns;
    for (py::handle feature : order) {
        const Block& block = blocks.at(feature.cast<size_t>());
        for (py::ssize_t column = block.start; column < block.start + block.width; ++column)
            columns.append(column);
    }
    return np.attr("array")(columns, py::arg("dtype") = np.attr("intp"));
}

} // namespace zeka::tabular_prep
