#include "common/argument_binding.hpp"

#include "common/python_ops.hpp"

#include <algorithm>
#include <string>

namespace zeka {

Param arg(std::string name) {
    return Param{std::move(name), py::object(), ParamKind::PositionalOrKeyword};
}
Param arg(std::string name, py::object default_value) {
    return Param{std::move(name), std::move(default_value), ParamKind::PositionalOrKeyword};
}
Param star_args(std::string name) {
    return Param{std::move(name), py::object(), ParamKind::VarPositional};
}
Param keyword_only(std::string name) {
    return Param{std::move(name), py::object(), ParamKind::KeywordOnly};
}
Param keyword_only(std::string name, py::object default_value) {
    return Param{std::move(name), std::move(default_value), ParamKind::KeywordOnly};
}
Param star_kwargs(std::string name) {
    return Param{std::move(name), py::object(), ParamKind::VarKeyword};
}

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'", as Python lists missing arguments.
std::string quoted_list(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += "'" + names[i] + "'";
    }
    return out;
}

// A call's TypeError, its message after the function's "qualname()".
[[noreturn]] void raise_call_error(py::handle qualname, const std::string& message) {
    raise_error(PyExc_TypeError, py::str(qualname).cast<std::string>() + "() " + message);
}

[[noreturn]] void raise_missing(py::handle qualname, const std::vector<std::string>& names,
                                const char* kind) {
    std::string plural = names.size() == 1 ? "" : "s";
    raise_call_error(qualname, "missing " + std::to_string(names.size()) + " required " + kind +
                                   " argument" + plural + ": " + quoted_list(names));
}

[[noreturn]] void raise_too_many_positional(py::handle qualname, size_t required, size_t total,
                                            size_t given) {
    std::string takes = required == total
                            ? std::to_string(total)
                            : "from " + std::to_string(required) + " to " + std::to_string(total);
    std::string plural = total == 1 && required == total ? "" : "s";
    std::string were = given == 1 ? "was" : "were";
    raise_call_error(qualname, "takes " + takes + " positional argument" + plural + " but " +
                                   std::to_string(given) + " " + were + " given");
}

} // namespace

std::vector<py::object> bind_arguments(const std::vector<Param>& params, py::handle qualname,
                                       PyObject* args, PyObject* kwargs) {
    std::vector<py::object> bound(params.size());
    size_t n_given = static_cast<size_t>(PyTuple_GET_SIZE(args));

    size_t n_positional = 0, n_positional_required = 0;
    int var_positional = -1, var_keyword = -1;
    for (size_t i = 0; i < params.size(); ++i) {
        switch (params[i].kind) {
        case ParamKind::PositionalOrKeyword:
            ++n_positional;
            n_positional_required += params[i].required();
            break;
        case ParamKind::VarPositional:
            var_positional = static_cast<int>(i);
            break;
        case ParamKind::VarKeyword:
            var_keyword = static_cast<int>(i);
            break;
        case ParamKind::KeywordOnly:
            break;
        }
    }

    if (n_given > n_positional && var_positional < 0)
        raise_too_many_positional(qualname, n_positional_required, n_positional, n_given);
    for (size_t i = 0; i < std::min(n_given, n_positional); ++i)
        bound[i] = py::reinterpret_borrow<py::object>(PyTuple_GET_ITEM(args, i));
    if (var_positional >= 0) {
        size_t start = std::min(n_given, n_positional);
        bound[var_positional] =
            py::reinterpret_steal<py::object>(PyTuple_GetSlice(args, start, n_given));
    }

    py::dict extra;
    if (kwargs) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            std::string name = py::str(key).cast<std::string>();
            size_t i = 0;
            for (; i < params.size(); ++i) {
                ParamKind kind = params[i].kind;
                if ((kind == ParamKind::PositionalOrKeyword || kind == ParamKind::KeywordOnly) &&
                    params[i].name == name)
                    break;
            }
            if (i == params.size()) {
                if (var_keyword < 0)
                    raise_call_error(qualname, "got an unexpected keyword argument '" + name + "'");
                extra[key] = value;
                continue;
            }
            if (bound[i])
                raise_call_error(qualname, "got multiple values for argument '" + name + "'");
            bound[i] = py::reinterpret_borrow<py::object>(value);
        }
    }
    if (var_keyword >= 0)
        bound[var_keyword] = extra;

    std::vector<std::string> missing_positional, missing_keyword;
    for (size_t i = 0; i < params.size(); ++i) {
        if (bound[i])
            continue;
        if (!params[i].required()) {
            bound[i] = params[i].default_value;
        } else if (params[i].kind == ParamKind::PositionalOrKeyword) {
            missing_positional.push_back(params[i].name);
        } else if (params[i].kind == ParamKind::KeywordOnly) {
            missing_keyword.push_back(params[i].name);
        }
    }
    if (!missing_positional.empty())
        raise_missing(qualname, missing_positional, "positional");
    if (!missing_keyword.empty())
        raise_missing(qualname, missing_keyword, "keyword-only");
    return bound;
}

} // namespace zeka
