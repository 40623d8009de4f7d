#include "json/reader.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

#include "text/forms.hpp"

namespace tavo::json {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

bool is_digit(int c) { return c >= '0' && c <= '9'; }

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

// Bytes that end the plain run of a string: the quote, the backslash and control characters.
bool ends_plain_run(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

// The decimal exponent of the leading digit of a number that is not zero, written as
// "digits[.digits][(e|E)[sign]digits]" with an exponent that fits 32 bits: 123.4e5 gives 7,
// 0.05 gives -2.
std::int64_t leading_exponent(std::string_view number) {
    const std::size_t e = std::min(number.find_first_of("eE"), number.size());
    std::int64_t exponent = 0;
    if (e < number.size()) {
        std::size_t i = e + 1;
        const bool minus = number[i] == '-';
        if (number[i] == '+' || number[i] == '-') ++i;
        for (; i < number.size(); ++i) exponent = exponent * 10 + (number[i] - '0');
        if (minus) exponent = -exponent;
    }
    const std::string_view mantissa = number.substr(0, e);
    const auto point = static_cast<std::int64_t>(std::min(mantissa.find('.'), mantissa.size()));
    const auto first = static_cast<std::int64_t>(mantissa.find_first_not_of("0."));
    return exponent + point - first - (first < point ? 1 : 0);
}

}  // namespace

double Number::as_double() const {
    switch (kind) {
        case Kind::Unsigned: return static_cast<double>(unsigned_value);
        case Kind::Signed: return static_cast<double>(signed_value);
        case Kind::Float: return float_value;
    }
    return float_value;
}

std::string Number::describe() const {
    switch (kind) {
        case Kind::Unsigned: return "integer `" + std::to_string(unsigned_value) + "`";
        case Kind::Signed: return "integer `" + std::to_string(signed_value) + "`";
        case Kind::Float: return "floating point `" + text::plain(float_value) + "`";
    }
    return {};
}

int Reader::peek_token() {
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') break;
        ++pos_;
    }
    return peek();
}

void Reader::fail(ErrorKind kind, const ErrorDetail& detail) const {
    throw ParseError(kind, message(kind, detail), position_of(text_, pos_));
}

void Reader::fail_at_peek(ErrorKind kind) const {
    throw ParseError(kind, message(kind), position_of(text_, pos_ + 1));
}

void Reader::expect_ident(std::string_view rest) {
    for (const char expected : rest) {
        if (pos_ == text_.size()) fail(ErrorKind::EofWhileParsingValue);
        if (text_[pos_++] != expected) fail(ErrorKind::ExpectedSomeIdent);
    }
}

// ---- strings ----------------------------------------------------------------------------------

void Reader::skip_plain_run() {
    while (pos_ < text_.size() && !ends_plain_run(static_cast<unsigned char>(text_[pos_]))) ++pos_;
}

std::string Reader::read_string_body() {
    std::string out;
    std::size_t start = pos_;
    for (;;) {
        skip_plain_run();
        if (pos_ == text_.size()) fail(ErrorKind::EofWhileParsingString);
        const char c = text_[pos_];
        out.append(text_, start, pos_ - start);
        ++pos_;
        if (c == '"') return out;
        if (c != '\\') fail(ErrorKind::ControlCharacterWhileParsingString);
        parse_escape(out);
        start = pos_;
    }
}

std::uint16_t Reader::read_hex_escape() {
    std::uint16_t n = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos_ == text_.size()) fail(ErrorKind::EofWhileParsingString);
        const int digit = hex_value(static_cast<unsigned char>(text_[pos_++]));
        if (digit < 0) fail(ErrorKind::InvalidEscape);
        n = static_cast<std::uint16_t>((n << 4) | digit);
    }
    return n;
}

