// The function type: the CPython type object of `Function`, its call, descriptor,
// attribute and garbage-collection slots, and the making of instances.
#include "common/argument_binding.hpp"
#include "common/function.hpp"
#include "common/python_ops.hpp"

#include <memory>
#include <structmember.h>

namespace zeka {

Frame::Frame(py::dict globals, py::tuple closure, std::vector<py::object> args)
    : globals_(std::move(globals)), closure_(std::move(closure)), args_(std::move(args)) {}

py::object Frame::global(const char* name) const {
    if (PyObject* value = PyDict_GetItemString(globals_.ptr(), name))
        return py::reinterpret_borrow<py::object>(value);
    if (PyObject* value = PyDict_GetItemString(PyEval_GetBuiltins(), name))
        return py::reinterpret_borrow<py::object>(value);
    raise_error(PyExc_NameError, std::string("name '") + name + "' is not defined");
}

namespace {

// What never changes after definition: parameters and body.
struct Code {
    std::vector<Param> params;
    Body body;
};

struct FunctionObject {
    PyObject_HEAD Code* code;
    PyObject* globals;
    PyObject* closure;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* dict;
    PyObject* code_object; // `__code__`, made on first use
    PyObject* weakrefs;
};

PyObject* function_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    if (!f->code) {
        PyErr_SetString(PyExc_TypeError, "function object has no code");
        return nullptr;
    }
    try {
        Frame frame(py::reinterpret_borrow<py::dict>(f->globals),
                    py::reinterpret_borrow<py::tuple>(f->closure),
                    bind_arguments(f->code->params, f->qualname, args, kwargs));
        return f->code->body(frame).release().ptr();
    } catch (const std::exception&) {
        restore_python_error(PyExc_RuntimeError);
    }
    return nullptr;
}

PyObject* function_get(PyObject* self, PyObject* instance, PyObject*) {
    if (instance == nullptr || instance == Py_None) {
        Py_INCREF(self);
        return self;
    }
    return PyMethod_New(self, instance);
}

PyObject* function_repr(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    if (!f->qualname)
        return PyUnicode_FromFormat("<function at %p>", self);
    return PyUnicode_FromFormat("<function %U at %p>", f->qualname, self);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->globals);
    Py_VISIT(f->closure);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->dict);
    Py_VISIT(f->code_object);
    if (f->code)
        for (const Param& p : f->code->params)
            Py_VISIT(p.default_value.ptr());
    return 0;
}

int function_clear(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->closure);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->dict);
    Py_CLEAR(f->code_object);
    return 0;
}

void function_dealloc(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (f->weakrefs)
        PyObject_ClearWeakRefs(self);
    function_clear(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    delete f->code;
    type->tp_free(self);
    Py_DECREF(type);
}

// inspect.Signature built from the parameter list, as inspect reads a `def`.
PyObject* function_signature(PyObject* self, void*) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    if (!f->code) {
        PyErr_SetString(PyExc_TypeError, "function object has no code");
        return nullptr;
    }
    try {
        py::module_ inspect = py::module_::import("inspect");
        py::object parameter = inspect.attr("Parameter");
        py::list parameters;
        for (const Param& p : f->code->params) {
            const char* kind = "POSITIONAL_OR_KEYWORD";
            if (p.kind == ParamKind::VarPositional)
                kind = "VAR_POSITIONAL";
            else if (p.kind == ParamKind::KeywordOnly)
                kind = "KEYWORD_ONLY";
            else if (p.kind == ParamKind::VarKeyword)
                kind = "VAR_KEYWORD";
            py::object default_value = p.required() ? parameter.attr("empty") : p.default_value;
            parameters.append(
                parameter(p.name, parameter.attr(kind), py::arg("default") = default_value));
        }
        return inspect.attr("Signature")(parameters).release().ptr();
    } catch (py::error_already_set& e) {
        e.restore();
        return nullptr;
    }
}

// Functions pickle by reference, like Python's own.
PyObject* function_reduce(PyObject* self, PyObject*) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_INCREF(f->qualname);
    return f->qualname;
}

int set_text(PyObject** slot, PyObject* value, const char* what) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_INCREF(value);
    Py_SETREF(*slot, value);
    return 0;
}

