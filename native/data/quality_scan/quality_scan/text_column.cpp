#include "data/quality_scan/quality_scan/text_column.hpp"

#include <algorithm>
#include <cmath>
#include <pybind11/numpy.h>

namespace zeka::quality_scan {

ObjectValues object_values(const py::handle& column) {
    ObjectValues out;
    py::object array = column.attr("to_numpy")(
        py::arg("dtype") = py::module_::import("builtins").attr("object"), py::arg("copy") = true);
    // A fresh copy from to_numpy is one-dimensional and contiguous; make sure.
    array = py::module_::import("numpy").attr("ascontiguousarray")(array);
    Py_buffer buffer;
    if (PyObject_GetBuffer(array.ptr(), &buffer, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0)
        throw py::error_already_set();
    out.items = static_cast<PyObject* const*>(buffer.buf);
    out.size = static_cast<std::size_t>(buffer.len) / sizeof(PyObject*);
    PyBuffer_Release(&buffer); // the array keeps its memory; we keep the array
    out.array = std::move(array);
    return out;
}

namespace {

// A fresh object array holding `values.items[i]` for each i of `positions`.
py::array object_array(const ObjectValues& values, const std::vector<std::size_t>& positions) {
    py::array out = py::module_::import("numpy").attr("empty")(
        positions.size(), py::arg("dtype") = py::module_::import("builtins").attr("object"));
    auto* slots = static_cast<PyObject**>(out.mutable_data());
    for (std::size_t j = 0; j < positions.size(); ++j) {
        PyObject* value = values.items[positions[j]];
        Py_INCREF(value);
        Py_XSETREF(slots[j], value); // numpy filled the slots with None
    }
    return out;
}

} // namespace

std::vector<std::size_t> present_positions(const ObjectValues& values, const py::object& isna) {
    std::vector<std::size_t> present, undecided;
    present.reserve(values.size);
    for (std::size_t i = 0; i < values.size; ++i) {
        PyObject* value = values.items[i];
        if (PyUnicode_CheckExact(value) || PyLong_CheckExact(value) || PyBool_Check(value))
            present.push_back(i);
        else if (PyFloat_CheckExact(value)) {
            if (!std::isnan(PyFloat_AS_DOUBLE(value)))
                present.push_back(i);
        } else if (value != Py_None)
            undecided.push_back(i);
    }
    if (undecided.empty())
        return present;
    py::array_t<bool> missing = isna(object_array(values, undecided));
    if (missing.ndim() != 1 || static_cast<std::size_t>(missing.size()) != undecided.size())
        throw py::value_error("isna gave " + std::to_string(missing.size()) + " flags for " +
                              std::to_string(undecided.size()) + " values");
    std::vector<std::size_t> kept;
    for (std::size_t j = 0; j < undecided.size(); ++j)
        if (!missing.at(static_cast<py::ssize_t>(j)))
            kept.push_back(undecided[j]);
    std::vector<std::size_t> merged(present.size() + kept.size());
    std::merge(present.begin(), present.end(), kept.begin(), kept.end(), merged.begin());
    return merged;
}

namespace {

// Appends the UTF-8 form of code point `cp`; surrogates are written as
// three bytes like their neighbours, so no code point is lost.
void append_utf8(std::string& out, Py_UCS4 cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

void TextColumn::add(PyObject* text) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(text) != 0)
        throw py::error_already_set();
#endif
    auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(text));
    if (PyUnicode_IS_ASCII(text)) {
        views_.emplace_back(static_cast<const char*>(PyUnicode_DATA(text)), length);
        return;
    }
    Encoded& slot = recent_[(reinterpret_cast<std::uintptr_t>(text) >> 4) % recent_.size()];
    if (slot.text != text) {
        int kind = PyUnicode_KIND(text);
        const void* data = PyUnicode_DATA(text);
        slot = {text, arena_.size(), 0};
        for (std::size_t i = 0; i < length; ++i)
            append_utf8(arena_, PyUnicode_READ(kind, data, static_cast<Py_ssize_t>(i)));
        slot.size = arena_.size() - slot.offset;
    }
    arena_views_.emplace_back(views_.size(), slot.offset);
    views_.emplace_back(nullptr, slot.size);
}

void TextColumn::finish() {
    for (auto [view, offset] : arena_views_)
        views_[view] = kernels::TextView(arena_.data() + offset, views_[view].size());
}

const kernels::CharClasses& char_classes() {
    static const kernels::CharClasses classes = [] {
        kernels::CharClasses out;
        for (Py_UCS4 cp = 0; cp < kernels::CharClasses::kCodePoints; ++cp) {
            if (Py_UNICODE_ISALNUM(cp))
                out.set_alnum(cp);
            if (Py_UNICODE_ISSPACE(cp))
                out.spaces.push_back(cp);
            int digit = Py_UNICODE_TODECIMAL(cp);
            if (digit >= 0)
                out.digits.emplace_back(cp, static_cast<std::uint8_t>(digit));
        }
        return out;
    }();
    return classes;
}

std::vector<std::uint8_t> mark_texts(std::size_t size, const TextColumn& texts, TextMarker marker,
                                     const std::vector<std::pair<std::size_t, bool>>& decided) {
    const std::vector<kernels::TextView>& views = texts.views();
    std::vector<std::uint8_t> marks(size);
    const kernels::CharClasses& classes = char_classes();
    {
        // No GIL needed: the kernel reads only our private copy's str data and our own buffers.
        py::gil_scoped_release release;
        marker(views.data(), views.size(), classes, marks.data());
    }
    for (auto [i, mark] : decided)
        marks[i] = mark;
    return marks;
}

} // namespace zeka::quality_scan
