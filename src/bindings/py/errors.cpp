#include "py/errors.hpp"

#include <new>
#include <stdexcept>

#include "tavo/error.hpp"

namespace py {

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw PythonErrorSet{};
}

void raise_type_error(const std::string& message) { raise(PyExc_TypeError, message); }

void raise_pending() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "error return without exception set");
    }
    throw PythonErrorSet{};
}

PyObject* panic_exception_type() {
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            "tavo_core.PanicException",
            "Raised when the simulation core meets a broken internal invariant.",
            PyExc_BaseException, nullptr);
    }
    return type;
}

// Sets an exception of `type` whose message is the whole text, NUL characters included.
static void set_error(PyObject* type, const std::string& message) {
    if (!type) return;
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), Py_ssize_t(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

void set_python_error_from_current_exception() {
    try {
        throw;
    } catch (const PythonErrorSet&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    } catch (const tavo::InvalidValue& error) {
        set_error(PyExc_ValueError, error.message());
    } catch (const tavo::OperationFailed& error) {
        set_error(PyExc_RuntimeError, error.message());
    } catch (const tavo::Panic& error) {
        set_error(panic_exception_type(), error.message());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        set_error(panic_exception_type(), error.what());
    } catch (...) {
        set_error(panic_exception_type(), "unknown failure in the simulation core");
    }
}

std::string type_name(PyObject* object) {
    Ref name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)),
                                                 "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        if (const char* text = PyUnicode_AsUTF8(name.get())) return text;
    }
    PyErr_Clear();
    return Py_TYPE(object)->tp_name;
}

std::string to_display(PyObject* object) {
    Ref text = Ref::steal(PyObject_Str(object));
    if (text) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size)) return {utf8, std::size_t(size)};
    }
    PyErr_Clear();
    return "<unprintable>";
}

}  // namespace py
