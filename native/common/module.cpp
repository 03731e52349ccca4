#include "common/module.hpp"

#include "common/python_ops.hpp"

#include <string>

namespace zeka {

void import_from(py::module_& m, const py::module_& source,
                 std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (!py::hasattr(source, name))
            raise_error(PyExc_ImportError,
                        std::string("cannot import name '") + name + "' from '" +
                            py::str(source.attr("__name__")).cast<std::string>() + "'");
        m.attr(name) = source.attr(name);
    }
}

void import_from(py::module_& m, const char* source, std::initializer_list<const char*> names) {
    import_from(m, py::module_::import(source), names);
}

py::module_ import_relative(const py::module_& m, const char* relative_name) {
    py::object package = m.attr("__name__").attr("rpartition")(".")[py::int_(0)];
    return py::module_::import("importlib").attr("import_module")(relative_name, package);
}

int run_module_body(PyObject* module, ModuleBody body) {
    try {
        py::detail::get_internals(); // pybind11's error and cast machinery
        auto m = py::reinterpret_borrow<py::module_>(module);
        body(m);
        return 0;
    } catch (const std::exception&) {
        restore_python_error(PyExc_ImportError);
    }
    return -1;
}

} // namespace zeka
