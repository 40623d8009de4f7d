#pragma once
// The owning handle for Python objects. This is the only file in the bindings that touches reference
// counts directly; everything else holds objects through Ref.

#include <utility>

#include "py/interpreter_lock.hpp"

namespace py {

// A new (owned) reference to an object that the caller only borrowed.
inline PyObject* new_ref(PyObject* object) {
    Py_INCREF(object);
    return object;
}

inline PyObject* none() { return new_ref(Py_None); }
inline PyObject* boolean(bool value) { return new_ref(value ? Py_True : Py_False); }

class Ref {
public:
    Ref() = default;
    // Takes over a reference the caller owns (the result of a "new reference" API).
    static Ref steal(PyObject* object) { return Ref(object); }
    // Adds a reference to a borrowed object.
    static Ref borrow(PyObject* object) { return Ref(object ? new_ref(object) : nullptr); }

    Ref(const Ref& other) : object_(other.object_) { Py_XINCREF(object_); }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() {
        if (object_ && may_use_interpreter()) Py_DECREF(object_);
    }

    PyObject* get() const { return object_; }
    // Hands the reference to the caller (for returning to the interpreter).
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

    // For tp_traverse / tp_clear of objects that hold a Ref.
    int visit(visitproc visit_fn, void* arg) const { return object_ ? visit_fn(object_, arg) : 0; }
    void reset() { Py_CLEAR(object_); }

private:
    explicit Ref(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

// Drops one reference to a type object; heap-type instances own one reference to their type.
inline void release_type(PyTypeObject* type) { Py_DECREF(reinterpret_cast<PyObject*>(type)); }

}  // namespace py
