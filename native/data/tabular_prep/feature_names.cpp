// Names of the preprocessed matrix's columns, read from the fitted pipeline:
// the union's columns are named block by block (numerical, then categorical)
// and then taken in the order the fitted selector takes them, so the names
// follow whatever the transform outputs.
#include "common/containers.hpp"
#include "data/tabular_prep/blocks.hpp"

#include <string>

namespace zeka::tabular_prep {

namespace {

// The names of the input's columns: `input_features` checked against what
// the pipeline was fitted on, else the fitted column names, else x0, x1, ...
// (scikit-learn's rules and messages). The constructor's `feature_names`
// come before the last two.
py::object input_names(const Frame& f, const py::object& fitted, const py::object& input_features) {
    py::object np = f.global("np");
    py::object object_dtype = py::module_::import("builtins").attr("object");
    py::object names_in = py::getattr(fitted, "feature_names_in_", py::none());
    py::object n_in = py::getattr(fitted, "n_features_in_", py::none());
    if (!input_features.is_none()) {
        py::object names = np.attr("asarray")(input_features, py::arg("dtype") = object_dtype);
        if (!names_in.is_none() && !truthy(np.attr("array_equal")(names_in, names)))
            raise_error(PyExc_ValueError, "input_features is not equal to feature_names_in_");
        if (!n_in.is_none() && !equals(py::int_(py::len(names)), n_in))
            raise_error(PyExc_ValueError,
                        "input_features should have length equal to number of features (" +
                            py::str(n_in).cast<std::string>() + "), got " +
                            std::to_string(py::len(names)));
        return names;
    }
    if (!names_in.is_none())
        return names_in;
    if (n_in.is_none())
        raise_error(PyExc_ValueError, "Unable to generate feature names without n_features_in_");
    py::list generated;
    for (py::ssize_t i = 0, n = n_in.cast<py::ssize_t>(); i < n; ++i)
        generated.append(py::str("x" + std::to_string(i)));
    return np.attr("asarray")(generated, py::arg("dtype") = object_dtype);
}

// The names the user gave the constructor (`feature_names`), one per input
// column, or None when none were given.
py::object constructor_names(const Frame& f, py::handle self, const py::object& fitted) {
    py::object given = py::getattr(self, "feature_names", py::none());
    if (given.is_none())
        return given;
    py::object object_dtype = py::module_::import("builtins").attr("object");
    py::object names = f.global("np").attr("asarray")(given, py::arg("dtype") = object_dtype);
    py::object n_in = py::getattr(fitted, "n_features_in_", py::none());
    if (names.attr("ndim").cast<int>() != 1 ||
        (!n_in.is_none() && !equals(py::int_(py::len(names)), n_in)))
        raise_error(PyExc_ValueError, "feature_names should hold one name per input feature (" +
                                          py::str(n_in).cast<std::string>() + " features), got " +
                                          py::repr(given).cast<std::string>());
    return names;
}

// The column positions of a pass-through transformer, or of the pass-through
// that opens a scaling pipeline.
py::object passthrough_positions(const py::object& transformer) {
    py::object block = transformer;
    if (has_attribute(block, "steps"))
        block = block.attr("steps")[py::int_(0)][py::int_(1)];
    return block.attr("transformers")[py::int_(0)][py::int_(2)];
}

void append_names(py::list& out, const py::object& names, py::handle positions) {
    for (py::handle position : positions)
        out.append(py::str(names[position]));
}

// One name per output column of the categorical block: a pass-through or
// ordinal column keeps its feature's name, a one-hot column is named
// `<feature>_<category>` for every category but the dropped first one.
void append_categorical_names(py::list& out, const py::object& names,
                              const py::object& ctransformer) {
    py::list entries = ctransformer.attr("transformers");
    if (entries.empty())
        return;
    py::object first = entries[0];
    if (py::isinstance<py::str>(first[py::int_(1)])) {
        append_names(out, names, first[py::int_(2)]);
        return;
    }
    for (py::handle entry : entries) {
        py::object encoder = entry[py::int_(1)];
        py::object positions = entry[py::int_(2)];
        py::dict steps = encoder.attr("named_steps");
        if (!steps.contains("one_hot")) {
            append_names(out, names, positions);
            continue;
        }
        std::string feature = py::str(names[positions[py::int_(0)]]).cast<std::string>();
        py::object categories = steps["ordinal"].attr("categories")[py::int_(0)];
        for (py::ssize_t i = 1; i < static_cast<py::ssize_t>(py::len(categories)); ++i)
            out.append(
                py::str(feature + "_" + py::str(categories[py::int_(i)]).cast<std::string>()));
    }
}

} // namespace

py::object feature_names_out(const Frame& f, py::handle self, const py::object& input_features) {
    py::module_::import("sklearn.utils.validation").attr("check_is_fitted")(self, "transformer_");
    py::object pipeline = self.attr("transformer_");
    py::object names =
        input_features.is_none() ? constructor_names(f, self, pipeline) : py::object(py::none());
    if (names.is_none())
        names = input_names(f, pipeline, input_features);

    py::object blocks = pipeline.attr("steps")[py::int_(0)][py::int_(1)].attr("transformer_list");
    py::list union_names;
    append_names(union_names, names, passthrough_positions(blocks[py::int_(0)][py::int_(1)]));
    append_categorical_names(union_names, names, blocks[py::int_(1)][py::int_(1)]);

    py::object np = f.global("np");
    py::object object_dtype = py::module_::import("builtins").attr("object");
    py::object selector = pipeline.attr("steps")[py::int_(-1)][py::int_(1)];
    py::object columns = passthrough_positions(selector);
    return np.attr("asarray")(union_names, py::arg("dtype") = object_dtype)[columns];
}

} // namespace zeka::tabular_prep
