#pragma once
// The pretty writer. It owns every byte of the output: two-space indentation, one member or element
// per line, ": " after keys, commas at line ends, "{}" and "[]" for empty containers, JSON string
// escaping and the number forms. No trailing line feed.
//
// Use: begin_object(); key("a"); number(1.0); key("b"); begin_array(); ... end_array();
// end_object(). A value directly after key() is that member's value, any other value is an array
// element (or the document itself).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.hpp"

namespace tavo::json {

class PrettyWriter {
public:
    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    void key(std::string_view name);

    void null();
    void boolean(bool b);
    void string(std::string_view s);
    void number(double x);  // the writer's float form; NaN and infinities as null
    void unsigned_integer(std::uint64_t n);
    void signed_integer(std::int64_t n);
    void value(const Value& v);

    const std::string& text() const { return out_; }
    std::string take() { return std::move(out_); }

private:
    void before_value();
    void line_break();
    void write_escaped(std::string_view s);

    std::string out_;
    // One entry per open container: whether it has a member or element yet.
    std::vector<bool> has_content_;
    bool after_key_ = false;
};

// Writes a whole document holding one free-form value.
std::string write_value_document(const Value& value);

}  // namespace tavo::json
