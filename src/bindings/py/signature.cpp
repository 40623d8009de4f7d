#include "py/signature.hpp"

#include <vector>

#include "py/box.hpp"
#include "py/doc.hpp"

namespace py {

std::string display_name(const CallShape& shape) {
    std::string name;
    if (shape.kind != CallKind::Function && shape.owner && *shape.owner) {
        name += short_name(*shape.owner);
        name += '.';
    }
    name += shape.kind == CallKind::Constructor ? std::string_view("__new__") : shape.name;
    name += "()";
    return name;
}

std::string text_signature(const CallShape& shape) {
    std::string text = "(";
    bool first = true;
    if (shape.kind == CallKind::Method) {
        text += "$self";
        first = false;
    }
    for (std::size_t i = 0; i < shape.params.size(); ++i) {
        if (!first) text += ", ";
        first = false;
        text += shape.params[i];
        if (shape.optional[i]) text += "=None";
    }
    text += ')';
    return text;
}

std::string signature_docstring(const CallShape& shape, std::string_view doc) {
    std::string text(shape.name);
    text += text_signature(shape);
    text += "\n--\n\n";
    text += clean_doc(doc);
    return text;
}

namespace {

[[noreturn]] void too_many_positional(const CallShape& shape, std::size_t given) {
    std::string message = display_name(shape) + " takes ";
    if (shape.required != shape.params.size()) {
        message += "from " + std::to_string(shape.required) + " to ";
    }
    message += std::to_string(shape.params.size()) + " positional arguments but " +
               std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    raise_type_error(message);
}

[[noreturn]] void missing_required(const CallShape& shape, PyObject** out) {
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < shape.required; ++i) {
        if (!out[i]) missing.push_back(shape.params[i]);
    }
    std::string message = display_name(shape) + " missing " + std::to_string(missing.size()) +
                          " required positional " +
                          (missing.size() == 1 ? "argument" : "arguments") + ": ";
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i != 0) {
            if (missing.size() > 2) message += ',';
            message += i + 1 == missing.size() ? " and " : " ";
        }
        message += '\'';
        message += missing[i];
        message += '\'';
    }
    raise_type_error(message);
}

// Places one keyword argument; raises on unknown names and on parameters already filled.
void place_keyword(const CallShape& shape, PyObject* name, PyObject* value, PyObject** out) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
    if (text) {
        std::string_view key(text, std::size_t(size));
        for (std::size_t i = 0; i < shape.params.size(); ++i) {
            if (shape.params[i] != key) continue;
            if (out[i]) {
                raise_type_error(display_name(shape) + " got multiple values for argument '" +
                                 std::string(key) + "'");
            }
            out[i] = value;
            return;
        }
    }
    PyErr_Clear();
    raise_type_error(display_name(shape) + " got an unexpected keyword argument '" +
                     to_display(name) + "'");
}

void finish(const CallShape& shape, std::size_t nargs, PyObject** out) {
    if (nargs >= shape.required) return;
    for (std::size_t i = nargs; i < shape.required; ++i) {
        if (!out[i]) missing_required(shape, out);
    }
}

}  // namespace

void bind_arguments(const CallShape& shape, PyObject* const* args, std::size_t nargs,
                    PyObject* kwnames, PyObject** out) {
    if (nargs > shape.params.size()) too_many_positional(shape, nargs);
    for (std::size_t i = 0; i < nargs; ++i) out[i] = args[i];
    if (kwnames) {
        Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < count; ++k) {
            place_keyword(shape, PyTuple_GET_ITEM(kwnames, k), args[nargs + std::size_t(k)], out);
        }
    }
    finish(shape, nargs, out);
}

void bind_arguments(const CallShape& shape, PyObject* args, PyObject* kwargs, PyObject** out) {
    auto nargs = std::size_t(PyTuple_GET_SIZE(args));
    if (nargs > shape.params.size()) too_many_positional(shape, nargs);
    for (std::size_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, Py_ssize_t(i));
    if (kwargs) {
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t position = 0;
        while (PyDict_Next(kwargs, &position, &name, &value)) place_keyword(shape, name, value, out);
    }
    finish(shape, nargs, out);
}

// The pending exception, taken out of the interpreter's error state.
static Ref take_pending_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return Ref::steal(PyErr_GetRaisedException());
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback && value) PyException_SetTraceback(value, traceback);
    Ref owned_type = Ref::steal(type);
    Ref owned_traceback = Ref::steal(traceback);
    return Ref::steal(value);
#endif
}

void reraise_argument_error(std::string_view name) {
    // Only TypeErrors name the argument; anything else (OverflowError, ...) passes unchanged.
    if (PyErr_Occurred() != PyExc_TypeError) throw PythonErrorSet{};
    Ref original = take_pending_exception();
    std::string message = "argument '" + std::string(name) + "': " + to_display(original.get());
    Ref remapped = Ref::steal(check(PyObject_CallFunction(PyExc_TypeError, "s", message.c_str())));
    // Keep the original's cause, as a chained error would show it.
    if (PyObject* cause = PyException_GetCause(original.get())) PyException_SetCause(remapped.get(), cause);
    PyErr_SetObject(PyExc_TypeError, remapped.get());
    throw PythonErrorSet{};
}

}  // namespace py
