#pragma once
// The JSON form of a topology snapshot: strict reading into a TopologySnapshot, and the pretty
// layout for writing (camelCase keys; every link written with its "linkType" and its
// "satelliteConditions", null when it has none).

#include <string>
#include <string_view>

#include "tavo/snapshot/records.hpp"

namespace tavo {

// Reads a whole document (valid UTF-8 text). Throws json::ParseError, whose what() is the message
// with its " at line L column C" suffix.
TopologySnapshot parse_snapshot_document(std::string_view text);

// NaN and infinities are written as null, or, with `finite_only`, refused with
// json::NonFiniteNumber.
std::string write_snapshot_document(const TopologySnapshot& snapshot, bool finite_only = false);

}  // namespace tavo
