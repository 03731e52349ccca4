// The class docstring.
#include "explainer/shap/shap_explainer.hpp"

namespace zeka::shap_explainer {

const char* const kClassDoc =
    R"(SHapley Additive exPlanations.

Explains a fitted scikit-learn-style estimator with SHAP values computed by
the shap library: globally over a sample of the background data and locally
for one row, as result objects and as plots. A classifier is explained
through its probability of the class with index 1.

`fit` stores the background data and builds the explainer: shap's generic
explainer when it accepts the estimator; otherwise the exact explainer over
the estimator's predict (predict_proba for a classifier) for up to 15
features, and the kernel explainer for more.

Parameters
----------
estimator : object
    The model object to explain, already fitted; it is not modified.
feature_names : list of str, default=None
    The names of the features, in the model's order. When None, `fit` names
    them X0, X1, ... after the columns of the background data.
masker_sample_size : int, default=500
    The maximum number of samples to use from the passed background data;
    None uses every row.
sample_size : int, default=500
    The maximum size of the samples used to calculate the global SHAP
    result; None explains every background row.
random_state : int, default=0
    The random seed.

Attributes
----------
predict_func : callable
    The estimator's predict (regressor) or predict_proba (classifier).
x : array or DataFrame or None
    The background data passed to `fit`.
shap_explainer : object or None
    The shap explainer built by `fit`.
shap_tag : {'other', 'kernel'} or None
    How the explainer is called: 'other' explainers are called on the data
    and return a shap.Explanation; the 'kernel' explainer's shap_values
    returns arrays and its expected_value the base value.
shap_val : shap.Explanation or None
    The last global explanation.)";

} // namespace zeka::shap_explainer
