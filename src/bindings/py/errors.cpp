#include "py/errors.hpp"

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include "tavo/error.hpp"
#include "tavo/interrupt.hpp"

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

// A message as Python text: the whole text, NUL characters included; bytes of a quoted file name
// that are not UTF-8 come back as surrogate escapes, as os.fsdecode gives them.
static Ref message_text(const std::string& message) {
    return Ref::steal(
        PyUnicode_DecodeUTF8(message.data(), Py_ssize_t(message.size()), "surrogateescape"));
}

// Sets an exception of `type` whose message is the whole text.
static void set_error(PyObject* type, const std::string& message) {
    if (!type) return;
    Ref text = message_text(message);
    if (text) PyErr_SetObject(type, text.get());
}

// The exception classes of failed file operations: the RuntimeError callers expect, and also the
// OSError of the system's error (FileNotFoundError, PermissionError, or OSError itself), with its
// errno and filename. Their text is the message alone. Created on first use, never freed.
static PyObject* file_error_type(int code) {
    struct Kind {
        const char* name;
        PyObject* os_error;
        PyObject* type;
    };
    static Kind kinds[] = {
        {"tavo_core.TavoFileNotFoundError", PyExc_FileNotFoundError, nullptr},
        {"tavo_core.TavoPermissionError", PyExc_PermissionError, nullptr},
        {"tavo_core.TavoOSError", PyExc_OSError, nullptr},
    };
    Kind& kind = code == ENOENT                      ? kinds[0]
                 : (code == EACCES || code == EPERM) ? kinds[1]
                                                     : kinds[2];
    if (!kind.type) {
        Ref bases = Ref::steal(PyTuple_Pack(2, PyExc_RuntimeError, kind.os_error));
        Ref str = Ref::steal(PyObject_GetAttrString(PyExc_BaseException, "__str__"));
        Ref dict = Ref::steal(PyDict_New());
        if (!bases || !str || !dict || PyDict_SetItemString(dict.get(), "__str__", str.get()) < 0) {
            return nullptr;
        }
        kind.type = PyErr_NewExceptionWithDoc(
            kind.name, "A failed file operation: a RuntimeError that is also the system's OSError.",
            bases.get(), dict.get());
    }
    return kind.type;
}

static void set_file_error(const tavo::FileFailed& error) {
    PyObject* type = file_error_type(error.code());
    if (!type) return;
    Ref text = message_text(error.message());
    Ref exception = text ? Ref::steal(PyObject_CallOneArg(type, text.get())) : Ref();
    Ref code = Ref::steal(PyLong_FromLong(error.code()));
    Ref description =
        Ref::steal(PyUnicode_DecodeLocale(std::strerror(error.code()), "surrogateescape"));
    Ref filename = Ref::steal(
        PyUnicode_DecodeFSDefaultAndSize(error.path().data(), Py_ssize_t(error.path().size())));
    if (!exception || !code || !description || !filename ||
        PyObject_SetAttrString(exception.get(), "errno", code.get()) < 0 ||
        PyObject_SetAttrString(exception.get(), "strerror", description.get()) < 0 ||
        PyObject_SetAttrString(exception.get(), "filename", filename.get()) < 0) {
        return;
    }
    PyErr_SetObject(type, exception.get());
}

void set_python_error_from_current_exception() {
    try {
        throw;
    } catch (const PythonErrorSet&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    } catch (const tavo::Interrupted&) {
        // The interrupt's own exception (KeyboardInterrupt, or what a signal handler raised) is
        // pending already.
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const tavo::FileFailed& error) {
        set_file_error(error);
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
