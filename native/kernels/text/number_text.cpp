// The syntax the built-in `float` accepts for a str, as one pass over the
// code points. The interpreter first maps every code point from U+007F up to
// a space (whitespace) or an ASCII digit (decimal digits of any script) and
// refuses any other; it then checks that each underscore stands between two
// digits and drops it, strips ASCII whitespace from both ends and parses the
// rest as a decimal number or as inf, infinity or nan.
#include "kernels/text/text_scans.hpp"

namespace zeka::kernels {

namespace {

constexpr char kRefused = 0;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_ascii_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// The ASCII character the interpreter reads for code point `cp`, or
// kRefused. NUL is refused too: the parser stops at it, so it never parses.
char transformed(std::uint32_t cp, const CharClasses& classes) {
    if (cp < 127)
        return cp == 0 ? kRefused : static_cast<char>(cp);
    if (classes.is_space(cp))
        return ' ';
    int digit = classes.decimal_value(cp);
    return digit >= 0 ? static_cast<char>('0' + digit) : kRefused;
}

class FloatSyntax {
  public:
    // Feeds one character after the underscore pass; false once the text
    // can no longer parse.
    bool feed(char c);
    bool accepted() const;

  private:
    enum class State { Lead, Sign, Int, Dot, Frac, Exp, ExpSign, ExpDigits, Word, Trail };
    bool end_word() const;

    State state_ = State::Lead;
    char word_[9] = {};
    int word_length_ = 0;
};

bool FloatSyntax::feed(char c) {
    switch (state_) {
    case State::Lead:
        if (is_ascii_space(c))
            return true;
        [[fallthrough]];
    case State::Sign:
        if ((c == '+' || c == '-') && state_ == State::Lead) {
            state_ = State::Sign;
            return true;
        }
        if (is_digit(c)) {
            state_ = State::Int;
            return true;
        }
        if (c == '.') {
            state_ = State::Dot;
            return true;
        }
        if (lower(c) == 'i' || lower(c) == 'n') {
            state_ = State::Word;
            word_[word_length_++] = lower(c);
            return true;
        }
        return false;
    case State::Int:
        if (is_digit(c))
            return true;
        if (c == '.') {
            state_ = State::Frac;
            return true;
        }
        break;
    case State::Dot:
        if (!is_digit(c))
            return false;
        state_ = State::Frac;
        return true;
    case State::Frac:
        if (is_digit(c))
            return true;
        break;
    case State::Exp:
        if (c == '+' || c == '-') {
            state_ = State::ExpSign;
            return true;
        }
        [[fallthrough]];
    case State::ExpSign:
        if (!is_digit(c))
            return false;
        state_ = State::ExpDigits;
        return true;
    case State::ExpDigits:
        if (is_digit(c))
            return true;
        return is_ascii_space(c) && (state_ = State::Trail, true);
    case State::Word:
        if (is_ascii_space(c)) {
            state_ = State::Trail;
            return end_word();
        }
        if (word_length_ == 8)
            return false;
        word_[word_length_++] = lower(c);
        return true;
    case State::Trail:
        return is_ascii_space(c);
    }
    // Int or Frac followed by something other than a digit.
    if (lower(c) == 'e') {
        state_ = State::Exp;
        return true;
    }
    if (is_ascii_space(c)) {
        state_ = State::Trail;
        return true;
    }
    return false;
}

bool FloatSyntax::end_word() const {
    std::string_view word(word_, static_cast<std::size_t>(word_length_));
    return word == "inf" || word == "infinity" || word == "nan";
}

bool FloatSyntax::accepted() const {
    switch (state_) {
    case State::Int:
    case State::Frac:
    case State::ExpDigits:
    case State::Trail:
        return true;
    case State::Word:
        return end_word();
    default:
        return false;
    }
}

} // namespace

namespace {

// The common plain forms ("12", "-3.5", "0.001", " 42 ", "1e5"): ASCII
// spaces, a sign, digits with at most one point and at least one digit, an
// exponent, spaces. Anything else takes the full syntax.
bool is_plain_decimal(TextView text) {
    std::size_t i = 0, n = text.size();
    auto digits = [&] {
        std::size_t start = i;
        while (i < n && is_digit(text[i]))
            ++i;
        return i - start;
    };
    while (i < n && is_ascii_space(text[i]))
        ++i;
    if (i < n && (text[i] == '-' || text[i] == '+'))
        ++i;
    std::size_t mantissa = digits();
    if (i < n && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '-' || text[i] == '+'))
            ++i;
        if (digits() == 0)
            return false;
    }
    while (i < n && is_ascii_space(text[i]))
        ++i;
    return i == n;
}

} // namespace

bool parses_as_float(TextView text, const CharClasses& classes) {
    if (is_plain_decimal(text))
        return true;
    FloatSyntax syntax;
    char previous = kRefused;
    bool digit_must_follow = false; // an underscore was just dropped
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto byte = static_cast<unsigned char>(text[pos]);
        char c = byte < 0x80
                     ? (++pos, byte == 0 || byte == 127 ? kRefused : static_cast<char>(byte))
                     : transformed(next_code_point(text, &pos), classes);
        if (c == kRefused)
            return false;
        if (c == '_') {
            if (!is_digit(previous))
                return false;
            digit_must_follow = true;
            previous = c;
            continue;
        }
        if (digit_must_follow && !is_digit(c))
            return false;
        digit_must_follow = false;
        previous = c;
        if (!syntax.feed(c))
            return false;
    }
    return !digit_must_follow && syntax.accepted();
}

void mark_float_texts(const TextView* views, std::size_t n, const CharClasses& classes,
                      std::uint8_t* out) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = parses_as_float(views[i], classes);
}

} // namespace zeka::kernels
