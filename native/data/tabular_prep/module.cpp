// zeka.data.tabular_prep: scaling and encoding of a numeric feature matrix
// into a model-ready matrix by a scikit-learn pipeline.
#include "common/module.hpp"

#include "data/tabular_prep/data_preprocessor.hpp"

namespace py = pybind11;

ZEKA_MODULE(tabular_prep, m) {
    m.doc() = "Preprocessing of tabular data: scaling of numerical and encoding of categorical "
              "columns.";
    m.attr("np") = py::module_::import("numpy");
    zeka::import_from(m, "sklearn.base", {"TransformerMixin"});
    zeka::import_from(m, "sklearn.compose", {"ColumnTransformer"});
    zeka::import_from(m, "sklearn.impute", {"SimpleImputer"});
    zeka::import_from(m, "sklearn.pipeline", {"FeatureUnion", "Pipeline"});
    zeka::import_from(m, "sklearn.preprocessing",
                      {"MinMaxScaler", "OneHotEncoder", "OrdinalEncoder", "StandardScaler"});
    zeka::tabular_prep::define_data_preprocessor(m);
}
