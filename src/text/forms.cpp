#include "text/forms.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tavo::text {
namespace {

// The shortest round-trip digits of a finite double: value = d1.d2d3... x 10^exponent, `digits`
// holding d1d2d3... without leading or trailing zeros (a lone "0" for zero).
struct ShortestDigits {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

ShortestDigits shortest_digits(double value) {
    // "-d.ddde+XX" needs at most 1 + 17 + 1 + 1 + 1 + 3 characters.
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    ShortestDigits out;
    const char* p = buffer;
    if (*p == '-') {
        out.negative = true;
        ++p;
    }
    for (; p != result.ptr && *p != 'e'; ++p) {
        if (*p != '.') out.digits.push_back(*p);
    }
    ++p;  // 'e'
    std::from_chars(*p == '+' ? p + 1 : p, result.ptr, out.exponent);
    return out;
}

// Positional layout of d1d2d3... x 10^exponent; `keep_point_zero` adds ".0" to integral values.
std::string positional(const ShortestDigits& d, bool keep_point_zero) {
    std::string out;
    if (d.negative) out.push_back('-');
    const int count = static_cast<int>(d.digits.size());
    if (d.exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
        out += d.digits;
    } else if (d.exponent + 1 >= count) {
        out += d.digits;
        out.append(static_cast<std::size_t>(d.exponent + 1 - count), '0');
        if (keep_point_zero) out += ".0";
    } else {
        out.append(d.digits, 0, static_cast<std::size_t>(d.exponent + 1));
        out.push_back('.');
        out.append(d.digits, static_cast<std::size_t>(d.exponent + 1));
    }
    return out;
}

// Exponent layout "d[.ddd]e[sign]X"; `plus_sign` writes "+" before non-negative exponents.
std::string exponential(const ShortestDigits& d, bool plus_sign) {
    std::string out;
    if (d.negative) out.push_back('-');
    out.push_back(d.digits[0]);
    if (d.digits.size() > 1) {
        out.push_back('.');
        out.append(d.digits, 1);
    }
    out.push_back('e');
    if (d.exponent >= 0 && plus_sign) out.push_back('+');
    out += std::to_string(d.exponent);
    return out;
}

const char* special(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    return nullptr;
}

}  // namespace

std::string plain(double value) {
    if (const char* s = special(value)) return s;
    return positional(shortest_digits(value), false);
}

std::string debug(double value) {
    if (const char* s = special(value)) return s;
    const ShortestDigits d = shortest_digits(value);
    const bool zero = d.digits == "0";
    if (!zero && (d.exponent < -4 || d.exponent >= 16)) return exponential(d, false);
    return positional(d, true);
}

std::string json_number(double value) {
    if (!std::isfinite(value)) return "null";
    const ShortestDigits d = shortest_digits(value);
    const bool zero = d.digits == "0";
    if (!zero && (d.exponent < -5 || d.exponent >= 16)) return exponential(d, true);
    return positional(d, true);
}

std::string fixed(double value, int decimals) {
    if (const char* s = special(value)) return s;
    if (decimals < 0) decimals = 0;
    // The integral part of a double has at most 309 digits.
    std::string out(static_cast<std::size_t>(decimals) + 330, '\0');
    const auto result = std::to_chars(out.data(), out.data() + out.size(), value,
                                      std::chars_format::fixed, decimals);
    out.resize(static_cast<std::size_t>(result.ptr - out.data()));
    return out;
}

std::uint64_t saturating_u64(double value) {
    if (!(value > 0.0)) return 0;  // also NaN
    // 2^64: the first double past the range (2^64 - 1 itself has no double).
    if (value >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

std::string truncated(double value) { return std::to_string(saturating_u64(value)); }

std::string debug_string(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char buffer[12];
                    std::snprintf(buffer, sizeof buffer, "\\u{%x}", byte);
                    out += buffer;
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
    return out;
}

std::string debug_optional(const std::optional<double>& value) {
    return value ? "Some(" + debug(*value) + ")" : "None";
}

std::string debug_optional(const std::optional<std::uint32_t>& value) {
    return value ? "Some(" + std::to_string(*value) + ")" : "None";
}

std::string debug_optional(const std::optional<std::string>& value) {
    return value ? "Some(" + debug_string(*value) + ")" : "None";
}

}  // namespace tavo::text
