#pragma once
// Enumerations: a class per core `enum class`, whose members are class attributes created once with
// the class. Attribute getters hand out new member objects, so members compare by kind: two members
// of one enumeration are equal (and hash alike) when they are the same kind, and never equal a
// member of another enumeration or a number; there is no ordering. The representation is
// "ClassName.Member", and a member pickles by name, coming back as the class attribute.

#include <cstdint>
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
    static std::string member_name(PyObject* member) { return name_of(box_of<E>(member)->value); }
};

// == and != between members of one enumeration; everything else is left to the interpreter, which
// falls back to identity for == and != and refuses ordering.
template <class E>
PyObject* compare_members(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != Py_TYPE(self)) {
        return new_ref(Py_NotImplemented);
    }
    const bool same = box_of<E>(self)->value == box_of<E>(other)->value;
    return boolean(op == Py_EQ ? same : !same);
}

// Consistent with compare_members: the kind, mixed with the enumeration's name.
template <class E>
Py_hash_t hash_member(PyObject* self) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : EnumNames<E>::class_name) hash = (hash ^ std::uint8_t(c)) * 1099511628211ull;
    hash = (hash ^ std::uint64_t(box_of<E>(self)->value)) * 1099511628211ull;
    const auto result = static_cast<Py_hash_t>(hash >> 2);  // never -1, which means an error
    return result;
}

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
        builder_.template repr<&EnumNames<E>::repr>()
            .slot(Py_tp_richcompare, reinterpret_cast<void*>(&compare_members<E>))
            .slot(Py_tp_hash, reinterpret_cast<void*>(&hash_member<E>))
            .enumeration(&EnumNames<E>::member_name);
    }

    template <auto Fn, FixedString Name, FixedString... Params>
    EnumBuilder& method(std::string_view doc = {}) {
        builder_.template method<Fn, Name, Params...>(doc);
        return *this;
    }

    // The class's documentation; members are documented in it, as they cannot carry docstrings.
    // What holds for the members of every enumeration follows.
    EnumBuilder& doc(std::string_view text) {
        builder_.doc(clean_doc(text) +
                     "\n\nMembers compare equal by kind (== and hash): a copy read from an "
                     "attribute equals the\nclass member. They never equal members of other "
                     "enumerations, nor ints. No constructor.");
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
