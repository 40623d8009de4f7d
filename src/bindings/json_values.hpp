#pragma once
// Free-form JSON values (a topology file's extensions section) as plain Python data, and back.

#include <string>

#include "json/value.hpp"
#include "py/ref.hpp"

namespace bindings {

// None, bool, int, float, str, list and dict for null, booleans, numbers (integers stay ints),
// strings, arrays and objects.
py::Ref python_from_json(const tavo::json::Value& value);

// The JSON value of plain Python data: None, bool, int (within 64 bits), float, str, lists and
// tuples, dicts with str keys (their subclasses as what they hold). Anything else, a container that
// holds itself, or nesting deeper than the interpreter's recursion limit raises TypeError naming
// where it sits from `path` on, e.g. "extensions['layout']['A'][2]: an object of type 'set' has no
// JSON form". Runs no code of the caller's.
tavo::json::Value json_from_python(PyObject* object, const std::string& path);

}  // namespace bindings
