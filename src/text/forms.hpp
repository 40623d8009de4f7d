#pragma once
// The textual forms of numbers and texts. Every message, representation, summary and the JSON
// writer shows a value through one of these functions, so the same value always reads the same way.
//
// This is the bottom layer of the project: it includes nothing of ours, and both the JSON layer and
// the core use it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavo::text {

// Plain form: the shortest decimal text that reads back to the same double, never in exponent form,
// without a fractional part for integral values. 50.0 -> "50", 1e-7 -> "0.0000001", -0.0 -> "-0",
// 1e21 -> "1000000000000000000000"; "NaN", "inf", "-inf". Used by messages and plain placeholders.
std::string plain(double value);

// Debug form: the shortest round-trip text with at least one digit after the point ("100.0",
// "0.5"); exponent form ("1e-5", "1.5e16", "-2.5e-7") when the magnitude is non-zero and below 1e-4
// or at least 1e16; "NaN", "inf", "-inf".
std::string debug(double value);

// The JSON writer's form: positional for 1e-5 <= |x| < 1e16 with ".0" kept for integral values
// ("3.0", "0.00001", "0.0"), otherwise exponent form with an explicit sign ("1e+16", "1.5e-7",
// "2.5e+20"); "null" for NaN and the infinities.
std::string json_number(double value);

// Fixed notation with exactly `decimals` digits after the point (none and no point for 0), rounded
// from the exact binary value, exact ties to even: fixed(0.9, 2) -> "0.90", fixed(0.125, 2) ->
// "0.12". "NaN", "inf", "-inf" for the special values. A negative `decimals` counts as 0.
std::string fixed(double value, int decimals);

// Truncation toward zero into the unsigned 64-bit range: NaN and negative values give 0, values
// past the top of the range give its maximum.
std::uint64_t saturating_u64(double value);

// saturating_u64 of the value in plain decimal: 85.7 -> "85".
std::string truncated(double value);

// "true" or "false".
inline const char* boolean(bool value) { return value ? "true" : "false"; }

// Debug form of a text: in double quotes, with \" \\ \n \r \t and \0 escaped, the other control
// characters (below 0x20, and 0x7F) written as \u{hex} in lower case without leading zeros
// ("\u{1b}"), every other character as it is.
std::string debug_string(std::string_view text);

// Debug form of an optional value: "None", or "Some(" + the value's debug form + ")". Integers are
// shown in plain decimal, texts in their debug form.
std::string debug_optional(const std::optional<double>& value);
std::string debug_optional(const std::optional<std::uint32_t>& value);
std::string debug_optional(const std::optional<std::string>& value);

}  // namespace tavo::text
