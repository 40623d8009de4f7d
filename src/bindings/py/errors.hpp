#pragma once
// Error crossing between the core and the interpreter, in one place.
//
// Binding code that detects a Python-level failure sets the Python error and throws PythonErrorSet.
// Core code throws the tavo:: kinds (error.hpp) with their final texts. Every entry point runs inside
// guarded(), which turns whatever was thrown into the one matching Python exception.

#include "py/ref.hpp"

#include <string>
#include <string_view>

namespace py {

// Thrown after a Python exception has been set; carries nothing.
struct PythonErrorSet {};

// Sets a Python exception of the given type and throws PythonErrorSet.
[[noreturn]] void raise(PyObject* type, const std::string& message);
[[noreturn]] void raise_type_error(const std::string& message);
// Throws PythonErrorSet if a Python exception is pending, for checking C-API results.
[[noreturn]] void raise_pending();
inline PyObject* check(PyObject* result) {
    if (!result) raise_pending();
    return result;
}

// The exception for broken internal invariants. Derives from BaseException directly, so that
// `except Exception` does not swallow it; created on first use.
PyObject* panic_exception_type();

// Converts the exception currently being handled into a pending Python exception.
void set_python_error_from_current_exception();

// The unwinding of a thread the interpreter ends at exit (interpreter_lock.hpp) is no failure: it
// passes on to the thread's start, as through the interpreter's own frames. It is told apart
// without naming its type: every other exception reaches here with the interpreter lock held.
template <class Body>
auto guarded(Body&& body, decltype(body()) failure) -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        if (!may_use_interpreter()) throw;
        set_python_error_from_current_exception();
        return failure;
    }
}

// The name Python shows for an object's type in conversion messages.
std::string type_name(PyObject* object);
// str(object) as UTF-8, for composing messages.
std::string to_display(PyObject* object);

}  // namespace py
