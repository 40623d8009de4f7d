#include "json_values.hpp"

#include <vector>

#include "py/errors.hpp"

namespace bindings {

using tavo::json::Member;
using tavo::json::Value;

py::Ref python_from_json(const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Null: return py::Ref::steal(py::none());
        case Value::Kind::Bool: return py::Ref::steal(py::boolean(value.as_bool()));
        case Value::Kind::Unsigned:
            return py::Ref::steal(py::check(PyLong_FromUnsignedLongLong(value.as_unsigned())));
        case Value::Kind::Signed:
            return py::Ref::steal(py::check(PyLong_FromLongLong(value.as_signed())));
        case Value::Kind::Float:
            return py::Ref::steal(py::check(PyFloat_FromDouble(value.as_float())));
        case Value::Kind::String: {
            const std::string& text = value.as_string();
            return py::Ref::steal(py::check(
                PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(text.size()), "surrogatepass")));
        }
        case Value::Kind::Array: {
            const auto& elements = value.as_array();
            py::Ref list = py::Ref::steal(py::check(PyList_New(Py_ssize_t(elements.size()))));
            for (std::size_t i = 0; i < elements.size(); ++i) {
                PyList_SET_ITEM(list.get(), Py_ssize_t(i), python_from_json(elements[i]).release());
            }
            return list;
        }
        case Value::Kind::Object: {
            py::Ref dict = py::Ref::steal(py::check(PyDict_New()));
            for (const Member& member : value.as_object()) {
                py::Ref key = py::Ref::steal(py::check(PyUnicode_DecodeUTF8(
                    member.key.data(), Py_ssize_t(member.key.size()), "surrogatepass")));
                py::Ref item = python_from_json(member.value);
                if (PyDict_SetItem(dict.get(), key.get(), item.get()) < 0) py::raise_pending();
            }
            return dict;
        }
    }
    return py::Ref::steal(py::none());
}

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    py::raise_type_error(path + ": " + why);
}

std::string utf8_of(PyObject* text, const std::string& path) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (!data) {
        PyErr_Clear();
        refuse(path, "a str that is not valid Unicode (a lone surrogate) has no JSON form");
    }
    return std::string(data, std::size_t(size));
}

class Converter {
public:
    Value convert(PyObject* object, const std::string& path) {
        if (object == Py_None) return Value();
        if (PyBool_Check(object)) return Value::boolean(object == Py_True);
        if (PyLong_Check(object)) return integer(object, path);
        if (PyFloat_Check(object)) return Value::floating(PyFloat_AS_DOUBLE(object));
        if (PyUnicode_Check(object)) return Value::string(utf8_of(object, path));
        if (PyList_Check(object) || PyTuple_Check(object) || PyDict_Check(object)) {
            return container(object, path);
        }
        refuse(path, "an object of type '" + py::type_name(object) + "' has no JSON form");
    }

private:
    static Value integer(PyObject* object, const std::string& path) {
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (overflow == 0) {
            if (value == -1 && PyErr_Occurred()) py::raise_pending();
            return Value::signed_integer(value);
        }
        if (overflow > 0) {
            const unsigned long long big = PyLong_AsUnsignedLongLong(object);
            if (!(big == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
                return Value::unsigned_integer(big);
            }
            PyErr_Clear();
        }
        refuse(path, "an int outside -2**63 .. 2**64 - 1 has no JSON form in a .tavo file");
    }

    Value container(PyObject* object, const std::string& path) {
        for (PyObject* open : open_) {
            if (open == object) refuse(path, "a container that holds itself has no JSON form");
        }
        if (Py_EnterRecursiveCall(" while converting to JSON")) py::raise_pending();
        open_.push_back(object);
        struct Leave {
            Converter& converter;
            ~Leave() {
                converter.open_.pop_back();
                Py_LeaveRecursiveCall();
            }
        } leave{*this};
        if (PyDict_Check(object)) return dict(object, path);
        // The items as they are now, read from the containers' storage: nothing here runs code of
        // the caller's (no __iter__, __index__ or __float__ of subclasses), so that a file may be
        // converted while it is in use.
        py::Ref items = PyTuple_Check(object) ? py::Ref::borrow(object)
                                              : py::Ref::steal(py::check(PyList_AsTuple(object)));
        Value::Array elements;
        elements.reserve(std::size_t(PyTuple_GET_SIZE(items.get())));
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i) {
            elements.push_back(
                convert(PyTuple_GET_ITEM(items.get(), i), path + "[" + std::to_string(i) + "]"));
        }
        return Value::array(std::move(elements));
    }

    Value dict(PyObject* object, const std::string& path) {
        py::Ref items = py::Ref::steal(py::check(PyDict_Items(object)));
        std::vector<Member> members;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
            PyObject* pair = PyList_GET_ITEM(items.get(), i);
            PyObject* key = PyTuple_GET_ITEM(pair, 0);
            if (!PyUnicode_Check(key)) {
                refuse(path, "a dict key of type '" + py::type_name(key) +
                                 "' has no JSON form (keys must be str)");
            }
            std::string name = utf8_of(key, path);
            std::string inner = path + "['" + name + "']";
            members.push_back(Member{std::move(name), convert(PyTuple_GET_ITEM(pair, 1), inner)});
        }
        return Value::object(std::move(members));
    }

    std::vector<PyObject*> open_;  // the containers being converted, outermost first
};

}  // namespace

Value json_from_python(PyObject* object, const std::string& path) {
    return Converter().convert(object, path);
}

}  // namespace bindings
