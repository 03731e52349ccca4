#include "kernels/text/column_facts.hpp"

#include "kernels/rows/row_hashes.hpp"
#include "kernels/text/text_scans.hpp"

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

// The per-value loops have every call of their bodies inlined: the calls,
// not the work, were most of their time.
#if defined(__GNUC__)
#define ZEKA_FLATTEN __attribute__((flatten))
#else
#define ZEKA_FLATTEN
#endif

namespace zeka::kernels {

namespace {

// Whether the first byte of a text is the least significant of a word read
// from it: then a word's top bytes are the text's last.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kLittleEndian = true;
#else
constexpr bool kLittleEndian = false;
#endif

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Continuation bytes among the eight of a word.
std::int64_t continuations_in(std::uint64_t word) {
    std::uint64_t marks = word & ~(word << 1) & 0x8080808080808080ULL;
    return static_cast<std::int64_t>(((marks >> 7) * 0x0101010101010101ULL) >> 56);
}

// Code points of the well-formed UTF-8 bytes [from, to) of `data`, whose bytes
// from `floor` on may be read: words are read backwards from `to`, and a last
// short piece is read as the word that ends where it ends, the bytes before it
// shifted out, so a short value costs one load and no loop.
std::int64_t code_points_at(const unsigned char* data, std::size_t floor, std::size_t from,
                            std::size_t to) {
    std::int64_t continuations = 0;
    std::size_t end = to;
    std::uint64_t word;
    for (; end - from >= 8; end -= 8) {
        std::memcpy(&word, data + end - 8, 8);
        continuations += continuations_in(word);
    }
    std::size_t rest = end - from;
    if (kLittleEndian && rest > 0 && end >= floor + 8) {
        std::memcpy(&word, data + end - 8, 8);
        continuations += continuations_in(word >> (8 * (8 - rest)));
    } else {
        for (std::size_t i = from; i < end; ++i)
            continuations += is_continuation(data[i]);
    }
    return static_cast<std::int64_t>(to - from) - continuations;
}

// Code points of a well-formed UTF-8 text.
std::int64_t code_points(TextView text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    return code_points_at(bytes, 0, 0, text.size());
}

// Whether the n bytes hold no byte of 0x80 or above, eight at a time.
bool all_ascii(const unsigned char* bytes, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    std::uint64_t any = 0;
    for (; i < n; ++i)
        any |= bytes[i];
    return (any & 0x80) == 0;
}

// Whether the bytes [from, to) of `data` are all ASCII, read as
// code_points_at reads them (bytes from `floor` on may be read).
bool ascii_at(const unsigned char* data, std::size_t floor, std::size_t from, std::size_t to) {
    std::uint64_t any = 0, word;
    std::size_t end = to;
    for (; end - from >= 8; end -= 8) {
        std::memcpy(&word, data + end - 8, 8);
        any |= word;
    }
    std::size_t rest = end - from;
    if (kLittleEndian && rest > 0 && end >= floor + 8) {
        std::memcpy(&word, data + end - 8, 8);
        any |= word >> (8 * (8 - rest));
    } else {
        for (std::size_t i = from; i < end; ++i)
            any |= data[i];
    }
    return (any & 0x8080808080808080ULL) == 0;
}

bool valid_bit(const std::uint8_t* bitmap, std::int64_t index) {
    if (!bitmap)
        return true;
    auto i = static_cast<std::uint64_t>(index);
    return (bitmap[i >> 3] >> (i & 7)) & 1;
}

[[noreturn]] void bad_layout(const std::string& what) {
    throw std::invalid_argument("Arrow text array " + what);
}

[[noreturn]] void bad_text(const std::string& where) {
    throw std::invalid_argument("Arrow text array holds invalid UTF-8 (" + where + ")");
}

void check_array(const ArrowArray& array, std::int64_t buffers) {
    if (array.length < 0 || array.offset < 0)
        bad_layout("has a negative length or offset");
    if (array.n_buffers < buffers || !array.buffers)
        bad_layout("has " + std::to_string(array.n_buffers) + " buffers, needs " +
                   std::to_string(buffers));
}

// A string or large_string array: offsets into one data buffer. Each value
// is visited with its length in code points where `lengths` (else 0).
template <typename Offset, typename Visit>
void read_offsets(const ArrowArray& array, bool lengths, Visit&& visit) {
    check_array(array, 3);
    if (array.length == 0)
        return;
    const auto* validity = static_cast<const std::uint8_t*>(array.buffers[0]);
    const auto* offsets = static_cast<const Offset*>(array.buffers[1]);
    const auto* data = static_cast<const unsigned char*>(array.buffers[2]);
    if (!offsets)
        bad_layout("has no offsets buffer");
    const Offset* first = offsets + array.offset;
    auto n = static_cast<std::size_t>(array.length);
    if (first[0] < 0)
        bad_layout("has a negative offset");
    if (first[n] < first[0])
        bad_layout("has decreasing offsets");
    auto begin = static_cast<std::size_t>(first[0]), end = static_cast<std::size_t>(first[n]);
    if (end > begin && !data)
        bad_layout("has no data buffer");
    // A chunk of ASCII text needs no check per value; in any other, each
    // value that is not ASCII must be valid UTF-8 on its own.
    bool ascii = end == begin || all_ascii(data + begin, end - begin);
    for (std::size_t i = 0; i < n; ++i) {
        auto from = static_cast<std::size_t>(first[i]), to = static_cast<std::size_t>(first[i + 1]);
        // From the first offset on, each value starts where the one before
        // ended: every value read lies within the checked bytes.
        if (first[i + 1] < first[i] || to > end)
            bad_layout("has decreasing offsets at value " + std::to_string(i));
        if (!valid_bit(validity, array.offset + static_cast<std::int64_t>(i))) {
            visit(nullptr, TextView(), 0);
            continue;
        }
        TextView text(reinterpret_cast<const char*>(data) + from, to - from);
        bool plain = ascii || ascii_at(data, begin, from, to);
        if (!plain && !is_valid_utf8(text))
            bad_text("value " + std::to_string(i) + " of its chunk");
        std::int64_t length = !lengths ? 0
                              : plain  ? static_cast<std::int64_t>(to - from)
                                       : code_points_at(data, begin, from, to);
        visit(&text, text, length);
    }
}

// Where the views of a string_view array point: the data buffers after the
// validity and views buffers, whose sizes the last buffer holds.
struct ViewBuffers {
    const unsigned char* views;
    std::int64_t n_data;
    const std::int64_t* sizes;
};

ViewBuffers view_buffers(const ArrowArray& array) {
    check_array(array, 3);
    ViewBuffers out{static_cast<const unsigned char*>(array.buffers[1]), array.n_buffers - 3,
                    static_cast<const std::int64_t*>(array.buffers[array.n_buffers - 1])};
    if (array.length > 0 && !out.views)
        bad_layout("has no views buffer");
    if (out.n_data > 0 && !out.sizes)
        bad_layout("has no buffer sizes");
    return out;
}

// The text of the present value `i` of a string_view array: short values
// inline in their 16-byte view, longer ones in a data buffer.
TextView view_text(const ArrowArray& array, const ViewBuffers& buffers, std::int64_t i) {
    const unsigned char* view = buffers.views + 16 * static_cast<std::size_t>(array.offset + i);
    std::int32_t length, buffer, offset;
    std::memcpy(&length, view, 4);
    if (length < 0)
        bad_layout("has a negative view length at value " + std::to_string(i));
    if (length <= 12)
        return TextView(reinterpret_cast<const char*>(view + 4), static_cast<std::size_t>(length));
    std::memcpy(&buffer, view + 8, 4);
    std::memcpy(&offset, view + 12, 4);
    if (buffer < 0 || buffer >= buffers.n_data || offset < 0 ||
        static_cast<std::int64_t>(offset) + length > buffers.sizes[buffer] ||
        !array.buffers[2 + buffer])
        bad_layout("has a view beyond its data buffer at value " + std::to_string(i));
    return TextView(static_cast<const char*>(array.buffers[2 + buffer]) + offset,
                    static_cast<std::size_t>(length));
}

template <typename Visit> void read_views(const ArrowArray& array, bool lengths, Visit&& visit) {
    ViewBuffers buffers = view_buffers(array);
    const auto* validity = static_cast<const std::uint8_t*>(array.buffers[0]);
    for (std::int64_t i = 0; i < array.length; ++i) {
        if (!valid_bit(validity, array.offset + i)) {
            visit(nullptr, TextView(), 0);
            continue;
        }
        TextView text = view_text(array, buffers, i);
        bool ascii = all_ascii(reinterpret_cast<const unsigned char*>(text.data()), text.size());
        if (!ascii && !is_valid_utf8(text))
            bad_text("value " + std::to_string(i) + " of its chunk");
        std::int64_t length = !lengths ? 0
                              : ascii  ? static_cast<std::int64_t>(text.size())
                                       : code_points(text);
        visit(&text, text, length);
    }
}

// The text of the present value `i` of a string or large_string array,
// checking only the two offsets it reads.
template <typename Offset> TextView offset_text(const ArrowArray& array, std::int64_t i) {
    const auto* offsets = static_cast<const Offset*>(array.buffers[1]) + array.offset;
    const auto* data = static_cast<const char*>(array.buffers[2]);
    if (offsets[i] < 0 || offsets[i + 1] < offsets[i])
        bad_layout("has bad offsets at value " + std::to_string(i));
    auto from = static_cast<std::size_t>(offsets[i]), to = static_cast<std::size_t>(offsets[i + 1]);
    if (to > from && !data)
        bad_layout("has no data buffer");
    return TextView(data + from, to - from);
}

// Whether a present value of the array differs from `first` (taken from
// the first present value where empty), stopping at the first that does.
template <typename TextAt>
bool first_difference(const ArrowArray& array, std::optional<TextView>& first, TextAt&& text_at) {
    const auto* validity = static_cast<const std::uint8_t*>(array.buffers[0]);
    for (std::int64_t i = 0; i < array.length; ++i) {
        if (!valid_bit(validity, array.offset + i))
            continue;
        TextView text = text_at(i);
        if (!first)
            first = text;
        else if (text != *first)
            return true;
    }
    return false;
}

template <typename Visit>
void read_arrow(const char* format, const ArrowArray& array, bool lengths, Visit&& visit) {
    std::string_view f = format ? format : "";
    if (f == "u")
        read_offsets<std::int32_t>(array, lengths, visit);
    else if (f == "U")
        read_offsets<std::int64_t>(array, lengths, visit);
    else if (f == "vu")
        read_views(array, lengths, visit);
    else
        throw std::invalid_argument("Arrow array of format '" + std::string(f) +
                                    "' holds no text the scan reads");
}

// Whether a text that starts with a letter may be inf, infinity or nan:
// "in..." or "na..." in any case.
bool starts_a_number_word(TextView text, unsigned folded_first) {
    if (text.size() < 3)
        return false;
    unsigned second = static_cast<unsigned char>(text[1]) | 0x20u;
    return (folded_first == 'i' && second == 'n') || (folded_first == 'n' && second == 'a');
}

// The facts of a text whose length in code points the reader knows.
ValueFacts facts_of(TextView text, std::int64_t length, const CharClasses& classes, unsigned what) {
    ValueFacts f;
    if (what & (kSpecial | kNumbers))
        f = text_facts(text, classes, what & ~unsigned{kLengths | kRowLengths});
    f.text = true;
    f.length = length;
    return f;
}

} // namespace

ValueFacts text_facts(TextView text, const CharClasses& classes, unsigned what) {
    ValueFacts f;
    f.text = true;
    if (what & (kLengths | kRowLengths))
        f.length = code_points(text);
    if (!(what & (kSpecial | kNumbers)))
        return f;
    // Most texts start with an ASCII letter or digit: such a text is never
    // special-only, and reads as a number only if it starts with a digit or
    // with the i or n of inf, infinity or nan.
    auto first = text.empty() ? 0u : static_cast<unsigned>(static_cast<unsigned char>(text[0]));
    unsigned folded = first | 0x20u;
    bool letter = folded >= 'a' && folded <= 'z';
    bool alnum = letter || (first >= '0' && first <= '9');
    if (what & kSpecial)
        f.special = !alnum && is_special_only(text, classes);
    if (what & kNumbers)
        f.number =
            (!letter || starts_a_number_word(text, folded)) && parses_as_float(text, classes);
    return f;
}

bool is_valid_utf8(TextView text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size(), i = 0;
    while (i < n) {
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            std::uint64_t high = word & 0x8080808080808080ULL;
            if (high == 0) {
                i += 8;
                continue;
            }
            // Straight to the first byte of 0x80 or above.
            if (kLittleEndian)
                i += static_cast<std::size_t>(__builtin_ctzll(high)) / 8;
        }
        unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        std::uint32_t cp, least;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, cp = c & 0x1Fu, least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, cp = c & 0x0Fu, least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, cp = c & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            unsigned char b = s[i + k];
            if (!is_continuation(b))
                return false;
            cp = (cp << 6) | (b & 0x3Fu);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

ColumnFacts::ColumnFacts(const CharClasses& classes, unsigned what, std::size_t max_examples)
    : classes_(&classes), what_(what), max_examples_(max_examples),
      examples_open_(max_examples > 0) {
    if (what & kLengths)
        short_lengths.assign(kShortLengths, 0);
}

void ColumnFacts::add_missing() {
    ++size;
    ++missing;
    if (what_ & kRowLengths)
        row_lengths.push_back(-1);
}

void ColumnFacts::keep_example(std::vector<TextExample>& examples, TextView text) {
    if (examples.size() >= max_examples_)
        return;
    for (const TextExample& kept : examples)
        if (kept.text == text)
            return;
    examples.push_back({text, size - 1});
    examples_open_ =
        number_examples.size() < max_examples_ || string_examples.size() < max_examples_;
}

void ColumnFacts::add(TextView text, const ValueFacts& f) {
    std::int64_t position = size++;
    if (f.text) {
        if (texts++ == 0)
            first_text_ = text;
        else if (!texts_differ && text != first_text_)
            texts_differ = true;
    }
    if (what_ & kLengths) {
        if (f.length < static_cast<std::int64_t>(kShortLengths))
            ++short_lengths[static_cast<std::size_t>(f.length)];
        else
            ++long_lengths[f.length];
    }
    if (what_ & kRowLengths)
        row_lengths.push_back(f.length);
    if ((what_ & kSpecial) && f.special) {
        ++special;
        auto it = special_index_.find(text);
        if (it != special_index_.end()) {
            ++specials[it->second].count;
        } else {
            special_index_.emplace(text, specials.size());
            specials.push_back({text, 1, position});
        }
    }
    if (what_ & kNumbers) {
        numbers += f.number;
        if (f.text && examples_open_)
            keep_example(f.number ? number_examples : string_examples, text);
    }
}

std::int64_t ColumnFacts::length_at(std::int64_t k) const {
    for (std::size_t length = 0; length < short_lengths.size(); ++length) {
        k -= short_lengths[length];
        if (k < 0)
            return static_cast<std::int64_t>(length);
    }
    for (auto [length, count] : long_lengths) {
        k -= count;
        if (k < 0)
            return length;
    }
    throw std::out_of_range("length position beyond the present values");
}

std::vector<std::pair<std::int64_t, std::int64_t>> ColumnFacts::length_counts() const {
    std::vector<std::pair<std::int64_t, std::int64_t>> out;
    for (std::size_t length = 0; length < short_lengths.size(); ++length)
        if (short_lengths[length])
            out.emplace_back(static_cast<std::int64_t>(length), short_lengths[length]);
    for (auto entry : long_lengths)
        out.push_back(entry);
    return out;
}

ZEKA_FLATTEN void scan_views(const TextView* views, const std::int64_t* lengths,
                             const std::uint8_t* kinds, std::size_t n,
                             const ValueFacts* other_facts, ColumnFacts& facts) {
    unsigned what = facts.what() & ~unsigned{kLengths | kRowLengths};
    for (std::size_t i = 0; i < n; ++i) {
        if (kinds[i] == 0) {
            facts.add_missing();
        } else if (kinds[i] == 1) {
            ValueFacts f = text_facts(views[i], facts.classes(), what);
            f.length = lengths[i];
            facts.add(views[i], f);
        } else {
            facts.add(TextView(), *other_facts++);
        }
    }
}

bool is_text_format(const char* format) {
    std::string_view f = format ? format : "";
    return f == "u" || f == "U" || f == "vu";
}

ZEKA_FLATTEN void scan_arrow(const char* format, const ArrowArray& array, ColumnFacts& facts) {
    const CharClasses& classes = facts.classes();
    unsigned what = facts.what();
    bool lengths = what & (kLengths | kRowLengths);
    read_arrow(format, array, lengths,
               [&](const TextView* present, TextView text, std::int64_t length) {
                   if (!present)
                       facts.add_missing();
                   else
                       facts.add(text, facts_of(text, length, classes, what));
               });
}

ZEKA_FLATTEN void hash_arrow(const char* format, const ArrowArray& array, std::uint64_t missing,
                             std::vector<std::uint64_t>& out) {
    read_arrow(format, array, false, [&](const TextView* present, TextView text, std::int64_t) {
        out.push_back(present ? text_hash(text) : missing);
    });
}

void tabulate_arrow(const char* format, const ArrowArray& array, const CharClasses& classes,
                    unsigned what, ValueTable& table) {
    bool lengths = what & (kLengths | kRowLengths);
    read_arrow(
        format, array, lengths, [&](const TextView* present, TextView text, std::int64_t length) {
            table.views.push_back(text);
            table.present.push_back(present != nullptr);
            table.facts.push_back(present ? facts_of(text, length, classes, what) : ValueFacts{});
        });
}

void tabulate_views(const TextView* views, std::size_t n, const CharClasses& classes, unsigned what,
                    ValueTable& table) {
    for (std::size_t i = 0; i < n; ++i) {
        table.views.push_back(views[i]);
        table.present.push_back(1);
        table.facts.push_back(text_facts(views[i], classes, what));
    }
}

std::int64_t null_count(const ArrowArray& array) {
    if (array.null_count >= 0)
        return array.null_count;
    check_array(array, 1);
    const auto* validity = static_cast<const std::uint8_t*>(array.buffers[0]);
    std::int64_t missing = 0;
    if (validity)
        for (std::int64_t i = 0; i < array.length; ++i)
            missing += !valid_bit(validity, array.offset + i);
    return missing;
}

bool text_differs(const char* format, const ArrowArray& array, std::optional<TextView>& first) {
    std::string_view f = format ? format : "";
    if (f == "vu") {
        ViewBuffers buffers = view_buffers(array);
        return first_difference(array, first,
                                [&](std::int64_t i) { return view_text(array, buffers, i); });
    }
    if (f != "u" && f != "U")
        throw std::invalid_argument("Arrow array of format '" + std::string(f) +
                                    "' holds no text the scan reads");
    check_array(array, 3);
    if (array.length > 0 && !array.buffers[1])
        bad_layout("has no offsets buffer");
    if (f == "u")
        return first_difference(
            array, first, [&](std::int64_t i) { return offset_text<std::int32_t>(array, i); });
    return first_difference(array, first,
                            [&](std::int64_t i) { return offset_text<std::int64_t>(array, i); });
}

template <typename Code>
ZEKA_FLATTEN void scan_codes(const Code* codes, std::size_t n, const ValueTable& table,
                             ColumnFacts& facts) {
    auto categories = static_cast<std::int64_t>(table.views.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto code = static_cast<std::int64_t>(codes[i]);
        if (code < 0) {
            facts.add_missing();
            continue;
        }
        if (code >= categories)
            throw std::out_of_range("category code " + std::to_string(code) + " beyond the " +
                                    std::to_string(categories) + " categories");
        auto c = static_cast<std::size_t>(code);
        if (table.present[c])
            facts.add(table.views[c], table.facts[c]);
        else
            facts.add_missing();
    }
}

template void scan_codes(const std::int8_t*, std::size_t, const ValueTable&, ColumnFacts&);
template void scan_codes(const std::int16_t*, std::size_t, const ValueTable&, ColumnFacts&);
template void scan_codes(const std::int32_t*, std::size_t, const ValueTable&, ColumnFacts&);
template void scan_codes(const std::int64_t*, std::size_t, const ValueTable&, ColumnFacts&);

} // namespace zeka::kernels