PyObject* get_name(PyObject* self, void*) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_INCREF(f->name);
    return f->name;
}
int set_name(PyObject* self, PyObject* value, void*) {
    return set_text(&reinterpret_cast<FunctionObject*>(self)->name, value, "__name__");
}
PyObject* get_qualname(PyObject* self, void*) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_INCREF(f->qualname);
    return f->qualname;
}
int set_qualname(PyObject* self, PyObject* value, void*) {
    return set_text(&reinterpret_cast<FunctionObject*>(self)->qualname, value, "__qualname__");
}

// A function reports its class as Python's function type, as a function
// written in Python would, so that `help()` titles it "function <name> in
// module <module>" and `inspect.isfunction` recognises it. `type()` still
// gives the real type (pickling and copying go by it), and `inspect.signature`
// reads `__signature__` before it looks at the kind of callable.
PyObject* get_class(PyObject*, void*) {
    auto* function = reinterpret_cast<PyObject*>(&PyFunction_Type);
    Py_INCREF(function);
    return function;
}

// What tools that take us for a Python function read from `__code__`: an
// empty code object (no generator or coroutine flags, no source lines) named
// after the function and placed in the extension module's file. Made once,
// on first use.
PyObject* get_code(PyObject* self, void*) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    if (!f->code_object) {
        PyObject* file = PyDict_GetItemString(f->globals, "__file__");
        const char* filename = file && PyUnicode_Check(file) ? PyUnicode_AsUTF8(file) : "<native>";
        const char* name = PyUnicode_AsUTF8(f->name);
        if (!filename || !name)
            return nullptr;
        f->code_object = reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, name, 0));
        if (!f->code_object)
            return nullptr;
    }
    Py_INCREF(f->code_object);
    return f->code_object;
}

PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(FunctionObject, module), 0, nullptr},
    {"__doc__", T_OBJECT, offsetof(FunctionObject, doc), 0, nullptr},
    {"__globals__", T_OBJECT, offsetof(FunctionObject, globals), READONLY, nullptr},
    {"__closure__", T_OBJECT, offsetof(FunctionObject, closure), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__signature__", function_signature, nullptr, nullptr, nullptr},
    {"__class__", get_class, nullptr, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject* create_function_type() {
    PyType_Slot slots[] = {
        {Py_tp_call, reinterpret_cast<void*>(function_call)},
        {Py_tp_descr_get, reinterpret_cast<void*>(function_get)},
        {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
        {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
        {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
        {Py_tp_members, function_members},
        {Py_tp_getset, function_getset},
        {Py_tp_methods, function_methods},
        {0, nullptr},
    };
    unsigned int flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_METHOD_DESCRIPTOR;
#if PY_VERSION_HEX >= 0x030A0000
    flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
#endif
    PyType_Spec spec = {"zeka.function", sizeof(FunctionObject), 0, flags, slots};
    PyObject* type = PyType_FromSpec(&spec);
    if (!type)
        throw py::error_already_set();
    auto* t = reinterpret_cast<PyTypeObject*>(type);
    // Only make_function creates instances: one made from Python would have
    // no code to run. Without a tp_new, type.__call__ and object.__new__ refuse.
    t->tp_new = nullptr;
    // Instances carry a __dict__ and accept weak references, like functions.
    t->tp_dictoffset = offsetof(FunctionObject, dict);
    t->tp_weaklistoffset = offsetof(FunctionObject, weakrefs);
    return t;
}

} // namespace

PyTypeObject* function_type() {
    static PyTypeObject* type = create_function_type();
    return type;
}

py::object make_function(FunctionDef def, py::dict globals, py::tuple closure) {
    PyTypeObject* type = function_type();
    auto* f = PyObject_GC_New(FunctionObject, type);
    if (!f)
        throw py::error_already_set();
    f->code = new Code{std::move(def.params), def.body};
    f->globals = globals.release().ptr();
    f->closure = closure.release().ptr();
    f->name = py::str(def.name).release().ptr();
    f->qualname = py::str(def.qualname.empty() ? def.name : def.qualname).release().ptr();
    PyObject* module = PyDict_GetItemString(f->globals, "__name__");
    f->module = module ? module : Py_None;
    Py_INCREF(f->module);
    f->doc = def.doc.empty() ? (Py_INCREF(Py_None), Py_None) : py::str(def.doc).release().ptr();
    f->dict = nullptr;
    f->code_object = nullptr;
    f->weakrefs = nullptr;
    PyObject_GC_Track(reinterpret_cast<PyObject*>(f));
    return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(f));
}

} // namespace zeka
