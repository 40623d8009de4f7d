#pragma once
// The JSON form of a topology file: strict reading into a TavoFile, and the pretty layout for
// writing.

#include <string>
#include <string_view>

#include "tavo/files/records.hpp"

namespace tavo {

// Reads a whole document (valid UTF-8 text). Throws json::ParseError, whose what() is the message
// with its " at line L column C" suffix.
TavoFile parse_tavo_document(std::string_view text);

// The pretty layout: two-space indentation, keys in declaration order, optional fields that hold
// nothing left out, no trailing line feed. NaN and infinities are written as null, or, with
// `finite_only`, refused with json::NonFiniteNumber.
std::string write_tavo_document(const TavoFile& file, bool finite_only = false);

}  // namespace tavo
