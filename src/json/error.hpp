#pragma once
// Errors of the JSON reader and of the record mapping built on it: one enumeration of kinds, one
// message function, and the exception that carries the final text with its position.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace tavo::json {

enum class ErrorKind : std::uint8_t {
    // Syntax: the text is not one JSON value followed by whitespace.
    EofWhileParsingList,
    EofWhileParsingObject,
    EofWhileParsingString,
    EofWhileParsingValue,
    ExpectedColon,
    ExpectedListCommaOrEnd,
    ExpectedObjectCommaOrEnd,
    ExpectedSomeIdent,
    ExpectedSomeValue,
    ExpectedDoubleQuote,
    InvalidEscape,
    InvalidNumber,
    NumberOutOfRange,
    InvalidUnicodeCodePoint,
    ControlCharacterWhileParsingString,
    KeyMustBeAString,
    LoneLeadingSurrogateInHexEscape,
    TrailingComma,
    TrailingCharacters,
    UnexpectedEndOfHexEscape,
    RecursionLimitExceeded,
    // Mapping: the JSON is well formed but does not fit the record being read.
    InvalidType,     // subject: what was found ("integer `3`", "map"), expected: what was wanted
    InvalidValue,    // subject: the value ("integer `-1`"), expected: what was wanted
    InvalidLength,   // subject: the element count, expected: "struct R with K elements"
    MissingField,    // subject: the key
    DuplicateField,  // subject: the key
    UnknownVariant,  // subject: the spelling met, expected: the spellings ("`a` or `b`")
};

// The parts a mapping message is built from; syntax kinds use neither.
struct ErrorDetail {
    std::string_view subject;
    std::string_view expected;
};

// The message of an error without its position.
std::string message(ErrorKind kind, const ErrorDetail& detail = {});

// Line (from 1) and column (in bytes; 0 right after a line feed) of a byte offset into a text.
struct Position {
    std::size_t line = 1;
    std::size_t column = 0;
};
Position position_of(std::string_view text, std::size_t offset);

// A failed read. what() is the whole message: "{message} at line {line} column {column}".
class ParseError : public std::exception {
public:
    ParseError(ErrorKind kind, std::string message, Position position);

    const char* what() const noexcept override { return text_.c_str(); }
    ErrorKind kind() const { return kind_; }
    std::string_view message() const { return std::string_view(text_).substr(0, message_length_); }
    std::size_t line() const { return position_.line; }
    std::size_t column() const { return position_.column; }

private:
    ErrorKind kind_;
    std::string text_;
    std::size_t message_length_;
    Position position_;
};

}  // namespace tavo::json
