// One pass over a column's values that gathers every per-value fact the
// integrity checks use: which values are missing, which are text, the length
// of each value's text form, which texts are made only of special characters
// and which read as a number, with the first examples of each kind.
//
// The facts of consecutive row ranges merge into the facts of the whole
// column: counts and the length histogram add, special-only values keep
// their first occurrence and add their counts, and the examples of the later
// range fill what the earlier one left free.
#pragma once

#include "kernels/text/arrow_c_data.hpp"
#include "kernels/text/text_view.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zeka::kernels {

// Which facts a scan gathers (or-ed together); the counts of missing,
// present and text values are always gathered.
enum FactSet : unsigned {
    kLengths = 1,    // the length histogram
    kRowLengths = 2, // the length of every row (-1 where missing)
    kSpecial = 4,    // special-only values and their counts
    kNumbers = 8,    // values that read as a number, and the examples
};

// The facts of one value.
struct ValueFacts {
    std::int64_t length = 0; // code points of its text form
    bool text = false;       // a str (else a present value of another type)
    bool special = false;    // a non-empty text with no letter or digit
    bool number = false;     // float() accepts it
};

// The facts of one text under `classes`, for the facts in `what`.
ValueFacts text_facts(TextView text, const CharClasses& classes, unsigned what);

// Whether `text` is well-formed UTF-8 (no overlong form, surrogate or code
// point beyond U+10FFFF).
bool is_valid_utf8(TextView text);

struct TextExample {
    TextView text;
    std::int64_t position;
};

struct SpecialCount {
    TextView text;
    std::int64_t count;
    std::int64_t first; // position of the first occurrence
};

class ColumnFacts {
  public:
    ColumnFacts(const CharClasses& classes, unsigned what, std::size_t max_examples);

    // A missing value at the next position.
    void add_missing();
    // A present text at the next position.
    void add_text(TextView text) { add(text, text_facts(text, *classes_, what_)); }
    // A present value whose facts are known; `text` is its text where it is one.
    void add(TextView text, const ValueFacts& facts);

    unsigned what() const { return what_; }
    const CharClasses& classes() const { return *classes_; }

    std::int64_t size = 0;    // values seen
    std::int64_t missing = 0; // of which missing
    std::int64_t texts = 0;   // present values that are text
    std::int64_t special = 0; // special-only texts
    std::int64_t numbers = 0; // present values that read as a number
    // Whether two present texts differ (the first text is kept to compare).
    bool texts_differ = false;

    // Length histogram: counts[length] for short lengths, the rest by length.
    std::vector<std::int64_t> short_lengths;
    std::map<std::int64_t, std::int64_t> long_lengths;
    std::vector<std::int64_t> row_lengths;

    std::vector<SpecialCount> specials; // in order of first occurrence
    // The first distinct texts that do and do not read as a number, and the
    // positions of the present values that are not text (their own kind).
    std::vector<TextExample> number_examples, string_examples;

    // The length at sorted position `k` (0-based) of the present values.
    std::int64_t length_at(std::int64_t k) const;
    // The histogram as (length, count) pairs, ascending.
    std::vector<std::pair<std::int64_t, std::int64_t>> length_counts() const;

  private:
    static constexpr std::size_t kShortLengths = 1024;
    void keep_example(std::vector<TextExample>& examples, TextView text);

    const CharClasses* classes_;
    unsigned what_;
    std::size_t max_examples_;
    bool examples_open_; // whether either kind of example has room left
    std::unordered_map<std::string_view, std::size_t> special_index_;
    TextView first_text_;
};

// The values of one object column, after the caller classified them: kind 0
// missing, 1 text (its view in `views`, its length in code points in
// `lengths`, which the caller knows), 2 another present value whose facts
// are the next entry of `other_facts`.
void scan_views(const TextView* views, const std::int64_t* lengths, const std::uint8_t* kinds,
                std::size_t n, const ValueFacts* other_facts, ColumnFacts& facts);

// Whether an Arrow array of this format holds text the scan reads in place:
// "u" (string), "U" (large_string) or "vu" (string_view).
bool is_text_format(const char* format);

// Every value of one Arrow array (a chunk) of a text format, read in place:
// validity bitmap, offset and length of the array as its struct gives them.
// Throws std::invalid_argument for a layout that does not fit (missing
// buffers, offsets that decrease or are negative, a view beyond its buffer)
// and for text that is not valid UTF-8.
void scan_arrow(const char* format, const ArrowArray& array, ColumnFacts& facts);

// The missing values of one Arrow array: its null count, or the zero bits
// of its validity bitmap where the export leaves the count open (-1).
std::int64_t null_count(const ArrowArray& array);

// Whether a present text of one Arrow text array differs from `first`, the
// first present text seen so far (set from this array where empty); stops
// at the first that does, so one that differs early costs nothing more.
bool text_differs(const char* format, const ArrowArray& array, std::optional<TextView>& first);

// The hash (text_hash) of every value of one Arrow text array, in order,
// `missing` for a missing value; appended to `out`. Throws as scan_arrow.
void hash_arrow(const char* format, const ArrowArray& array, std::uint64_t missing,
                std::vector<std::uint64_t>& out);

// The facts of each value of one Arrow text array, with its view, in order
// (the categories of a categorical column): missing values have kind 0.
struct ValueTable {
    std::vector<TextView> views;
    std::vector<ValueFacts> facts;
    std::vector<std::uint8_t> present;
};
void tabulate_arrow(const char* format, const ArrowArray& array, const CharClasses& classes,
                    unsigned what, ValueTable& table);
void tabulate_views(const TextView* views, std::size_t n, const CharClasses& classes, unsigned what,
                    ValueTable& table);

// Rows given by codes into `table` (a category each; a negative code is a
// missing value). Throws std::out_of_range for a code beyond the table.
template <typename Code>
void scan_codes(const Code* codes, std::size_t n, const ValueTable& table, ColumnFacts& facts);

} // namespace zeka::kernels
