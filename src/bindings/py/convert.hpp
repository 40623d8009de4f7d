#pragma once
// Conversions between Python objects and C++ values.
//
// Convert<T>::from(object) produces a T or sets a Python error and throws PythonErrorSet;
// Convert<T>::to(value) returns a new reference. Bound classes (and enumerations) of the module are
// converted by copying the value held in their Box; everything else has a specialisation here.
//
// Every converter also names its Python type, as type stubs write it: hint_in() for what from()
// accepts, hint_out() for what to() returns (they differ: a list parameter takes any sequence).

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
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

// A bound object taken by reference rather than copied (for arguments such as an engine that a
// function works on in place). Converting the argument only finds the object: the callable takes
// its access with hold() once every argument is converted (no code of the caller's may run while
// a call holds an object), and the access lasts as long as the handle.
template <class T>
class Shared {
public:
    explicit Shared(Box<T>* box) : box_(box) {}
    void hold() { borrow_.emplace(box_->borrow); }
    const T& operator*() const { return box_->value; }
    const T* operator->() const { return &box_->value; }

private:
    Box<T>* box_;
    std::optional<SharedBorrow> borrow_;
};

template <class T>
class Exclusive {
public:
    explicit Exclusive(Box<T>* box) : box_(box) {}
    void hold() { borrow_.emplace(box_->borrow); }
    T& operator*() const { return box_->value; }
    T* operator->() const { return &box_->value; }

private:
    Box<T>* box_;
    std::optional<ExclusiveBorrow> borrow_;
};

template <class T>
inline constexpr bool is_object_handle = false;
template <class T>
inline constexpr bool is_object_handle<Shared<T>> = true;
template <class T>
inline constexpr bool is_object_handle<Exclusive<T>> = true;

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
    static std::string hint_in() { return std::string(short_name(python_type<T>)); }
    static std::string hint_out() { return hint_in(); }
};

template <class T>
struct Convert<Shared<T>> {
    static Shared<T> from(PyObject* object) {
        if (!holds<T>(object)) raise_cannot_convert(object, short_name(python_type<T>));
        return Shared<T>(box_of<T>(object));
    }
    static std::string hint_in() { return Convert<T>::hint_in(); }
};

template <class T>
struct Convert<Exclusive<T>> {
    static Exclusive<T> from(PyObject* object) {
        if (!holds<T>(object)) raise_cannot_convert(object, short_name(python_type<T>));
        return Exclusive<T>(box_of<T>(object));
    }
    static std::string hint_in() { return Convert<T>::hint_in(); }
};

template <>
struct Convert<std::string> {
    static std::string from(PyObject* object);
    static PyObject* to(const std::string& value);
    static std::string hint_in() { return "str"; }
    static std::string hint_out() { return "str"; }
};

// A file system path as the caller gives it: str, bytes or os.PathLike. A str goes through the file
// system encoding as open() sends it (lone surrogates from undecodable bytes included), so every
// file name can be named. It converts back to the kind it came as.
struct FsPath {
    std::string bytes;
    bool given_as_bytes = false;
};

template <>
struct Convert<FsPath> {
    static FsPath from(PyObject* object);
    static PyObject* to(const FsPath& path);
    static std::string hint_in() { return "_StrOrBytesPath"; }
    static std::string hint_out() { return "str | bytes"; }
};

// Text that may quote file names: bytes that are not UTF-8 come back as the file system decoding
// gives them (surrogate escapes), like os.fsdecode.
struct FsText {
    std::string bytes;
};

template <>
struct Convert<FsText> {
    static PyObject* to(const FsText& text);
    static std::string hint_out() { return "str"; }
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
    static std::string hint_in() { return "float"; }
    static std::string hint_out() { return "float"; }
};

template <>
struct Convert<bool> {
    static bool from(PyObject* object);
    static PyObject* to(bool value) { return boolean(value); }
    static std::string hint_in() { return "bool"; }
    static std::string hint_out() { return "bool"; }
};