void Reader::parse_escape(std::string& out) {
    if (pos_ == text_.size()) fail(ErrorKind::EofWhileParsingString);
    switch (text_[pos_++]) {
        case '"': out.push_back('"'); return;
        case '\\': out.push_back('\\'); return;
        case '/': out.push_back('/'); return;
        case 'b': out.push_back('\b'); return;
        case 'f': out.push_back('\f'); return;
        case 'n': out.push_back('\n'); return;
        case 'r': out.push_back('\r'); return;
        case 't': out.push_back('\t'); return;
        case 'u': break;
        default: fail(ErrorKind::InvalidEscape);
    }
    const std::uint16_t first = read_hex_escape();
    if (first >= 0xDC00 && first <= 0xDFFF) fail(ErrorKind::LoneLeadingSurrogateInHexEscape);
    if (first < 0xD800 || first > 0xDBFF) {
        append_utf8(out, first);
        return;
    }
    // A leading surrogate must be followed at once by an escaped trailing one.
    for (const char expected : {'\\', 'u'}) {
        if (pos_ == text_.size()) fail(ErrorKind::EofWhileParsingString);
        if (text_[pos_++] != expected) fail(ErrorKind::UnexpectedEndOfHexEscape);
    }
    const std::uint16_t second = read_hex_escape();
    if (second < 0xDC00 || second > 0xDFFF) fail(ErrorKind::LoneLeadingSurrogateInHexEscape);
    const std::uint32_t high = first - 0xD800u, low = second - 0xDC00u;
    append_utf8(out, 0x10000 + (high << 10) + low);
}

// A skipped string is checked for its syntax only: escapes must be well formed, but a \u escape may
// name any code unit, lone surrogates included. A control character is reported where it stands.
void Reader::skip_string_body() {
    for (;;) {
        skip_plain_run();
        if (pos_ == text_.size()) fail(ErrorKind::EofWhileParsingString);
        const char c = text_[pos_];
        if (c == '"') {
            ++pos_;
            return;
        }
        if (c != '\\') fail(ErrorKind::ControlCharacterWhileParsingString);
        ++pos_;
        skip_escape();
    }
}

void Reader::skip_escape() {
    if (pos_ == text_.size()) fail(ErrorKind::EofWhileParsingString);
    switch (text_[pos_++]) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': return;
        case 'u': read_hex_escape(); return;
        default: fail(ErrorKind::InvalidEscape);
    }
}

// ---- numbers ----------------------------------------------------------------------------------

Number Reader::read_number_body(bool negative) {
    const std::size_t start = pos_;
    if (pos_ == text_.size()) fail(ErrorKind::EofWhileParsingValue);
    const char first = text_[pos_++];
    std::uint64_t significand = 0;
    bool beyond_64_bits = false;
    if (first == '0') {
        if (is_digit(peek())) fail_at_peek(ErrorKind::InvalidNumber);
    } else if (first >= '1' && first <= '9') {
        significand = static_cast<std::uint64_t>(first - '0');
        while (is_digit(peek())) {
            const auto digit = static_cast<std::uint64_t>(text_[pos_] - '0');
            if (significand > (kU64Max - digit) / 10) beyond_64_bits = true;
            significand = significand * 10 + digit;
            ++pos_;
        }
    } else {
        fail(ErrorKind::InvalidNumber);
    }
    bool is_float = beyond_64_bits;
    bool mantissa_is_zero = !beyond_64_bits && significand == 0;
    if (peek() == '.') {
        is_float = true;
        ++pos_;
        const std::size_t digits = pos_;
        while (is_digit(peek())) {
            if (text_[pos_] != '0') mantissa_is_zero = false;
            ++pos_;
        }
        if (pos_ == digits) {
            fail_at_peek(peek() < 0 ? ErrorKind::EofWhileParsingValue : ErrorKind::InvalidNumber);
        }
    }
    if (peek() == 'e' || peek() == 'E') {
        is_float = true;
        ++pos_;
        bool positive_exponent = true;
        if (peek() == '+' || peek() == '-') positive_exponent = text_[pos_++] == '+';
        if (pos_ == text_.size()) fail(ErrorKind::EofWhileParsingValue);
        if (!is_digit(static_cast<unsigned char>(text_[pos_++]))) fail(ErrorKind::InvalidNumber);
        std::int64_t exponent = text_[pos_ - 1] - '0';
        while (is_digit(peek())) {
            exponent = exponent * 10 + (text_[pos_++] - '0');
            if (exponent > std::numeric_limits<std::int32_t>::max()) {
                // An exponent beyond 32 bits: a non-zero number with a positive one cannot be held;
                // anything else is zero.
                if (!mantissa_is_zero && positive_exponent) fail(ErrorKind::NumberOutOfRange);
                while (is_digit(peek())) ++pos_;
                Number zero;
                zero.kind = Number::Kind::Float;
                zero.float_value = negative ? -0.0 : 0.0;
                return zero;
            }
        }
    }

    Number number;
    if (!is_float) {
        if (!negative) {
            number.kind = Number::Kind::Unsigned;
            number.unsigned_value = significand;
            return number;
        }
        if (significand != 0 && significand <= (std::uint64_t{1} << 63)) {
            number.kind = Number::Kind::Signed;
            number.signed_value = -static_cast<std::int64_t>(significand - 1) - 1;
            return number;
        }
        // -0 and negative integers beyond the 64-bit range are floats.
    }
    number.kind = Number::Kind::Float;
    double magnitude = 0.0;
    const std::string_view digits = text_.substr(start, pos_ - start);
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (result.ec == std::errc::result_out_of_range) {
        // Beyond the range of a double: too large is an error, too small is zero.
        if (leading_exponent(digits) >= 0) fail(ErrorKind::NumberOutOfRange);
        magnitude = 0.0;
    }
    number.float_value = negative ? -magnitude : magnitude;
    return number;
}

