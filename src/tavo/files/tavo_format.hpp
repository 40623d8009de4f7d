#pragma once
// The JSON form of a topology file: strict reading into a TavoFile, and the pretty layout for
// writing.

#include <optional>
#include <string>
#include <string_view>

#include "json/value.hpp"

#include "tavo/files/records.hpp"

namespace tavo {

// Reads a whole document (valid UTF-8 text). Throws json::ParseError, whose what() is the message
// with its " at line L column C" suffix.
TavoFile parse_tavo_document(std::string_view text);

// The "extensions" section of a document that parse_tavo_document read, as written: an object with
// every key, or nothing when the section is absent, null or not an object (the array form).
std::optional<json::Value> read_extensions_section(std::string_view text);

// The pretty layout: two-space indentation, keys in declaration order, optional fields that hold
// nothing left out, no trailing line feed. NaN and infinities are written as null, or, with
// `finite_only`, refused with json::NonFiniteNumber.
std::string write_tavo_document(const TavoFile& file, bool finite_only = false);

}  // namespace tavo
