#include "common/estimator_params.hpp"

#include "common/containers.hpp"
#include "common/python_ops.hpp"

#include <algorithm>
#include <cmath>

namespace zeka {

namespace {

// Whether `value` is an estimator whose own parameters belong to the
// enclosing one (an instance with `get_params`, not a class).
bool is_nested_estimator(py::handle value) {
    return has_attribute(value, "get_params") && !PyType_Check(value.ptr());
}

// The keys of a dict in order: ['a', 'b'] as Python prints the list.
std::string names_text(const std::vector<std::string>& names) {
    py::list list;
    for (const std::string& name : names)
        list.append(py::str(name));
    return py::repr(list).cast<std::string>();
}

// Whether a parameter differs from its default, as scikit-learn's repr
// decides it: by the repr of the two values, NaN equal to NaN.
bool differs_from_default(const py::object& value, const py::object& default_value) {
    py::object empty = py::module_::import("inspect").attr("Parameter").attr("empty");
    if (default_value.is(empty))
        return true;
    if (!py::repr(value).equal(py::repr(default_value)))
        return !(PyFloat_Check(value.ptr()) && PyFloat_Check(default_value.ptr()) &&
                 std::isnan(PyFloat_AS_DOUBLE(value.ptr())) &&
                 std::isnan(PyFloat_AS_DOUBLE(default_value.ptr())));
    return false;
}

} // namespace

std::vector<std::string> param_names(py::handle self) {
    py::object init = py::type::handle_of(self).attr("__init__");
    py::object signature = py::module_::import("inspect").attr("signature")(init);
    py::object kind = py::module_::import("inspect").attr("Parameter");
    std::vector<std::string> names;
    for (py::handle parameter : signature.attr("parameters").attr("values")()) {
        std::string name = parameter.attr("name").cast<std::string>();
        if (name == "self" || parameter.attr("kind").is(kind.attr("VAR_KEYWORD")))
            continue;
        if (parameter.attr("kind").is(kind.attr("VAR_POSITIONAL")))
            // scikit-learn raises RuntimeError here; for us it is a wrong
            // argument (a `self` of some other class), hence TypeError.
            raise_error(PyExc_TypeError,
                        "scikit-learn estimators should always specify their parameters in the "
                        "signature of their __init__ (no varargs). " +
                            py::repr(py::type::handle_of(self)).cast<std::string>() +
                            " with constructor " + py::str(signature).cast<std::string>() +
                            " doesn't  follow this convention.");
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

py::dict get_params(py::handle self, bool deep, ParamReader read) {
    py::dict out;
    for (const std::string& name : param_names(self)) {
        py::object value = read(self, name);
        if (deep && is_nested_estimator(value))
            for (auto item : value.attr("get_params")().cast<py::dict>())
                out[py::str(name + "__" + item.first.cast<std::string>())] = item.second;
        out[py::str(name)] = value;
    }
    return out;
}

py::object set_params(py::handle self, const py::dict& params, ParamReader read,
                      ParamWriter write) {
    if (params.empty())
        return py::reinterpret_borrow<py::object>(self);
    py::dict valid = get_params(self, true, read);
    // Validated first, so that a bad name leaves every parameter as it was.
    for (auto item : params) {
        std::string key = item.first.cast<std::string>();
        std::string name = key.substr(0, key.find("__"));
        if (!valid.contains(py::str(name)))
            raise_error(PyExc_ValueError,
                        "Invalid parameter " + py::repr(py::str(name)).cast<std::string>() +
                            " for estimator " + py::repr(self).cast<std::string>() +
                            ". Valid parameters are: " + names_text(param_names(self)) + ".");
    }
    py::dict nested;
    for (auto item : params) {
        std::string key = item.first.cast<std::string>();
        size_t split = key.find("__");
        if (split == std::string::npos) {
            write(self, key, item.second);
            valid[py::str(key)] = item.second;
            continue;
        }
        py::str name(key.substr(0, split));
        if (!nested.contains(name))
            nested[name] = py::dict();
        nested[name][py::str(key.substr(split + 2))] = item.second;
    }
    for (auto item : nested)
        call_with_keywords(valid[item.first].attr("set_params"), py::dict(), item.second);
    return py::reinterpret_borrow<py::object>(self);
}

py::object estimator_tags(bool transformer) {
    py::module_ utils = py::module_::import("sklearn.utils");
    py::object transformer_tags = transformer ? utils.attr("TransformerTags")() : py::none();
    return utils.attr("Tags")(
        py::arg("estimator_type") = py::none(),
        py::arg("target_tags") = utils.attr("TargetTags")(py::arg("required") = false),
        py::arg("transformer_tags") = transformer_tags, py::arg("regressor_tags") = py::none(),
        py::arg("classifier_tags") = py::none());
}

py::object estimator_repr(Frame& f) {
    py::object self = f[0];
    bool changed_only =
        truthy(py::module_::import("sklearn").attr("get_config")()["print_changed_only"]);
    py::object defaults =
        py::module_::import("inspect").attr("signature")(self.attr("__init__")).attr("parameters");
    py::dict params = self.attr("get_params")(py::arg("deep") = false);
    std::string text = py::type::handle_of(self).attr("__name__").cast<std::string>() + "(";
    bool first = true;
    for (auto item : params) {
        py::object value = py::reinterpret_borrow<py::object>(item.second);
        if (changed_only && contains(defaults, item.first) &&
            !differs_from_default(value, defaults[item.first].attr("default")))
            continue;
        text += (first ? "" : ", ") + item.first.cast<std::string>() + "=" +
                py::repr(value).cast<std::string>();
        first = false;
    }
    return py::str(text + ")");
}

py::object estimator_repr_html(Frame& f) {
    return py::module_::import("sklearn.utils").attr("estimator_html_repr")(f[0]);
}

py::object estimator_repr_mimebundle(Frame& f) {
    py::dict output;
    output["text/plain"] = py::repr(f[0]);
    if (equals(py::module_::import("sklearn").attr("get_config")()["display"], "diagram"))
        output["text/html"] = estimator_repr_html(f);
    return output;
}

} // namespace zeka