void Reader::skip_number_body() {
    const int first = peek();
    if (first >= 0) ++pos_;
    if (first == '0') {
        if (is_digit(peek())) fail_at_peek(ErrorKind::InvalidNumber);
    } else if (first >= '1' && first <= '9') {
        while (is_digit(peek())) ++pos_;
    } else {
        fail(ErrorKind::InvalidNumber);
    }
    if (peek() == '.') {
        ++pos_;
        if (!is_digit(peek())) fail_at_peek(ErrorKind::InvalidNumber);
        while (is_digit(peek())) ++pos_;
    }
    if (peek() == 'e' || peek() == 'E') {
        ++pos_;
        if (peek() == '+' || peek() == '-') ++pos_;
        const int c = peek();
        if (c >= 0) ++pos_;
        if (!is_digit(c)) fail(ErrorKind::InvalidNumber);
        while (is_digit(peek())) ++pos_;
    }
}

// ---- values -----------------------------------------------------------------------------------

void Reader::fail_invalid_type(std::string_view expected) {
    std::string found;
    switch (peek_token()) {
        case 'n': ++pos_; expect_ident("ull"); found = "null"; break;
        case 't': ++pos_; expect_ident("rue"); found = "boolean `true`"; break;
        case 'f': ++pos_; expect_ident("alse"); found = "boolean `false`"; break;
        case '-': ++pos_; found = read_number_body(true).describe(); break;
        case '"': ++pos_; found = "string " + text::debug_string(read_string_body()); break;
        case '[': found = "sequence"; break;
        case '{': found = "map"; break;
        default:
            if (!is_digit(peek())) fail_at_peek(ErrorKind::ExpectedSomeValue);
            found = read_number_body(false).describe();
    }
    fail(ErrorKind::InvalidType, {found, expected});
}

void Reader::enter() {
    if (--remaining_depth_ == 0) fail_at_peek(ErrorKind::RecursionLimitExceeded);
}

Value Reader::read_value() {
    switch (peek_token()) {
        case -1: fail_at_peek(ErrorKind::EofWhileParsingValue);
        case 'n': ++pos_; expect_ident("ull"); return Value();
        case 't': ++pos_; expect_ident("rue"); return Value::boolean(true);
        case 'f': ++pos_; expect_ident("alse"); return Value::boolean(false);
        case '"': ++pos_; return Value::string(read_string_body());
        case '[': {
            enter();
            ++pos_;
            Value::Array elements;
            for (bool first = true; next_element(first);) elements.push_back(read_value());
            end_array();
            leave();
            return Value::array(std::move(elements));
        }
        case '{': {
            enter();
            ++pos_;
            std::vector<Member> members;
            bool first = true;
            while (auto key = next_key(first)) {
                expect_colon();
                members.push_back(Member{std::move(*key), read_value()});
            }
            end_object();
            leave();
            return Value::object(std::move(members));
        }
        default: break;
    }
    const bool negative = peek() == '-';
    if (!negative && !is_digit(peek())) fail_at_peek(ErrorKind::ExpectedSomeValue);
    if (negative) ++pos_;
    const Number n = read_number_body(negative);
    switch (n.kind) {
        case Number::Kind::Unsigned: return Value::unsigned_integer(n.unsigned_value);
        case Number::Kind::Signed: return Value::signed_integer(n.signed_value);
        case Number::Kind::Float: return Value::floating(n.float_value);
    }
    return Value();
}

