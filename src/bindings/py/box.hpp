#pragma once
// Python objects that hold one core value each.

#include <concepts>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "py/borrow.hpp"

namespace py {

// Values holding Python objects take part in garbage collection.
template <class T>
concept Traversable = requires(const T& value, T& mutable_value, visitproc visit, void* arg) {
    { value.traverse(visit, arg) } -> std::same_as<int>;
    mutable_value.clear();
};

template <class T>
struct Box {
    PyObject_HEAD
    BorrowFlag borrow;
    T value;
};

// The Python class bound to the C++ type T; set once when the class is created.
template <class T>
inline PyTypeObject* python_type = nullptr;

// The class name as Python code writes it ("LinkDefinition" for "tavo_core.LinkDefinition").
inline std::string_view short_name(PyTypeObject* type) {
    std::string_view name = type->tp_name;
    auto dot = name.rfind('.');
    return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

template <class T>
Box<T>* box_of(PyObject* object) {
    return reinterpret_cast<Box<T>*>(object);
}

template <class T>
bool holds(PyObject* object) {
    return python_type<T> && PyObject_TypeCheck(object, python_type<T>);
}

// A new instance of `type` (T's class, or a subclass of it when a constructor runs) holding
// `value`.
template <class T>
Ref wrap_as(PyTypeObject* type, T value) {
    Ref object = Ref::steal(type->tp_alloc(type, 0));
    if (!object) raise_pending();
    auto* box = box_of<T>(object.get());
    new (&box->borrow) BorrowFlag();
    new (&box->value) T(std::move(value));
    return object;
}

// A new Python object of T's class holding the given value.
template <class T>
Ref wrap(T value) {
    PyTypeObject* type = python_type<T>;
    if (!type) raise(PyExc_SystemError, "class used before the module created it");
    return wrap_as<T>(type, std::move(value));
}

// tp_dealloc for Box<T>. A value that holds Python objects may be the head of a long chain of
// objects each holding the next: the interpreter's trashcan defers deallocations that nest too
// deeply, so that dropping such a chain does not exhaust the stack.
template <class T>
void destroy_box(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    if constexpr (Traversable<T>) {
        PyObject_GC_UnTrack(object);
        Py_TRASHCAN_BEGIN(object, destroy_box<T>)
        box_of<T>(object)->value.~T();
        type->tp_free(object);
        release_type(type);
        Py_TRASHCAN_END
    } else {
        box_of<T>(object)->value.~T();
        type->tp_free(object);
        release_type(type);
    }
}

}  // namespace py
