// scikit-learn's estimator conventions for classes that do not derive from
// its `BaseEstimator`.
//
// An estimator's parameters are the arguments of its class's `__init__`
// (sorted by name, as scikit-learn lists them). How a parameter's current
// value is read and written is up to the class: most store each argument as
// an attribute of the same name, some hand arguments on to an inner
// estimator. With `get_params`, `set_params` and a scikit-learn style repr,
// `sklearn.base.clone`, grid searches and the notebook display work.
#pragma once

#include "common/function.hpp"

#include <string>
#include <vector>

namespace zeka {

// Reads or writes one constructor parameter of `self`.
using ParamReader = py::object (*)(py::handle self, const std::string& name);
using ParamWriter = void (*)(py::handle self, const std::string& name, py::handle value);

// The names of the parameters of `type(self).__init__`, without `self` and
// `**kwargs`, sorted; TypeError for a constructor with `*args`.
std::vector<std::string> param_names(py::handle self);

// `get_params(deep)`: every parameter's value; with `deep`, the parameters of
// values that are estimators themselves follow as `<name>__<parameter>`.
py::dict get_params(py::handle self, bool deep, ParamReader read);

// `set_params(**params)`: sets each named parameter, hands `<name>__<inner>`
// keys to that parameter's own `set_params`, and returns `self`. A name that
// is no parameter raises scikit-learn's ValueError before anything is set.
py::object set_params(py::handle self, const py::dict& params, ParamReader read, ParamWriter write);

// What `__sklearn_tags__` returns (scikit-learn 1.6 and newer asks every
// estimator for it, `check_is_fitted` included): the tags of a plain
// `BaseEstimator`, with a transformer's tags when `transformer`.
py::object estimator_tags(bool transformer);

// Method bodies shared by such classes: `__repr__` as scikit-learn prints an
// estimator, `_repr_html_` and `_repr_mimebundle_` for its notebook display.
py::object estimator_repr(Frame& f);
py::object estimator_repr_html(Frame& f);
py::object estimator_repr_mimebundle(Frame& f);

} // namespace zeka
