// Binding of the model kernels' functions with plain pybind11.
#pragma once

#include <initializer_list>
#include <pybind11/pybind11.h>
#include <string>
#include <utility>

namespace zeka {

namespace py = pybind11;

// "name(a, b, c)\n--\n\n" + doc: a docstring that starts with the text
// signature CPython reads for a built-in function, so that inspect.signature
// and help() show the parameters (pybind11's own signature line, with its
// types, is not a form inspect reads).
inline std::string signed_doc(const char* name, std::initializer_list<const char*> params,
                              const char* doc) {
    std::string text = std::string(name) + "(";
    const char* separator = "";
    for (const char* param : params) {
        text += separator;
        text += param;
        separator = ", ";
    }
    return text + ")\n--\n\n" + doc;
}

// `m.def(name, function, doc, py::arg(...)...)` with the text signature of
// the named arguments in front of the docstring.
template <typename Function, typename... Args>
void def_kernel(py::module_& m, const char* name, Function&& function, const char* doc,
                const Args&... args) {
    py::options options; // restores pybind11's defaults when it goes out of scope
    options.disable_function_signatures();
    m.def(name, std::forward<Function>(function), signed_doc(name, {args.name...}, doc).c_str(),
          args...);
}

} // namespace zeka
