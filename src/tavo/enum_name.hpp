#pragma once
// Names of enumeration members, kept next to each enumeration: the Python class names its members
// with them, and file formats that spell a member the same way read and write them.

#include <string_view>

namespace tavo {

template <class E>
struct EnumName {
    E value;
    std::string_view text;
};

}  // namespace tavo

namespace tavo {

// The spellings of an enumeration in JSON files: a specialisation names its table,
//     template <> struct JsonSpellings<LinkType> { static constexpr const auto& table = kNames; };
template <class E>
struct JsonSpellings;

}  // namespace tavo
