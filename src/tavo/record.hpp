#pragma once
// Data records declared once. Each record lists its fields in one table, Fields<Record>: per field
// the member, its name (the Python attribute), its documentation and unit, its JSON key and
// presence, and its role in the constructor. Everything else is derived from that table: the JSON
// codecs of the file formats (record_json.hpp), the Python class (attributes, constructor,
// equality, pickling state, documentation), and the comparisons that diffs make. Adding a field to
// a record is one row.
//
//   template <>
//   struct Fields<SatelliteConditions> {
//       static constexpr std::string_view name = "SatelliteConditions";
//       static constexpr std::string_view doc = "Visibility and weather factors of a satellite
//       link."; static constexpr auto list = std::tuple{
//           field<&SatelliteConditions::visibility>({.name = "visibility", .doc = "...",
//                                                    .parameter = Parameter::Optional}),
//           ...
//       };
//   };

#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

namespace tavo {

// How a field appears in the JSON form of its record.
enum class JsonPresence : std::uint8_t {
    Automatic,  // Optional for a std::optional member, Required for any other
    Required,   // must be given
    Optional,   // a std::optional: absent or null is nothing; written only when it holds a value
    Nullable,   // as Optional, but always written, as null when it holds nothing
    Defaulted,  // may be absent, also in the array form (the default stays); always written
    DefaultedOrNull,  // as Defaulted, and null also leaves the default
    KeyedOptional,    // as Optional, in the object form only (the array form was fixed before)
    Omitted,          // not part of the JSON form
};

// How a field appears among the parameters of the record's constructor.
enum class Parameter : std::uint8_t {
    Automatic,  // Optional for a std::optional member, Required for any other
    Required,   // must be given
    Optional,   // may be omitted or None: the field keeps the value of a default-made record
    Omitted,    // not a parameter: the field keeps the value of a default-made record
};

struct FieldSpec {
    std::string_view name;    // the Python attribute, and the JSON key unless `key` is given
    std::string_view doc;     // documentation of the attribute
    std::string_view unit{};  // unit of a quantity ("km", "ms", "Hz", "s", ...), for display
    std::string_view key{};   // the JSON key, when it differs from the name
    JsonPresence json = JsonPresence::Automatic;
    Parameter parameter = Parameter::Automatic;
    std::string_view argument{};  // documentation of the constructor parameter, if it differs
    bool attribute = true;        // false: the Python class declares the attribute itself
};

template <class M>
struct MemberPointer;
template <class R, class M>
struct MemberPointer<M R::*> {
    using record = R;
    using type = M;
};

template <class T>
inline constexpr bool is_optional = false;
template <class T>
inline constexpr bool is_optional<std::optional<T>> = true;

template <class T>
inline constexpr bool is_vector = false;
template <class T>
inline constexpr bool is_vector<std::vector<T>> = true;

template <auto Member>
struct Field : FieldSpec {
    using Record = typename MemberPointer<decltype(Member)>::record;
    using Type = typename MemberPointer<decltype(Member)>::type;
    static constexpr auto member = Member;

    constexpr JsonPresence presence() const {
        if (json != JsonPresence::Automatic) return json;
        return is_optional<Type> ? JsonPresence::Optional : JsonPresence::Required;
    }
    constexpr Parameter role() const {
        if (parameter != Parameter::Automatic) return parameter;
        return is_optional<Type> ? Parameter::Optional : Parameter::Required;
    }
    constexpr std::string_view json_key() const { return key.empty() ? name : key; }
    constexpr std::string_view argument_doc() const { return argument.empty() ? doc : argument; }
};

template <auto Member>
constexpr Field<Member> field(FieldSpec spec) {
    return Field<Member>{spec};
}

// The table of a record: `name` (as Python and JSON messages call it), `doc`, and `list`, a tuple
// of Field rows in declaration order (the order of attributes, constructor parameters and JSON
// keys).
template <class T>
struct Fields;

template <class T>
concept Record = requires {
    Fields<T>::name;
    Fields<T>::list;
};

template <class T>
inline constexpr std::size_t field_count =
    std::tuple_size_v<std::decay_t<decltype(Fields<T>::list)>>;

// Calls f(row) for every row of T's table, in order.
template <class T, class F>
constexpr void for_each_field(F&& f) {
    std::apply([&](const auto&... row) { (f(row), ...); }, Fields<T>::list);
}

// Equality of values as records compare them: field by field for records, element by element for
// lists, nothing equals something; numbers compare exactly, so a NaN never equals anything.
template <class T>
bool same_value(const T& a, const T& b);

template <Record T>
bool same_fields(const T& a, const T& b) {
    bool same = true;
    for_each_field<T>([&](const auto& row) {
        constexpr auto member = std::decay_t<decltype(row)>::member;
        same = same && same_value(a.*member, b.*member);
    });
    return same;
}

template <class T>
bool same_value(const T& a, const T& b) {
    if constexpr (Record<T>) {
        return same_fields(a, b);
    } else if constexpr (is_optional<T>) {
        if (!a || !b) return !a && !b;
        return same_value(*a, *b);
    } else if constexpr (is_vector<T>) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!same_value(a[i], b[i])) return false;
        }
        return true;
    } else {
        return a == b;
    }
}

// The names of the fields in which two records differ, in table order.
template <Record T>
std::vector<std::string_view> changed_fields(const T& a, const T& b) {
    std::vector<std::string_view> changed;
    for_each_field<T>([&](const auto& row) {
        constexpr auto member = std::decay_t<decltype(row)>::member;
        if (!same_value(a.*member, b.*member)) changed.push_back(row.name);
    });
    return changed;
}

}  // namespace tavo
