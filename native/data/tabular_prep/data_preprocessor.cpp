#include "data/tabular_prep/data_preprocessor.hpp"

#include "common/estimator_params.hpp"
#include "common/python_class.hpp"
#include "common/python_ops.hpp"
#include "data/tabular_prep/blocks.hpp"

#include <iterator>

namespace zeka::tabular_prep {

namespace {

constexpr const char* kClassDoc =
    "Scale and encode a numeric feature matrix into a model-ready matrix.\n\n"
    "Numerical columns are standardised (\"unit_norm\"), scaled to [0, 1] (\"minmax\") or passed "
    "through (None). Categorical columns are encoded column by column as ordinal codes "
    "(\"ordinal\") or one-hot codes with the first level dropped (\"one_hot\"), or passed "
    "through (None); a category unseen in fitting is mapped to the most frequent one. The "
    "output columns come in the order of the features' positions in the input, each one-hot "
    "encoded feature contributing ``c_hot_f[position]`` columns at its place.\n\n"
    "Parameters\n"
    "----------\n"
    "nfeature_index_list : list of int\n"
    "    Positions of the numerical columns.\n"
    "cfeature_index_list : list of int\n"
    "    Positions of the categorical columns.\n"
    "normalize_strategy : {\"unit_norm\", \"minmax\"} or None, default=\"unit_norm\"\n"
    "encode_strategy : {\"one_hot\", \"ordinal\"} or None, default=\"one_hot\"\n"
    "feature_names : any, default=None\n"
    "    Stored only.\n\n"
    "Attributes\n"
    "----------\n"
    "c_hot_f : dict\n"
    "    Output width of each encoded categorical position.\n"
    "ctransformer, ntransformer : the unfitted categorical and numerical blocks.\n"
    "transformer_ : sklearn.pipeline.Pipeline\n"
    "    The fitted preprocessing pipeline.";

// The constructor's arguments, stored in this order as attributes of the same names.
constexpr const char* kSettings[] = {"nfeature_index_list", "cfeature_index_list",
                                     "normalize_strategy", "encode_strategy", "feature_names"};

py::object init(Frame& f) {
    for (size_t i = 0; i < std::size(kSettings); ++i)
        py::setattr(f[0], kSettings[i], f[i + 1]);
    return py::none();
}

// Builds a fresh pipeline from the current settings, fits it on `x` and
// returns the transformed matrix.
py::object fit_transform(Frame& f) {
    py::object self = f[0];
    py::object x = f[1];
    py::dict c_hot_f;
    py::setattr(self, "c_hot_f", c_hot_f);
    build_categorical_block(f, self, x, c_hot_f);
    build_numerical_block(f, self);

    py::list union_list;
    union_list.append(py::make_tuple("ntransformer", self.attr("ntransformer")));
    union_list.append(py::make_tuple("ctransformer", self.attr("ctransformer")));
    py::object union_transformer =
        f.global("FeatureUnion")(py::arg("transformer_list") = union_list);

    py::list steps;
    steps.append(py::make_tuple("union", union_transformer));
    steps.append(
        py::make_tuple("selector", passthrough(f, "selector", selector_columns(f, self, c_hot_f))));
    py::setattr(self, "transformer_", f.global("Pipeline")(steps));
    return self.attr("transformer_").attr("fit_transform")(x);
}

py::object fit(Frame& f) {
    f[0].attr("fit_transform")(f[1]);
    return py::none();
}

py::object transform(Frame& f) {
    return f[0].attr("transformer_").attr("transform")(f[1]);
}

// Every constructor argument is stored as the attribute of the same name.
py::object read_setting(py::handle self, const std::string& name) {
    return self.attr(name.c_str());
}
void write_setting(py::handle self, const std::string& name, py::handle value) {
    py::setattr(self, name.c_str(), value);
}

py::object get_params(Frame& f) {
    return zeka::get_params(f[0], truthy(f[1]), read_setting);
}

py::object set_params(Frame& f) {
    return zeka::set_params(f[0], f[1], read_setting, write_setting);
}

py::object sklearn_tags(Frame&) {
    return estimator_tags(true);
}

py::object get_feature_names_out(Frame& f) {
    return feature_names_out(f, f[0], f[1]);
}

} // namespace

void define_data_preprocessor(py::module_ module) {
    py::tuple bases = py::make_tuple(module.attr("TransformerMixin"));
    ClassBuilder(module, "DataPreprocessor", bases, kClassDoc)
        .method("__init__",
                {arg("nfeature_index_list"), arg("cfeature_index_list"),
                 arg("normalize_strategy", py::str("unit_norm")),
                 arg("encode_strategy", py::str("one_hot")), arg("feature_names", py::none())},
                init)
        .method("fit_transform", {arg("x")}, fit_transform,
                "Build the preprocessing pipeline from the settings, fit it on x and return "
                "the transformed matrix.")
        .method("fit", {arg("x")}, fit, "Fit the preprocessing pipeline on x; returns None.")
        .method("transform", {arg("x")}, transform,
                "Transform x with the fitted preprocessing pipeline.")
        .method("get_params", {arg("deep", py::bool_(true))}, get_params,
                "Get the parameters of this preprocessor (its constructor arguments).\n\n"
                "With deep=True, the parameters of parameters that are estimators follow as "
                "<name>__<parameter>.")
        .method("set_params", {star_kwargs("params")}, set_params,
                "Set the parameters of this preprocessor; returns the preprocessor.\n\n"
                "The new settings take effect at the next fit or fit_transform.")
        .method("get_feature_names_out", {arg("input_features", py::none())}, get_feature_names_out,
                "Names of the output columns, in output order.\n\n"
                "A one-hot encoded feature contributes one column per category but the first, "
                "named <feature>_<category>. input_features names the input columns; by default "
                "the column names seen in fitting, else x0, x1, ...")
        .method("__sklearn_tags__", {}, sklearn_tags,
                "scikit-learn's description of this estimator: a transformer.")
        .method("__repr__", {}, estimator_repr)
        .method("_repr_html_", {}, estimator_repr_html,
                "HTML display of the preprocessor in a notebook.")
        .method("_repr_mimebundle_", {star_kwargs("kwargs")}, estimator_repr_mimebundle,
                "Notebook display: text, and HTML when scikit-learn's display is \"diagram\".")
        .finish();
}

} // namespace zeka::tabular_prep
