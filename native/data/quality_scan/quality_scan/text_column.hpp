// A column's values converted once for the text kernels: UTF-8 views of its
// exact `str` values, with the position of each in the column.
#pragma once

#include "kernels/text/text_view.hpp"

#include <array>
#include <cstdint>
#include <pybind11/pybind11.h>
#include <string>
#include <utility>
#include <vector>

namespace zeka::quality_scan {

namespace py = pybind11;

// The column's values as a private contiguous object array: `values.data()`
// holds `size` object pointers, each owned by the array.
struct ObjectValues {
    py::object array;
    PyObject* const* items = nullptr;
    std::size_t size = 0;
};

// `column.to_numpy(dtype=object, copy=True)`: the values Python code iterating
// the column meets, held by an array that no other code can reach.
ObjectValues object_values(const py::handle& column);

// Positions of the values that pandas' `isna` counts as present, in order.
// Exact str, int and bool values are present, None is missing and an exact
// float is missing when NaN; `isna` (pandas' own) decides every other value,
// in one call over those values.
std::vector<std::size_t> present_positions(const ObjectValues& values, const py::object& isna);

// One view per value of a column, in order: the UTF-8 text of each exact
// `str`, an empty view for any other value (which the caller handles itself).
class TextColumn {
  public:
    explicit TextColumn(std::size_t capacity) { views_.reserve(capacity); }

    // Adds the view of an exact `str`.
    void add(PyObject* text);
    // Adds an empty view for a value that is no exact `str`.
    void skip() { views_.emplace_back(); }
    // Makes the views valid; call once after the last `add`.
    void finish();

    const std::vector<kernels::TextView>& views() const { return views_; }

  private:
    std::vector<kernels::TextView> views_;
    // Views of non-ASCII texts point into the arena, which may still move
    // while it grows: their offsets are fixed up by finish().
    std::vector<std::pair<std::size_t, std::size_t>> arena_views_; // (view, offset)
    std::string arena_;
    // The texts encoded last, by object: a column repeats the same str
    // objects, and their encodings are shared.
    struct Encoded {
        PyObject* text = nullptr;
        std::size_t offset = 0, size = 0;
    };
    std::array<Encoded, 256> recent_{};
};

// The interpreter's own character classes, built on first use.
const kernels::CharClasses& char_classes();

// A kernel that marks each text view (1 or 0) under the given classes.
using TextMarker = void (*)(const kernels::TextView*, std::size_t, const kernels::CharClasses&,
                            std::uint8_t*);

// `size` marks: `marker` over the str views of `texts`, run without the GIL,
// then the marks decided in Python for the other values laid over it.
std::vector<std::uint8_t> mark_texts(std::size_t size, const TextColumn& texts, TextMarker marker,
                                     const std::vector<std::pair<std::size_t, bool>>& decided);

} // namespace zeka::quality_scan
