#include "common/containers.hpp"
#include "data/tabular_prep/blocks.hpp"

namespace zeka::tabular_prep {

namespace {

// `sparse` became `sparse_output` in scikit-learn 1.2 (and was removed in
// 1.4); the installed release decides which one asks for dense output.
const char* dense_output_keyword() {
    py::object parse = py::module_::import("packaging.version").attr("parse");
    py::object installed = py::module_::import("sklearn").attr("__version__");
    return parse(installed) < parse("1.2") ? "sparse" : "sparse_output";
}

// Seen values become their codes 0 to k-1, anything else the most frequent
// code of the fitting data.
py::list ordinal_steps(const Frame& f, const py::object& category_val) {
    py::object nan = f.global("np").attr("nan");
    py::list categories;
    categories.append(category_val);
    py::object ordinal = f.global("OrdinalEncoder")(py::arg("categories") = categories,
                                                    py::arg("handle_unknown") = "use_encoded_value",
                                                    py::arg("unknown_value") = nan);
    py::object imputer = f.global("SimpleImputer")(py::arg("missing_values") = nan,
                                                   py::arg("strategy") = "most_frequent");
    py::list steps;
    steps.append(py::make_tuple("ordinal", ordinal));
    steps.append(py::make_tuple("handle_unknown", imputer));
    return steps;
}

// Dense one-hot columns of the ordinal codes, the first code dropped. The
// categories are the codes 0 to k-1 that reach this step (as floats, the
// ordinal encoder's output type), whatever values the column holds.
py::tuple one_hot_step(const Frame& f, py::ssize_t category_num) {
    py::object np = f.global("np");
    py::list codes;
    codes.append(np.attr("arange")(category_num, py::arg("dtype") = np.attr("float64")));
    py::object encoder =
        f.global("OneHotEncoder")(py::arg(dense_output_keyword()) = false,
                                  py::arg("drop") = "first", py::arg("categories") = codes);
    return py::make_tuple("one_hot", encoder);
}

// (str(position), Pipeline(steps=steps), [position])
py::tuple column_entry(const Frame& f, py::handle position, const py::list& steps) {
    py::list columns;
    columns.append(position);
    return py::make_tuple(py::str(position), f.global("Pipeline")(py::arg("steps") = steps),
                          columns);
}

// The column at a position: x[:, j] of an array, or the j-th column of a
// data frame (whose [] would look the position up as a label).
py::object column_at(py::handle x, py::handle position) {
    if (has_attribute(x, "iloc"))
        return x.attr(
            "iloc")[py::make_tuple(py::slice(py::none(), py::none(), py::none()), position)];
    return x[py::make_tuple(py::slice(py::none(), py::none(), py::none()), position)];
}

// An encoder needs at least one category: a column with no value at all would
// fail deep inside scikit-learn with a message that names no column.
void require_some_value(py::handle self, const py::object& column, py::handle position) {
    if (py::len(column) == 0 ||
        !py::module_::import("pandas").attr("isna")(column).attr("all")().cast<bool>())
        return;
    py::object names = py::getattr(self, "feature_names", py::none());
    std::string name = "at position " + py::str(position).cast<std::string>();
    if (!names.is_none())
        name = py::repr(names[position]).cast<std::string>();
    else if (has_attribute(column, "name") && !column.attr("name").is_none())
        name = py::repr(column.attr("name")).cast<std::string>();
    throw py::value_error("categorical feature " + name +
                          " has no values (every value is missing), so it has no category to "
                          "encode; drop it or fill it");
}

} // namespace

void build_categorical_block(const Frame& f, py::handle self, py::handle x, py::dict c_hot_f) {
    py::object positions = self.attr("cfeature_index_list");
    if (py::len(positions) == 0) {
        py::setattr(self, "ctransformer", passthrough(f, "ctrans", positions));
        return;
    }
    py::list ctransformer_list;
    for (py::handle position : positions) {
        py::object strategy = self.attr("encode_strategy");
        if (strategy.is_none()) {
            py::setattr(self, "ctransformer", passthrough(f, "ctrans", positions));
            continue;
        }
        py::object column = column_at(x, position);
        require_some_value(self, column, position);
        py::object category_val = f.global("np").attr("unique")(column);
        auto category_num = static_cast<py::ssize_t>(py::len(category_val));
        if (equals(strategy, "one_hot")) {
            py::list steps = ordinal_steps(f, category_val);
            steps.append(one_hot_step(f, category_num));
            ctransformer_list.append(column_entry(f, position, steps));
            c_hot_f[position] = py::int_(category_num - 1);
        } else if (equals(strategy, "ordinal")) {
            ctransformer_list.append(column_entry(f, position, ordinal_steps(f, category_val)));
            c_hot_f[position] = py::int_(1);
        }
        py::setattr(self, "ctransformer", f.global("ColumnTransformer")(ctransformer_list));
    }
}

} // namespace zeka::tabular_prep
