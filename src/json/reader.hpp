#pragma once
// The strict pull reader: a cursor over the UTF-8 text of one JSON document.
//
// The reader offers the steps a mapping needs (peek the next token, read a string or a number, walk
// the elements of an array or the keys of an object, skip a value) and fails with a ParseError
// whose position is where reading stopped. Two positions are used, as the error texts require:
//   fail()          the current offset: the error is reported after the last byte consumed;
//   fail_at_peek()  one past the current offset: the error is reported at the byte looked at.
// Positions are byte offsets until the error is built; only then are they turned into line/column.
//
// Nesting is limited: the outermost array or object is level 1 and entering level 128 fails with
// "recursion limit exceeded". Values that are skipped are walked without recursion and without
// any limit. The text is expected to be valid UTF-8 (the loader checks it); other bytes never make
// reading crash.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/error.hpp"
#include "json/value.hpp"

namespace tavo::json {

// A number as written: a non-negative integer, a negative integer, or a float (anything with a
// fraction or an exponent, integers beyond the 64-bit ranges, and -0).
struct Number {
    enum class Kind : std::uint8_t { Unsigned, Signed, Float };
    Kind kind = Kind::Unsigned;
    std::uint64_t unsigned_value = 0;
    std::int64_t signed_value = 0;
    double float_value = 0.0;

    double as_double() const;
    // How a message names it: "integer `3`", "integer `-3`", "floating point `1.5`".
    std::string describe() const;
};

class Reader {
public:
    static constexpr int kNestingLimit = 128;

    explicit Reader(std::string_view text) : text_(text) {}

    std::string_view text() const { return text_; }
    std::size_t offset() const { return pos_; }

    // The next byte, or -1 at the end; peek_token() first skips whitespace (space, tab, LF, CR).
    int peek() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1; }
    int peek_token();
    void advance() { ++pos_; }

    [[noreturn]] void fail(ErrorKind kind, const ErrorDetail& detail = {}) const;
    [[noreturn]] void fail_at_peek(ErrorKind kind) const;

    // Scalars; the caller has consumed the first byte ('"', the sign '-' if any, the letter).
    std::string read_string_body();
    Number read_number_body(bool negative);
    void expect_ident(std::string_view rest);

    // Where a value of another kind was expected: reads a scalar to name it (or names the array or
    // object ahead without entering it), then fails with "invalid type: {found}, expected {what}".
    [[noreturn]] void fail_invalid_type(std::string_view expected);

    // A whole free-form value, and a value skipped without building anything.
    Value read_value();
    void skip_value();

    // Nesting: enter() before consuming '[' or '{', leave() after the closing bracket.
    void enter();
    void leave() { ++remaining_depth_; }

    // Arrays, after '[': next_element() tells whether an element follows (consuming the comma
    // before it); end_array() consumes the closing bracket, refusing anything else.
    bool next_element(bool& first);
    void end_array();

    // Objects, after '{': next_key() reads the next key (nothing at the closing brace, which it
    // leaves in place); expect_colon() consumes the colon after a key, end_object() the brace.
    std::optional<std::string> next_key(bool& first);
    void expect_colon();
    void end_object();

    // Only whitespace may follow the document.
    void end_document();

private:
    void parse_escape(std::string& out);
    std::uint16_t read_hex_escape();
    void skip_plain_run();  // to the next quote, backslash, control character or the end
    void skip_string_body();
    void skip_escape();
    void skip_number_body();

    std::string_view text_;
    std::size_t pos_ = 0;
    int remaining_depth_ = kNestingLimit;
};

// Reads a whole document as one free-form value.
Value parse_value_document(std::string_view text);

}  // namespace tavo::json
