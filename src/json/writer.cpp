#include "json/writer.hpp"

#include "text/forms.hpp"

namespace tavo::json {

void PrettyWriter::line_break() {
    out_.push_back('\n');
    out_.append(2 * has_content_.size(), ' ');
}

// Every value but a member's goes on a line of its own inside an array.
void PrettyWriter::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (has_content_.empty()) return;
    if (has_content_.back()) out_.push_back(',');
    has_content_.back() = true;
    line_break();
}

void PrettyWriter::key(std::string_view name) {
    if (has_content_.back()) out_.push_back(',');
    has_content_.back() = true;
    line_break();
    write_escaped(name);
    out_ += ": ";
    after_key_ = true;
}

void PrettyWriter::begin_object() {
    before_value();
    out_.push_back('{');
    has_content_.push_back(false);
}

void PrettyWriter::end_object() {
    const bool had_content = has_content_.back();
    has_content_.pop_back();
    if (had_content) line_break();
    out_.push_back('}');
}

void PrettyWriter::begin_array() {
    before_value();
    out_.push_back('[');
    has_content_.push_back(false);
}

void PrettyWriter::end_array() {
    const bool had_content = has_content_.back();
    has_content_.pop_back();
    if (had_content) line_break();
    out_.push_back(']');
}

void PrettyWriter::null() {
    before_value();
    out_ += "null";
}

void PrettyWriter::boolean(bool b) {
    before_value();
    out_ += b ? "true" : "false";
}

void PrettyWriter::string(std::string_view s) {
    before_value();
    write_escaped(s);
}

void PrettyWriter::number(double x) {
    before_value();
    out_ += text::json_number(x);
}

void PrettyWriter::unsigned_integer(std::uint64_t n) {
    before_value();
    out_ += std::to_string(n);
}

void PrettyWriter::signed_integer(std::int64_t n) {
    before_value();
    out_ += std::to_string(n);
}

// Recursion here is bounded by the depth of the value, which the reader limits.
void PrettyWriter::value(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null: null(); return;
        case Value::Kind::Bool: boolean(v.as_bool()); return;
        case Value::Kind::Unsigned: unsigned_integer(v.as_unsigned()); return;
        case Value::Kind::Signed: signed_integer(v.as_signed()); return;
        case Value::Kind::Float: number(v.as_float()); return;
        case Value::Kind::String: string(v.as_string()); return;
        case Value::Kind::Array:
            begin_array();
            for (const Value& element : v.as_array()) value(element);
            end_array();
            return;
        case Value::Kind::Object:
            begin_object();
            for (const Member& member : v.as_object()) {
                key(member.key);
                value(member.value);
            }
            end_object();
            return;
    }
}

void PrettyWriter::write_escaped(std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out_.push_back('"');
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out_.append(s, start, i - start);
        start = i + 1;
        switch (c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '\t': out_ += "\\t"; break;
            case '\b': out_ += "\\b"; break;
            case '\f': out_ += "\\f"; break;
            default:
                out_ += "\\u00";
                out_.push_back(kHex[c >> 4]);
                out_.push_back(kHex[c & 0xF]);
        }
    }
    out_.append(s, start, s.size() - start);
    out_.push_back('"');
}

std::string write_value_document(const Value& value) {
    PrettyWriter writer;
    writer.value(value);
    return writer.take();
}

}  // namespace tavo::json
