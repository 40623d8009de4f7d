#pragma once
// Adding names to the module: every addition also appends the name to `__all__`.

#include <string_view>

#include "py/callable.hpp"

namespace py {

class ModuleBuilder {
public:
    explicit ModuleBuilder(PyObject* module) : module_(module) {}

    void add(const char* name, Ref value);
    // Adds a module attribute that is not part of `__all__` (a private helper).
    void add_private(Ref value);
    // Adds a class or function under its own `__name__`.
    void add(Ref value);
    // Adds, under `alias`, the very object already found under `name`.
    void alias(const char* alias, const char* name);

    PyObject* module() const { return module_; }

private:
    PyObject* module_;
};

}  // namespace py

namespace py {

// A module-level function object, bound to `module` like the interpreter's own module functions.
Ref function_object(PyObject* module, PyMethodDef* def);

template <auto Fn, FixedString Name, FixedString... Params>
Ref function(PyObject* module, std::string_view doc = {}) {
    static PyMethodDef def = Function<Fn, Name, Params...>::method_def(doc);
    return function_object(module, &def);
}

}  // namespace py
