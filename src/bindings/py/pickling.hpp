#pragma once
// Pickling and copying, derived for every class from its declaration.
//
// An instance of a class with attributes reduces to
//     (_reconstruct, ("ClassName",), (None, {attribute: value, ...}))
// so that pickle and copy make a blank instance and assign every attribute in declaration order;
// values come from the getters (copies), and the object is known to pickle before its attributes
// are, so an attribute may refer back to it. A class whose data is not in attributes (the engine)
// gives a state of its own and reduces to (_reconstruct, ("ClassName", state)). Members of an
// enumeration reduce to (getattr, (Enumeration, "Member")): by name, back to the very member.

#include <string>
#include <vector>

#include "py/ref.hpp"

namespace py {

struct PickleEntry {
    PyTypeObject* type = nullptr;
    std::vector<const char*> attributes;           // in declaration order
    Ref (*blank)() = nullptr;                      // a new instance holding a default value
    Ref (*state)(PyObject* self) = nullptr;        // a state of the class's own, or null
    Ref (*from_state)(PyObject* state) = nullptr;  // an instance from such a state
};

// Records how instances of a class are taken apart and rebuilt; the class is found by its name.
void register_pickling(std::string name, PickleEntry entry);

// The module function `_reconstruct(name, state=None)` that reductions name; set once at module
// initialisation.
void set_reconstructor(Ref function);
Ref reconstruct(const std::string& name, PyObject* state);

// `__reduce__` of classes and of enumeration members (METH_NOARGS).
PyObject* reduce_instance(PyObject* self, PyObject*);
PyObject* reduce_member(PyObject* self, PyObject*);

// The name of an enumeration member, for reduce_member; registered by the enumeration builder.
void register_member_name(PyTypeObject* type, std::string (*name)(PyObject* member));

}  // namespace py
