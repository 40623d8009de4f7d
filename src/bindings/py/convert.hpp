#pragma once
// Conversions between Python objects and C++ values.
//
// Convert<T>::from(object) produces a T or sets a Python error and throws PythonErrorSet;
// Convert<T>::to(value) returns a new reference. Bound classes (and enumerations) of the module are
// converted by copying the value held in their Box; everything else has a specialisation here.

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "py/box.hpp"

namespace py {

[[noreturn]] void raise_cannot_convert(PyObject* object, std::string_view target);

// Values that Python sees as a dict; kept in insertion order.
template <class K, class V>
struct Dict {
    std::vector<std::pair<K, V>> items;
};

// Any Python object, passed through untouched.
struct Object {
    Ref ref;
};

// A bound object taken by reference rather than copied, with its access flag held for as long as
// the handle lives (for arguments such as an engine that a function works on in place).
template <class T>
class Shared {
public:
    Shared(Box<T>* box) : box_(box), borrow_(box->borrow) {}
    const T& operator*() const { return box_->value; }
    const T* operator->() const { return &box_->value; }

private:
    Box<T>* box_;
    SharedBorrow borrow_;
};

template <class T>
class Exclusive {
public:
    Exclusive(Box<T>* box) : box_(box), borrow_(box->borrow) {}
    T& operator*() const { return box_->value; }
    T* operator->() const { return &box_->value; }

private:
    Box<T>* box_;
    ExclusiveBorrow borrow_;
};

template <class T, class = void>
struct Convert {
    // A bound class: accepted only as an instance of that class, and copied.
    static T from(PyObject* object) {
        if (!holds<T>(object)) raise_cannot_convert(object, short_name(python_type<T>));
        auto* box = box_of<T>(object);
        SharedBorrow borrow(box->borrow);
        return box->value;
    }
    static PyObject* to(T value) { return wrap<T>(std::move(value)).release(); }
};

template <class T>
struct Convert<Shared<T>> {
    static Shared<T> from(PyObject* object) {
        if (!holds<T>(object)) raise_cannot_convert(object, short_name(python_type<T>));
        return Shared<T>(box_of<T>(object));
    }
};

template <class T>
struct Convert<Exclusive<T>> {
    static Exclusive<T> from(PyObject* object) {
        if (!holds<T>(object)) raise_cannot_convert(object, short_name(python_type<T>));
        return Exclusive<T>(box_of<T>(object));
    }
};

template <>
struct Convert<std::string> {
    static std::string from(PyObject* object);
    static PyObject* to(const std::string& value);
};

template <>
struct Convert<double> {
    static double from(PyObject* object) {
        if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
        double value = PyFloat_AsDouble(object);
        if (value == -1.0 && PyErr_Occurred()) throw PythonErrorSet{};
        return value;
    }
    static PyObject* to(double value) { return check(PyFloat_FromDouble(value)); }
};

template <>
struct Convert<bool> {
    static bool from(PyObject* object);
    static PyObject* to(bool value) { return boolean(value); }
};

// Unsigned 64-bit (also the machine-size unsigned integer on the platforms we build for).
template <>
struct Convert<std::uint64_t> {
    static std::uint64_t from(PyObject* object);
    static PyObject* to(std::uint64_t value) { return check(PyLong_FromUnsignedLongLong(value)); }
};

template <>
struct Convert<std::uint32_t> {
    static std::uint32_t from(PyObject* object);
    static PyObject* to(std::uint32_t value) { return check(PyLong_FromUnsignedLong(value)); }
};

template <>
struct Convert<std::uint8_t> {
    static PyObject* to(std::uint8_t value) { return check(PyLong_FromUnsignedLong(value)); }
};

template <>
struct Convert<Object> {
    static Object from(PyObject* object) { return Object{Ref::borrow(object)}; }
    static PyObject* to(const Object& value) {
        return value.ref ? new_ref(value.ref.get()) : none();
    }
};

template <class T>
struct Convert<std::optional<T>> {
    static std::optional<T> from(PyObject* object) {
        if (object == Py_None) return std::nullopt;
        return Convert<T>::from(object);
    }
    static PyObject* to(const std::optional<T>& value) {
        return value ? Convert<T>::to(*value) : none();
    }
};

// Sequence extraction shared by every list type: refuses str, requires the sequence protocol and
// converts each element through `element`.
void for_each_sequence_item(PyObject* object, void (*element)(PyObject*, void*), void* context);

template <class T>
struct Convert<std::vector<T>> {
    static std::vector<T> from(PyObject* object) {
        std::vector<T> values;
        for_each_sequence_item(
            object,
            [](PyObject* item, void* out) {
                static_cast<std::vector<T>*>(out)->push_back(Convert<T>::from(item));
            },
            &values);
        return values;
    }
    static PyObject* to(const std::vector<T>& values) {
        Ref list = Ref::steal(check(PyList_New(Py_ssize_t(values.size()))));
        for (std::size_t i = 0; i < values.size(); ++i) {
            PyList_SET_ITEM(list.get(), Py_ssize_t(i), Convert<T>::to(values[i]));
        }
        return list.release();
    }
};

// Checks that `object` is a tuple of `size` items.
void require_tuple(PyObject* object, std::size_t size);

template <class... T>
struct Convert<std::tuple<T...>> {
    static std::tuple<T...> from(PyObject* object) {
        require_tuple(object, sizeof...(T));
        return from_items(object, std::index_sequence_for<T...>{});
    }
    static PyObject* to(const std::tuple<T...>& value) {
        Ref tuple = Ref::steal(check(PyTuple_New(sizeof...(T))));
        fill(tuple.get(), value, std::index_sequence_for<T...>{});
        return tuple.release();
    }

private:
    template <std::size_t... I>
    static std::tuple<T...> from_items(PyObject* object, std::index_sequence<I...>) {
        // Braced initialisation converts the items left to right.
        return std::tuple<T...>{Convert<T>::from(PyTuple_GET_ITEM(object, I))...};
    }
    template <std::size_t... I>
    static void fill(PyObject* tuple, const std::tuple<T...>& value, std::index_sequence<I...>) {
        (PyTuple_SET_ITEM(tuple, I, Convert<T>::to(std::get<I>(value))), ...);
    }
};

template <class A, class B>
struct Convert<std::pair<A, B>> {
    static std::pair<A, B> from(PyObject* object) {
        auto [a, b] = Convert<std::tuple<A, B>>::from(object);
        return {std::move(a), std::move(b)};
    }
    static PyObject* to(const std::pair<A, B>& value) {
        return Convert<std::tuple<A, B>>::to(std::tuple<A, B>(value.first, value.second));
    }
};

template <class K, class V>
struct Convert<Dict<K, V>> {
    static Dict<K, V> from(PyObject* object) {
        if (!PyDict_Check(object)) raise_cannot_convert(object, "PyDict");
        // Converting may run code of the caller's (__index__, __float__, a str subclass, ...) that
        // changes or clears the dict: convert from a list of its (key, value) pairs, which holds
        // every key and value, one pair after the other, the key first.
        Ref items = Ref::steal(check(PyDict_Items(object)));
        Dict<K, V> dict;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
            PyObject* pair = PyList_GET_ITEM(items.get(), i);
            K key = Convert<K>::from(PyTuple_GET_ITEM(pair, 0));
            V value = Convert<V>::from(PyTuple_GET_ITEM(pair, 1));
            dict.items.emplace_back(std::move(key), std::move(value));
        }
        return dict;
    }
    static PyObject* to(const Dict<K, V>& dict) {
        Ref result = Ref::steal(check(PyDict_New()));
        for (const auto& [key, value] : dict.items) {
            Ref k = Ref::steal(Convert<K>::to(key));
            Ref v = Ref::steal(Convert<V>::to(value));
            if (PyDict_SetItem(result.get(), k.get(), v.get()) < 0) raise_pending();
        }
        return result.release();
    }
};

template <class T>
inline constexpr bool is_optional = false;
template <class T>
inline constexpr bool is_optional<std::optional<T>> = true;

}  // namespace py
