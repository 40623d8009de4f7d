#pragma once
// The pretty writer. It owns every byte of the output: two-space indentation, one member or element
// per line, ": " after keys, commas at line ends, "{}" and "[]" for empty containers, JSON string
// escaping and the number forms. No trailing line feed.
//
// Use: begin_object(); key("a"); number(1.0); key("b"); begin_array(); ... end_array();
// end_object(). A value directly after key() is that member's value, any other value is an array
// element (or the document itself).

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.hpp"

namespace tavo::json {

// Thrown by a writer that takes finite numbers only, for a NaN or an infinity; path() names where
// in the document it stood: "links[0].distance_km", "config.alpha_loss".
class NonFiniteNumber : public std::runtime_error {
public:
    explicit NonFiniteNumber(std::string path)
        : std::runtime_error(path + " is not a finite number"), path_(std::move(path)) {}
    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
};

class PrettyWriter {
public:
    // A file read back must hold what was written: with `finite_only`, number() refuses NaN and
    // the infinities (NonFiniteNumber) instead of writing null.
    explicit PrettyWriter(bool finite_only = false) : finite_only_(finite_only) {}

    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    void key(std::string_view name);

    void null();
    void boolean(bool b);
    void string(std::string_view s);
    void number(double x);  // the writer's float form; NaN and infinities as null (see above)
    void unsigned_integer(std::uint64_t n);
    void signed_integer(std::int64_t n);
    void value(const Value& v);

    const std::string& text() const { return out_; }
    std::string take() { return std::move(out_); }

private:
    void before_value();
    void line_break();
    void write_escaped(std::string_view s);
    // Where the value being written stands, for NonFiniteNumber.
    std::string path() const;

    struct Level {
        bool array = false;
        std::size_t elements = 0;  // an array's elements so far
        std::string key;           // an object's current member
    };

    std::string out_;
    // One entry per open container: whether it has a member or element yet.
    std::vector<bool> has_content_;
    std::vector<Level> levels_;  // kept only by a writer that takes finite numbers only
    bool after_key_ = false;
    bool finite_only_ = false;
};

// Writes a whole document holding one free-form value.
std::string write_value_document(const Value& value);

}  // namespace tavo::json
