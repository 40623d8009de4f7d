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

static void set_panic(const char* message) {
    if (PyObject* type = panic_exception_type()) PyErr_SetString(type, message);
}

void set_python_error_from_current_exception() {
    try {
        throw;
    } catch (const PythonErrorSet&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    } catch (const tavo::InvalidValue& error) {
        PyErr_SetString(PyExc_ValueError, error.what());
    } catch (const tavo::OperationFailed& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    } catch (const tavo::Panic& error) {
        set_panic(error.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        set_panic(error.what());
    } catch (...) {
        set_panic("unknown failure in the simulation core");
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
