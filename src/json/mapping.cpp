#include "json/mapping.hpp"

#include <limits>

namespace tavo::json {

std::string TextCodec::read(Reader& reader) {
    const int c = reader.peek_token();
    if (c < 0) reader.fail_at_peek(ErrorKind::EofWhileParsingValue);
    if (c != '"') reader.fail_invalid_type("a string");
    reader.advance();
    return reader.read_string_body();
}

namespace {
Number read_number(Reader& reader, std::string_view expected) {
    const int c = reader.peek_token();
    if (c < 0) reader.fail_at_peek(ErrorKind::EofWhileParsingValue);
    if (c == '-') {
        reader.advance();
        return reader.read_number_body(true);
    }
    if (c < '0' || c > '9') reader.fail_invalid_type(expected);
    return reader.read_number_body(false);
}
}  // namespace

double F64Codec::read(Reader& reader) { return read_number(reader, "f64").as_double(); }

std::uint32_t U32Codec::read(Reader& reader) {
    const Number n = read_number(reader, "u32");
    if (n.kind == Number::Kind::Float) reader.fail(ErrorKind::InvalidType, {n.describe(), "u32"});
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (n.kind == Number::Kind::Signed || n.unsigned_value > kMax) {
        reader.fail(ErrorKind::InvalidValue, {n.describe(), "u32"});
    }
    return static_cast<std::uint32_t>(n.unsigned_value);
}

std::string expected_spellings(std::span<const std::string_view> texts) {
    std::string out = texts.size() > 2 ? "one of " : "";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) out += texts.size() == 2 ? " or " : ", ";
        out.append(1, '`').append(texts[i]).append(1, '`');
    }
    return out;
}

namespace {
std::size_t find_spelling(Reader& reader, std::span<const std::string_view> texts) {
    const std::string text = reader.read_string_body();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i] == text) return i;
    }
    reader.fail(ErrorKind::UnknownVariant, {text, expected_spellings(texts)});
}
}  // namespace

std::size_t read_spelling(Reader& reader, std::span<const std::string_view> texts) {
    const int c = reader.peek_token();
    if (c < 0) reader.fail_at_peek(ErrorKind::EofWhileParsingValue);
    if (c == '"') {
        reader.advance();
        return find_spelling(reader, texts);
    }
    if (c != '{') reader.fail_at_peek(ErrorKind::ExpectedSomeValue);

    // {"spelling": null}: one key naming the value, and null.
    reader.enter();
    reader.advance();
    const int key = reader.peek_token();
    if (key != '"') {
        reader.fail_at_peek(key < 0     ? ErrorKind::EofWhileParsingValue
                            : key == '}' ? ErrorKind::ExpectedSomeValue
                                         : ErrorKind::KeyMustBeAString);
    }
    reader.advance();
    const std::size_t index = find_spelling(reader, texts);
    reader.expect_colon();
    const int unit = reader.peek_token();
    if (unit < 0) reader.fail_at_peek(ErrorKind::EofWhileParsingValue);
    if (unit != 'n') reader.fail_invalid_type("unit");
    reader.advance();
    reader.expect_ident("ull");
    reader.leave();
    const int close = reader.peek_token();
    if (close < 0) reader.fail(ErrorKind::EofWhileParsingObject);
    if (close != '}') reader.fail(ErrorKind::ExpectedSomeValue);
    reader.advance();
    return index;
}

namespace detail {

void fail_in_object(Reader& reader, ErrorKind kind, std::string_view subject) {
    if (reader.peek_token() == '}') reader.advance();
    reader.fail(kind, {subject, {}});
}

void fail_length(Reader& reader, std::size_t count, std::string_view record,
                 std::size_t field_count) {
    reader.end_array();
    std::string expected = "struct ";
    expected.append(record).append(" with ").append(std::to_string(field_count));
    expected.append(field_count == 1 ? " element" : " elements");
    reader.fail(ErrorKind::InvalidLength, {std::to_string(count), expected});
}

int open_record(Reader& reader, std::string_view record) {
    const int c = reader.peek_token();
    if (c < 0) reader.fail_at_peek(ErrorKind::EofWhileParsingValue);
    if (c != '{' && c != '[') reader.fail_invalid_type(std::string("struct ").append(record));
    reader.enter();
    reader.advance();
    return c;
}

}  // namespace detail
}  // namespace tavo::json
