#include "json/error.hpp"

#include <algorithm>

namespace tavo::json {

std::string message(ErrorKind kind, const ErrorDetail& detail) {
    const std::string subject(detail.subject);
    const std::string expected(detail.expected);
    switch (kind) {
        case ErrorKind::EofWhileParsingList: return "EOF while parsing a list";
        case ErrorKind::EofWhileParsingObject: return "EOF while parsing an object";
        case ErrorKind::EofWhileParsingString: return "EOF while parsing a string";
        case ErrorKind::EofWhileParsingValue: return "EOF while parsing a value";
        case ErrorKind::ExpectedColon: return "expected `:`";
        case ErrorKind::ExpectedListCommaOrEnd: return "expected `,` or `]`";
        case ErrorKind::ExpectedObjectCommaOrEnd: return "expected `,` or `}`";
        case ErrorKind::ExpectedSomeIdent: return "expected ident";
        case ErrorKind::ExpectedSomeValue: return "expected value";
        case ErrorKind::ExpectedDoubleQuote: return "expected `\"`";
        case ErrorKind::InvalidEscape: return "invalid escape";
        case ErrorKind::InvalidNumber: return "invalid number";
        case ErrorKind::NumberOutOfRange: return "number out of range";
        case ErrorKind::InvalidUnicodeCodePoint: return "invalid unicode code point";
        case ErrorKind::ControlCharacterWhileParsingString:
            return "control character (\\u0000-\\u001F) found while parsing a string";
        case ErrorKind::KeyMustBeAString: return "key must be a string";
        case ErrorKind::LoneLeadingSurrogateInHexEscape:
            return "lone leading surrogate in hex escape";
        case ErrorKind::TrailingComma: return "trailing comma";
        case ErrorKind::TrailingCharacters: return "trailing characters";
        case ErrorKind::UnexpectedEndOfHexEscape: return "unexpected end of hex escape";
        case ErrorKind::RecursionLimitExceeded: return "recursion limit exceeded";
        case ErrorKind::InvalidType: return "invalid type: " + subject + ", expected " + expected;
        case ErrorKind::InvalidValue: return "invalid value: " + subject + ", expected " + expected;
        case ErrorKind::InvalidLength:
            return "invalid length " + subject + ", expected " + expected;
        case ErrorKind::MissingField: return "missing field `" + subject + "`";
        case ErrorKind::DuplicateField: return "duplicate field `" + subject + "`";
        case ErrorKind::UnknownVariant:
            return "unknown variant `" + subject + "`, expected " + expected;
    }
    return "invalid JSON";
}

Position position_of(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    const std::string_view before = text.substr(0, offset);
    const std::size_t last_line_feed = before.rfind('\n');
    const std::size_t line_start =
        last_line_feed == std::string_view::npos ? 0 : last_line_feed + 1;
    const auto line_feeds = std::count(before.begin(), before.begin() + line_start, '\n');
    Position position;
    position.line = 1 + static_cast<std::size_t>(line_feeds);
    position.column = offset - line_start;
    return position;
}

ParseError::ParseError(ErrorKind kind, std::string message, Position position)
    : kind_(kind), text_(std::move(message)), message_length_(text_.size()), position_(position) {
    text_.append(" at line ").append(std::to_string(position.line));
    text_.append(" column ").append(std::to_string(position.column));
}

}  // namespace tavo::json
