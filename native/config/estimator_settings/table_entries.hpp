// Builders for the parameter entries of the hyper-parameter tables.
//
// A parameter entry is the list [widget, widget arguments, label, default].
// Every builder returns fresh list objects, so no two entries share one.
#pragma once

#include <initializer_list>
#include <pybind11/pybind11.h>

namespace zeka::settings {

namespace py = pybind11;

inline py::object I(long value) {
    return py::int_(value);
}
inline py::object F(double value) {
    return py::float_(value);
}
inline py::object S(const char* value) {
    return py::str(value);
}

inline py::list list_of(std::initializer_list<py::object> items) {
    py::list out;
    for (const py::object& item : items)
        out.append(item);
    return out;
}

template <typename Texts> py::list strings(const Texts& items) {
    py::list out;
    for (const char* item : items)
        out.append(py::str(item));
    return out;
}
inline py::list strings(std::initializer_list<const char*> items) {
    return strings<std::initializer_list<const char*>>(items);
}

inline py::list entry(const char* widget, py::list args, const char* label, py::object value) {
    return list_of({S(widget), args, S(label), value});
}

// "BoundedIntText" / "BoundedFloatText": initial value, minimum, maximum.
inline py::list bounded(const char* widget, py::object value, py::object min, py::object max,
                        const char* label, py::object default_value) {
    return entry(widget, list_of({value, min, max}), label, default_value);
}

inline py::list int_box(long value, long min, long max, const char* label) {
    return bounded("BoundedIntText", I(value), I(min), I(max), label, I(value));
}

// "Dropdown" of strings whose default is its initial value.
inline py::list dropdown(const char* value, std::initializer_list<const char*> options,
                         const char* label) {
    return entry("Dropdown", list_of({S(value), strings(options)}), label, S(value));
}

// "Text": initial text and placeholder.
inline py::list text(const char* value, const char* placeholder, const char* label,
                     py::object default_value) {
    return entry("Text", strings({value, placeholder}), label, default_value);
}

// A fixed parameter that no widget shows.
inline py::list fixed(py::object value) {
    return entry("", py::list(), "", value);
}

} // namespace zeka::settings
