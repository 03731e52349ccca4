#include "common/python_ops.hpp"

#include <new>
#include <stdexcept>

namespace zeka {

namespace {

std::string type_name(const py::handle& value) {
    return Py_TYPE(value.ptr())->tp_name;
}

// How the interpreter names a callable in argument errors: "module.qualname()",
// "qualname()" for builtins, or str(callable) when it has no qualified name.
std::string function_text(const py::handle& callable) {
    if (!has_attribute(callable, "__qualname__"))
        return py::str(callable).cast<std::string>();
    std::string qualname = py::str(callable.attr("__qualname__")).cast<std::string>();
    if (has_attribute(callable, "__module__")) {
        py::object module = callable.attr("__module__");
        if (!module.is_none() &&
            !(PyUnicode_Check(module.ptr()) && module.equal(py::str("builtins"))))
            return py::str(module).cast<std::string>() + "." + qualname + "()";
    }
    return qualname + "()";
}

// Adds one `**` item to the call's keywords.
void add_keyword(const py::handle& callable, py::dict& kwargs, const py::handle& key,
                 const py::handle& value) {
    if (!PyUnicode_Check(key.ptr()))
        raise_error(PyExc_TypeError, function_text(callable) + " keywords must be strings");
    if (kwargs.contains(key))
        raise_error(PyExc_TypeError, function_text(callable) +
                                         " got multiple values for keyword argument '" +
                                         key.cast<std::string>() + "'");
    kwargs[key] = value;
}

} // namespace

std::vector<py::object> unpack(const py::handle& value, size_t count) {
    PyObject* iterator = PyObject_GetIter(value.ptr());
    if (!iterator) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError))
            throw py::error_already_set();
        PyErr_Clear();
        raise_error(PyExc_TypeError, "cannot unpack non-iterable " + type_name(value) + " object");
    }
    py::object items = py::reinterpret_steal<py::object>(iterator);
    std::vector<py::object> targets;
    while (targets.size() <= count) {
        PyObject* item = PyIter_Next(items.ptr());
        if (!item) {
            if (PyErr_Occurred())
                throw py::error_already_set();
            break;
        }
        if (targets.size() == count)
            raise_error(PyExc_ValueError,
                        "too many values to unpack (expected " + std::to_string(count) + ")");
        targets.push_back(py::reinterpret_steal<py::object>(item));
    }
    if (targets.size() < count)
        raise_error(PyExc_ValueError, "not enough values to unpack (expected " +
                                          std::to_string(count) + ", got " +
                                          std::to_string(targets.size()) + ")");
    return targets;
}

bool has_attribute(const py::handle& obj, const char* name) {
    PyObject* value = PyObject_GetAttrString(obj.ptr(), name);
    if (value) {
        Py_DECREF(value);
        return true;
    }
    if (!PyErr_ExceptionMatches(PyExc_Exception))
        throw py::error_already_set();
    PyErr_Clear();
    return false;
}

bool contains(const py::handle& container, const py::handle& key) {
    int found = PySequence_Contains(container.ptr(), key.ptr());
    if (found < 0)
        throw py::error_already_set();
    return found == 1;
}

bool truthy(const py::handle& value) {
    int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0)
        throw py::error_already_set();
    return truth == 1;
}

void raise_exception(const py::object& exc) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    throw py::error_already_set();
}

void raise_error(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

void raise_unbound_local(const char* name) {
#if PY_VERSION_HEX >= 0x030B0000
    raise_error(PyExc_UnboundLocalError, std::string("cannot access local variable '") + name +
                                             "' where it is not associated with a value");
#else
    raise_error(PyExc_UnboundLocalError,
                std::string("local variable '") + name + "' referenced before assignment");
#endif
}

bool is_ordinary_exception(const py::error_already_set& e) {
    return e.matches(PyExc_Exception);
}

void restore_python_error(PyObject* fallback) {
    try {
        throw;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::domain_error& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::out_of_range& e) {
        PyErr_SetString(PyExc_IndexError, e.what());
    } catch (const std::exception& e) {
        PyErr_SetString(fallback, e.what());
    }
}

py::object call_with_keywords(const py::handle& callable, const py::dict& fixed,
                              const py::handle& mapping) {
    py::dict kwargs;
    for (auto item : fixed)
        kwargs[item.first] = item.second;
    if (PyDict_Check(mapping.ptr())) {
        for (auto item : py::reinterpret_borrow<py::dict>(mapping))
            add_keyword(callable, kwargs, item.first, item.second);
    } else {
        if (!has_attribute(mapping, "keys"))
            raise_error(PyExc_TypeError, function_text(callable) +
                                             " argument after ** must be a mapping, not " +
                                             type_name(mapping));
        for (py::handle key : mapping.attr("keys")())
            add_keyword(callable, kwargs, key, mapping[key]);
    }
    PyObject* result = PyObject_Call(callable.ptr(), py::tuple().ptr(), kwargs.ptr());
    if (!result)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

} // namespace zeka
