// A column's values converted once for the text kernels: UTF-8 views of its
// exact `str` values, with the position of each in the column.
#pragma once

#include "kernels/text/text_view.hpp"

#include <pybind11/pybind11.h>
#include <string>
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

class TextColumn {
  public:
    // Adds the text of an exact `str`, remembering its position `row`.
    void add(PyObject* text, std::size_t row);
    // Makes the views valid; call once after the last `add`.
    void finish();

    const std::vector<kernels::TextView>& views() const { return views_; }
    const std::vector<std::size_t>& rows() const { return rows_; }

  private:
    struct Piece {
        const char* data; // nullptr: `offset` into the arena
        std::size_t offset, size;
    };
    std::vector<Piece> pieces_;
    std::vector<kernels::TextView> views_;
    std::vector<std::size_t> rows_;
    std::string arena_; // UTF-8 of the texts that are not plain ASCII
};

// The interpreter's own character classes, built on first use.
const kernels::CharClasses& char_classes();

} // namespace zeka::quality_scan
