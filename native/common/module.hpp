// The entry point of an extension module.
//
// `ZEKA_MODULE(name, m) { ... }` defines `PyInit_<name>` with multi-phase
// initialisation: the interpreter creates the module (with its `__spec__` and
// `__file__`), then the block runs as the module body. An exception raised in
// the body, such as a failed import of a dependency, leaves the import with
// that very exception, as it would for a module written in Python.
#pragma once

#include <initializer_list>
#include <pybind11/pybind11.h>

namespace zeka {

namespace py = pybind11;

// `from <source> import <names>`: binds each name as an attribute of `m`, in
// order, with the interpreter's ImportError when `source` lacks one.
void import_from(py::module_& m, const py::module_& source,
                 std::initializer_list<const char*> names);
void import_from(py::module_& m, const char* source, std::initializer_list<const char*> names);

// The module that `relative_name` (".pipeline", "..models") names relative to
// the package of `m`, as a relative import inside `m` would find it.
py::module_ import_relative(const py::module_& m, const char* relative_name);

using ModuleBody = void (*)(pybind11::module_&);

// Runs `body` on `module`; 0 on success, -1 with the Python error set.
int run_module_body(PyObject* module, ModuleBody body);

} // namespace zeka

#define ZEKA_MODULE(name, variable)                                                                \
    static void zeka_module_body_##name(::pybind11::module_&);                                     \
    static int zeka_module_exec_##name(PyObject* module) {                                         \
        return ::zeka::run_module_body(module, zeka_module_body_##name);                           \
    }                                                                                              \
    extern "C" PYBIND11_EXPORT PyObject* PyInit_##name() {                                         \
        static PyModuleDef_Slot slots[] = {                                                        \
            {Py_mod_exec, reinterpret_cast<void*>(zeka_module_exec_##name)}, {0, nullptr}};        \
        static PyModuleDef def = {                                                                 \
            PyModuleDef_HEAD_INIT, #name, nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr};  \
        return PyModuleDef_Init(&def);                                                             \
    }                                                                                              \
    void zeka_module_body_##name(::pybind11::module_& variable)