// Unsigned 64-bit (also the machine-size unsigned integer on the platforms we build for).
template <>
struct Convert<std::uint64_t> {
    static std::uint64_t from(PyObject* object);
    static PyObject* to(std::uint64_t value) { return check(PyLong_FromUnsignedLongLong(value)); }
    static std::string hint_in() { return "int"; }
    static std::string hint_out() { return "int"; }
};

template <>
struct Convert<std::uint32_t> {
    static std::uint32_t from(PyObject* object);
    static PyObject* to(std::uint32_t value) { return check(PyLong_FromUnsignedLong(value)); }
    static std::string hint_in() { return "int"; }
    static std::string hint_out() { return "int"; }
};

template <>
struct Convert<std::uint8_t> {
    static PyObject* to(std::uint8_t value) { return check(PyLong_FromUnsignedLong(value)); }
    static std::string hint_out() { return "int"; }
};

template <>
struct Convert<Object> {
    static Object from(PyObject* object) { return Object{Ref::borrow(object)}; }
    static PyObject* to(const Object& value) {
        return value.ref ? new_ref(value.ref.get()) : none();
    }
    static std::string hint_in() { return "Any"; }
    static std::string hint_out() { return "Any"; }
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
    static std::string hint_in() { return Convert<T>::hint_in() + " | None"; }
    static std::string hint_out() { return Convert<T>::hint_out() + " | None"; }
};

// Sequence extraction shared by every list type: refuses str, requires the sequence protocol and
// converts each element through `element`.
void for_each_sequence_item(PyObject* object, void (*element)(PyObject*, void*), void* context);

template <class T>
struct Convert<std::vector<T>> {
    static std::vector<T> from(PyObject* object) {
        std::vector<T> values;
        // A list or tuple says its size without running code: no regrowing a vector of millions.
        if (PyList_Check(object)) values.reserve(std::size_t(PyList_GET_SIZE(object)));
        if (PyTuple_Check(object)) values.reserve(std::size_t(PyTuple_GET_SIZE(object)));
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
    // Any sequence but a str is accepted; a list comes back.
    static std::string hint_in() { return "Sequence[" + Convert<T>::hint_in() + "]"; }
    static std::string hint_out() { return "list[" + Convert<T>::hint_out() + "]"; }
};

// Checks that `object` is a tuple of `size` items.
void require_tuple(PyObject* object, std::size_t size);

// "a, b, c": type hints joined for a tuple's parameters.
std::string join(std::initializer_list<std::string> hints);

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
    static std::string hint_in() { return "tuple[" + join({Convert<T>::hint_in()...}) + "]"; }
    static std::string hint_out() { return "tuple[" + join({Convert<T>::hint_out()...}) + "]"; }

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
    static std::string hint_in() { return Convert<std::tuple<A, B>>::hint_in(); }
    static std::string hint_out() { return Convert<std::tuple<A, B>>::hint_out(); }
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
    static std::string hint_in() {
        return "dict[" + Convert<K>::hint_in() + ", " + Convert<V>::hint_in() + "]";
    }
    static std::string hint_out() {
        return "dict[" + Convert<K>::hint_out() + ", " + Convert<V>::hint_out() + "]";
    }
};

// dict[key] = value and list.append(value), converting C++ values; a Ref is taken as it is.
template <class T>
void set_item(PyObject* dict, const char* key, const T& value) {
    Ref converted;
    if constexpr (std::is_same_v<T, Ref>) {
        converted = value;
    } else {
        converted = Ref::steal(Convert<T>::to(value));
    }
    if (PyDict_SetItemString(dict, key, converted.get()) < 0) raise_pending();
}

template <class T>
void append(PyObject* list, const T& value) {
    Ref converted;
    if constexpr (std::is_same_v<T, Ref>) {
        converted = value;
    } else {
        converted = Ref::steal(Convert<T>::to(value));
    }
    if (PyList_Append(list, converted.get()) < 0) raise_pending();
}

template <class T>
inline constexpr bool is_optional = false;
template <class T>
inline constexpr bool is_optional<std::optional<T>> = true;

}  // namespace py
