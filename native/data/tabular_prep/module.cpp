// zeka.data.tabular_prep: scaling and encoding of a numeric feature matrix
// into a model-ready matrix by a scikit-learn pipeline.
#include "common/module.hpp"

#include "data/tabular_prep/data_preprocessor.hpp"

#include <initializer_list>

namespace py = pybind11;

namespace {

// `from <module> import <names>`: binds each name in the order given.
void import_names(py::module_& m, const char* module, std::initializer_list<const char*> names) {
    py::module_ source = py::module_::import(module);
    for (const char* name : names)
        m.attr(name) = source.attr(name);
}

} // namespace

ZEKA_MODULE(tabular_prep, m) {
    m.doc() = "Preprocessing of tabular data: scaling of numerical and encoding of categorical "
              "columns.";
    m.attr("np") = py::module_::import("numpy");
    import_names(m, "sklearn.base", {"TransformerMixin"});
    import_names(m, "sklearn.compose", {"ColumnTransformer"});
    import_names(m, "sklearn.impute", {"SimpleImputer"});
    import_names(m, "sklearn.pipeline", {"FeatureUnion", "Pipeline"});
    import_names(m, "sklearn.preprocessing",
                 {"MinMaxScaler", "OneHotEncoder", "OrdinalEncoder", "StandardScaler"});
    zeka::tabular_prep::define_data_preprocessor(m);
}
