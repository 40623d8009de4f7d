#include "py/convert.hpp"

#include <chrono>
#include <climits>

#include "py/cancellation.hpp"
#include "tavo/interrupt.hpp"

namespace py {

void raise_cannot_convert(PyObject* object, std::string_view target) {
    raise_type_error("'" + type_name(object) + "' object cannot be converted to '" +
                     std::string(target) + "'");
}

std::string Convert<std::string>::from(PyObject* object) {
    if (!PyUnicode_Check(object)) raise_cannot_convert(object, "PyString");
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (!text) raise_pending();
    return std::string(text, std::size_t(size));
}

PyObject* Convert<std::string>::to(const std::string& value) {
    return check(PyUnicode_FromStringAndSize(value.data(), Py_ssize_t(value.size())));
}

FsPath Convert<FsPath>::from(PyObject* object) {
    Ref path = Ref::steal(check(PyOS_FSPath(object)));
    FsPath result;
    if (PyBytes_Check(path.get())) {
        result.given_as_bytes = true;
        result.bytes.assign(PyBytes_AS_STRING(path.get()),
                            std::size_t(PyBytes_GET_SIZE(path.get())));
        return result;
    }
    Ref encoded = Ref::steal(check(PyUnicode_EncodeFSDefault(path.get())));
    result.bytes.assign(PyBytes_AS_STRING(encoded.get()),
                        std::size_t(PyBytes_GET_SIZE(encoded.get())));
    return result;
}

PyObject* Convert<FsPath>::to(const FsPath& path) {
    if (path.given_as_bytes) {
        return check(PyBytes_FromStringAndSize(path.bytes.data(), Py_ssize_t(path.bytes.size())));
    }
    return Convert<FsText>::to(FsText{path.bytes});
}

PyObject* Convert<FsText>::to(const FsText& text) {
    return check(
        PyUnicode_DecodeFSDefaultAndSize(text.bytes.data(), Py_ssize_t(text.bytes.size())));
}

bool Convert<bool>::from(PyObject* object) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    raise_cannot_convert(object, "PyBool");
}

// Integers follow the interpreter's own rules: objects with __index__ are accepted, and the
// interpreter's OverflowError/TypeError texts are kept.
static Ref as_index(PyObject* object) {
    if (PyLong_Check(object)) return Ref::borrow(object);
    return Ref::steal(check(PyNumber_Index(object)));
}

std::uint64_t Convert<std::uint64_t>::from(PyObject* object) {
    Ref number = as_index(object);
    unsigned long long value = PyLong_AsUnsignedLongLong(number.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonErrorSet{};
    return value;
}

std::uint32_t Convert<std::uint32_t>::from(PyObject* object) {
    Ref number = as_index(object);
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw PythonErrorSet{};
    if (overflow != 0 || value < 0 || value > static_cast<long long>(UINT32_MAX)) {
        raise(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return static_cast<std::uint32_t>(value);
}

namespace {

// A long conversion (a list of ten million nodes) takes seconds with the interpreter lock held.
// Every few milliseconds it looks for Ctrl-C and the thread's cancellations, and lets other
// threads run: between two items it holds nothing of ours, as a loop in Python code would not.
class ConversionPace {
public:
    void item() {
        if (++items_ % kItemsPerLook != 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now < next_) return;
        next_ = now + std::chrono::milliseconds(tavo::kInterruptPollMs / 4);
        if (stop_requested()) throw PythonErrorSet{};
        take_lock_back(release_lock());
    }

private:
    static constexpr std::size_t kItemsPerLook = 1024;
    std::size_t items_ = 0;
    std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now();
};

}  // namespace

void for_each_sequence_item(PyObject* object, void (*element)(PyObject*, void*), void* context) {
    if (PyUnicode_Check(object)) raise_type_error("Can't extract `str` to `Vec`");
    if (!PySequence_Check(object)) raise_cannot_convert(object, "Sequence");
    Ref iterator = Ref::steal(check(PyObject_GetIter(object)));
    ConversionPace pace;
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        element(item.get(), context);
        pace.item();
    }
    if (PyErr_Occurred()) throw PythonErrorSet{};
}

std::string join(std::initializer_list<std::string> hints) {
    std::string joined;
    for (const std::string& hint : hints) {
        if (!joined.empty()) joined += ", ";
        joined += hint;
    }
    return joined;
}

void require_tuple(PyObject* object, std::size_t size) {
    if (!PyTuple_Check(object)) raise_cannot_convert(object, "PyTuple");
    auto actual = std::size_t(PyTuple_GET_SIZE(object));
    if (actual != size) {
        raise(PyExc_ValueError, "expected tuple of length " + std::to_string(size) +
                                    ", but got tuple of length " + std::to_string(actual));
    }
}

}  // namespace py
