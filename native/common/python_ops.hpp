// Statement-level operations of Python that pybind11 does not spell the
// interpreter's way: tuple unpacking, `hasattr` that tolerates any lookup
// error, truth tests, `raise`, and calls that spread a mapping as `**kwargs`.
#pragma once

#include <pybind11/pybind11.h>
#include <string>
#include <vector>

namespace zeka {

namespace py = pybind11;

// `a, b, c = value` for `count` targets, with the interpreter's TypeError and
// ValueError texts.
std::vector<py::object> unpack(const py::handle& value, size_t count);

// Whether looking up `obj.name` succeeds; any `Exception` raised by the lookup
// counts as a missing attribute.
bool has_attribute(const py::handle& obj, const char* name);

// `key in container`.
bool contains(const py::handle& container, const py::handle& key);

// `bool(value)`.
bool truthy(const py::handle& value);

// `raise exc` for an exception instance.
[[noreturn]] void raise_exception(const py::object& exc);

// `raise type(message)` for a builtin exception type such as PyExc_TypeError.
[[noreturn]] void raise_error(PyObject* type, const std::string& message);

// The error Python raises for a local variable read before any branch
// assigned it, in the running interpreter's wording.
[[noreturn]] void raise_unbound_local(const char* name);

// Whether the exception being handled derives from `Exception` (as an
// `except Exception:` clause tests; interrupts and exits are not caught).
bool is_ordinary_exception(const py::error_already_set& e);

// Hands the C++ exception being handled back to Python as the current error:
// a Python exception unchanged, pybind11's builtin ones as their Python type,
// std::invalid_argument and std::domain_error as ValueError, std::out_of_range
// as IndexError, std::bad_alloc as MemoryError, any other std::exception as
// `fallback` with its message. Call it only
// inside a `catch` block.
void restore_python_error(PyObject* fallback);

// `callable(**fixed, **mapping)`: the items of `fixed` first, then those of
// `mapping`, with the interpreter's TypeError texts for a keyword given twice,
// a non-string key and an argument that is no mapping.
py::object call_with_keywords(const py::handle& callable, const py::dict& fixed,
                              const py::handle& mapping);

} // namespace zeka
