#pragma once
// A record of every callable and attribute the binding kit declares, with the Python types of their
// parameters, results and values, for writing type stubs. It lives on the C++ side only: nothing of
// it reaches the module's Python surface. A program that embeds the interpreter and imports the
// module reads it with declarations_json() (tools/stubgen).

#include <string>
#include <string_view>
#include <vector>

#include "py/signature.hpp"

namespace py {

using Hint = std::string (*)();

struct ParameterDeclaration {
    std::string_view name;
    Hint type;
    bool optional;  // may be omitted or None
};

struct CallableDeclaration {
    PyTypeObject* const* owner = nullptr;  // the class of a method or constructor
    CallKind kind = CallKind::Function;
    std::string_view name;
    std::vector<ParameterDeclaration> parameters;
    Hint returns = nullptr;
    bool releases_lock = false;
};

struct AttributeDeclaration {
    std::string owner;  // the class's name
    std::string name;
    Hint get = nullptr;
    Hint set = nullptr;  // null for a read-only attribute
};

void declare(CallableDeclaration declaration);
void declare(AttributeDeclaration declaration);

// Everything declared so far, as a JSON document:
//   {"callables": [{"owner", "kind", "name", "parameters": [{"name", "type", "optional"}],
//                   "returns", "releases_lock"}], "attributes": [{"owner", "name", "get", "set"}]}
// Class names are read from the built classes, so call it once the module is initialised.
std::string declarations_json();

}  // namespace py
