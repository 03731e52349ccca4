#include "common/module.hpp"

namespace zeka {

namespace py = pybind11;

int run_module_body(PyObject* module, ModuleBody body) {
    try {
        py::detail::get_internals(); // pybind11's error and cast machinery
        auto m = py::reinterpret_borrow<py::module_>(module);
        body(m);
        return 0;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_ImportError, e.what());
    }
    return -1;
}

} // namespace zeka