// Skips one value of any depth with an explicit stack of the open brackets instead of recursion.
void Reader::skip_value() {
    std::vector<char> open;  // the enclosing brackets, innermost last
    for (;;) {
        // One value.
        const int c = peek_token();
        bool opened = false;
        switch (c) {
            case -1: fail_at_peek(ErrorKind::EofWhileParsingValue);
            case 'n': ++pos_; expect_ident("ull"); break;
            case 't': ++pos_; expect_ident("rue"); break;
            case 'f': ++pos_; expect_ident("alse"); break;
            case '"': ++pos_; skip_string_body(); break;
            case '-': ++pos_; skip_number_body(); break;
            case '[': case '{': ++pos_; open.push_back(static_cast<char>(c)); opened = true; break;
            default:
                if (!is_digit(c)) fail_at_peek(ErrorKind::ExpectedSomeValue);
                skip_number_body();
        }
        if (!opened && open.empty()) return;
        // After a value: close the brackets that end here, then step to the next element or member.
        bool after_value = !opened;
        for (;;) {
            const char frame = open.back();
            const int next = peek_token();
            if (next == ',' && after_value) {
                ++pos_;
                break;
            }
            if ((next == ']' && frame == '[') || (next == '}' && frame == '{')) {
                ++pos_;
                open.pop_back();
                if (open.empty()) return;
                after_value = true;
                continue;
            }
            const bool list = frame == '[';
            if (next < 0) {
                fail_at_peek(list ? ErrorKind::EofWhileParsingList
                                  : ErrorKind::EofWhileParsingObject);
            }
            if (after_value) {
                fail_at_peek(list ? ErrorKind::ExpectedListCommaOrEnd
                                  : ErrorKind::ExpectedObjectCommaOrEnd);
            }
            break;
        }
        if (open.back() == '{') {
            const int quote = peek_token();
            if (quote < 0) fail_at_peek(ErrorKind::EofWhileParsingObject);
            if (quote != '"') fail_at_peek(ErrorKind::KeyMustBeAString);
            ++pos_;
            skip_string_body();
            const int colon = peek_token();
            if (colon < 0) fail_at_peek(ErrorKind::EofWhileParsingObject);
            if (colon != ':') fail_at_peek(ErrorKind::ExpectedColon);
            ++pos_;
        }
    }
}

// ---- containers -------------------------------------------------------------------------------

bool Reader::next_element(bool& first) {
    const int c = peek_token();
    if (c < 0) fail_at_peek(ErrorKind::EofWhileParsingList);
    if (c == ']') return false;
    if (first) {
        first = false;
        return true;
    }
    if (c != ',') fail_at_peek(ErrorKind::ExpectedListCommaOrEnd);
    ++pos_;
    const int next = peek_token();
    if (next == ']') fail_at_peek(ErrorKind::TrailingComma);
    if (next < 0) fail_at_peek(ErrorKind::EofWhileParsingValue);
    return true;
}

void Reader::end_array() {
    const int c = peek_token();
    if (c == ']') {
        ++pos_;
        return;
    }
    if (c == ',') {
        ++pos_;
        const bool closes = peek_token() == ']';
        fail_at_peek(closes ? ErrorKind::TrailingComma : ErrorKind::TrailingCharacters);
    }
    fail_at_peek(c < 0 ? ErrorKind::EofWhileParsingList : ErrorKind::TrailingCharacters);
}

std::optional<std::string> Reader::next_key(bool& first) {
    int c = peek_token();
    if (c == '}') return std::nullopt;
    if (c == ',' && !first) {
        ++pos_;
        c = peek_token();
    } else if (c < 0) {
        fail_at_peek(ErrorKind::EofWhileParsingObject);
    } else if (first) {
        first = false;
    } else {
        fail_at_peek(ErrorKind::ExpectedObjectCommaOrEnd);
    }
    if (c == '"') {
        ++pos_;
        return read_string_body();
    }
    if (c == '}') fail_at_peek(ErrorKind::TrailingComma);
    if (c < 0) fail_at_peek(ErrorKind::EofWhileParsingValue);
    fail_at_peek(ErrorKind::KeyMustBeAString);
}

void Reader::expect_colon() {
    const int c = peek_token();
    if (c == ':') {
        ++pos_;
        return;
    }
    fail_at_peek(c < 0 ? ErrorKind::EofWhileParsingObject : ErrorKind::ExpectedColon);
}

void Reader::end_object() {
    const int c = peek_token();
    if (c == '}') {
        ++pos_;
        return;
    }
    if (c == ',') fail_at_peek(ErrorKind::TrailingComma);
    fail_at_peek(c < 0 ? ErrorKind::EofWhileParsingObject : ErrorKind::TrailingCharacters);
}

void Reader::end_document() {
    if (peek_token() >= 0) fail_at_peek(ErrorKind::TrailingCharacters);
}

Value parse_value_document(std::string_view text) {
    Reader reader(text);
    Value value = reader.read_value();
    reader.end_document();
    return value;
}

}  // namespace tavo::json
