#pragma once
// Enumerations: a class per core `enum class`, whose members are class attributes created once with
// the class. Members have no comparison of their own (equality is identity), attribute getters hand
// out new member objects, and the representation is "ClassName.Member".

#include <string>
#include <utility>
#include <vector>

#include "py/class_builder.hpp"
#include "tavo/enum_name.hpp"

namespace py {

template <class E>
struct EnumNames {
    static inline std::string class_name;
    static inline std::vector<std::pair<E, std::string>> members;

    static const std::string& name_of(E value) {
        for (const auto& [member, name] : members) {
            if (member == value) return name;
        }
        static const std::string unknown = "?";
        return unknown;
    }
    static std::string repr(const E& value) { return class_name + "." + name_of(value); }
};

// Adds an attribute to a class's own dictionary (classes are immutable from Python).
void set_class_attribute(PyTypeObject* type, const char* name, PyObject* value);

template <class E>
class EnumBuilder {
public:
    // `members`: the core's table of member names, in the order the class lists them.
    template <std::size_t N>
    EnumBuilder(std::string name, const tavo::EnumName<E> (&members)[N]) : builder_(name) {
        EnumNames<E>::class_name = name;
        for (const auto& member : members) {
            EnumNames<E>::members.emplace_back(member.value, std::string(member.text));
        }
        builder_.template repr<&EnumNames<E>::repr>();
    }

    template <auto Fn, FixedString Name, FixedString... Params>
    EnumBuilder& method(std::string_view doc = {}) {
        builder_.template method<Fn, Name, Params...>(doc);
        return *this;
    }

    Ref build() {
        Ref type = builder_.build();
        auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
        for (const auto& [value, name] : EnumNames<E>::members) {
            Ref member = wrap<E>(value);
            set_class_attribute(type_object, name.c_str(), member.get());
        }
        return type;
    }

private:
    ClassBuilder<E> builder_;
};

}  // namespace py
