#pragma once
// Parameter lists, declared once per callable. From a declaration come the text signature that Python
// shows, the argument binding (with the interpreter-style TypeError texts) and the conversion of each
// argument.

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "py/errors.hpp"

namespace py {

template <std::size_t N>
struct FixedString {
    char data[N]{};
    constexpr FixedString(const char (&text)[N]) { std::copy_n(text, N, data); }
    constexpr std::string_view view() const { return {data, N - 1}; }
};

enum class CallKind { Function, Method, Constructor, StaticMethod };

// Everything the binder needs to know about one callable.
struct CallShape {
    CallKind kind;
    std::string_view name;                      // function or method name
    PyTypeObject* const* owner;                 // class of a method or constructor (read when needed)
    std::span<const std::string_view> params;
    std::span<const bool> optional;             // per parameter: may be omitted (defaults to None)
    std::size_t required;                       // leading parameters that must be given
};

// "TavoEngine.define_network()", "LinkDefinition.__new__()" or "generate_topology()".
std::string display_name(const CallShape& shape);

// "(nodes, links)" or "($self, from_node, to, strategy=None)": the signature part of a docstring.
std::string text_signature(const CallShape& shape);
// The full docstring: "name(sig)\n--\n\n" followed by the documentation.
std::string signature_docstring(const CallShape& shape, std::string_view doc);

// Binds vectorcall-style arguments to parameter slots; `out` receives borrowed references (null for
// parameters not given). Raises the binding TypeErrors.
void bind_arguments(const CallShape& shape, PyObject* const* args, std::size_t nargs,
                    PyObject* kwnames, PyObject** out);
// The same for a positional tuple and a keyword dict (constructors).
void bind_arguments(const CallShape& shape, PyObject* args, PyObject* kwargs, PyObject** out);

// Adds "argument '{name}': " to a pending TypeError raised while converting an argument.
[[noreturn]] void reraise_argument_error(std::string_view name);

}  // namespace py
