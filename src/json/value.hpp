#pragma once
// A free-form JSON value, for the parts of a document that have no record of their own (the
// `custom` value of a topology file's extensions).
//
// Numbers keep the kind they were written in: a non-negative integer, a negative integer or a
// float, so 1 and 1.0 are different values. Object members are kept in ascending byte order of
// their keys, one member per key (of a repeated key the last occurrence wins); the original order
// is not kept.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tavo::json {

struct Member;

class Value {
public:
    using Array = std::vector<Value>;
    using Object = std::vector<Member>;  // sorted by key, keys unique
    // Unsigned: an integer >= 0; Signed: an integer < 0; Float: a number written as a float.
    enum class Kind : std::uint8_t { Null, Bool, Unsigned, Signed, Float, String, Array, Object };

    Value() = default;  // null
    static Value boolean(bool b) { return Value(Data(std::in_place_index<1>, b)); }
    static Value unsigned_integer(std::uint64_t n) {
        return Value(Data(std::in_place_index<2>, n));
    }
    // An integer; kept as unsigned when it is not negative, as the reader does.
    static Value signed_integer(std::int64_t n) {
        if (n >= 0) return unsigned_integer(static_cast<std::uint64_t>(n));
        return Value(Data(std::in_place_index<3>, n));
    }
    static Value floating(double x) { return Value(Data(std::in_place_index<4>, x)); }
    static Value string(std::string s) { return Value(Data(std::in_place_index<5>, std::move(s))); }
    static Value array(Array elements) {
        return Value(Data(std::in_place_index<6>, std::move(elements)));
    }
    // Builds an object from members in any order; of repeated keys the last one is kept.
    static Value object(std::vector<Member> members);

    Kind kind() const { return static_cast<Kind>(data_.index()); }
    bool as_bool() const { return std::get<1>(data_); }
    std::uint64_t as_unsigned() const { return std::get<2>(data_); }
    std::int64_t as_signed() const { return std::get<3>(data_); }
    double as_float() const { return std::get<4>(data_); }
    const std::string& as_string() const { return std::get<5>(data_); }
    const Array& as_array() const { return std::get<6>(data_); }
    const Object& as_object() const { return std::get<7>(data_); }

    // The member with this key, or nullptr (objects only).
    const Value* find(std::string_view key) const;

    // Structural equality: same kind and equal contents; an integer never equals a float.
    friend bool operator==(const Value& a, const Value& b);

private:
    using Data = std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double,
                              std::string, Array, Object>;
    explicit Value(Data data) : data_(std::move(data)) {}
    Data data_;
};

struct Member {
    std::string key;
    Value value;

    friend bool operator==(const Member& a, const Member& b) = default;
};

}  // namespace tavo::json
