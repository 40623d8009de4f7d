#include "py/pickling.hpp"

#include <map>
#include <unordered_map>

#include "py/errors.hpp"

namespace py {
namespace {

// Filled while the module initialises and read afterwards; the interpreter lock orders both.
std::map<std::string, PickleEntry, std::less<>>& entries() {
    static std::map<std::string, PickleEntry, std::less<>> table;
    return table;
}

std::unordered_map<PyTypeObject*, const std::string*>& names_by_type() {
    static std::unordered_map<PyTypeObject*, const std::string*> table;
    return table;
}

std::unordered_map<PyTypeObject*, std::string (*)(PyObject*)>& member_names() {
    static std::unordered_map<PyTypeObject*, std::string (*)(PyObject*)> table;
    return table;
}

// Never destroyed: a reference released after the interpreter has finalised would crash the exit.
Ref& reconstructor() {
    static Ref* function = new Ref;
    return *function;
}

Ref text(const std::string& value) {
    return Ref::steal(check(PyUnicode_FromStringAndSize(value.data(), Py_ssize_t(value.size()))));
}

}  // namespace

void register_pickling(std::string name, PickleEntry entry) {
    PyTypeObject* type = entry.type;
    auto [it, inserted] = entries().insert_or_assign(std::move(name), std::move(entry));
    names_by_type()[type] = &it->first;
}

void set_reconstructor(Ref function) { reconstructor() = std::move(function); }

Ref reconstruct(const std::string& name, PyObject* state) {
    auto found = entries().find(name);
    if (found == entries().end())
        raise(PyExc_ValueError, "no class to reconstruct named '" + name + "'");
    const PickleEntry& entry = found->second;
    if (entry.from_state) {
        if (!state) raise(PyExc_TypeError, name + " is reconstructed from a state");
        return entry.from_state(state);
    }
    if (state) raise(PyExc_TypeError, name + " is reconstructed without a state");
    return entry.blank();
}

PyObject* reduce_instance(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            auto name_of = names_by_type().find(Py_TYPE(self));
            if (name_of == names_by_type().end() || !reconstructor()) {
                raise(PyExc_TypeError, "cannot pickle '" + type_name(self) + "' object");
            }
            const PickleEntry& entry = entries().find(*name_of->second)->second;
            Ref name = text(*name_of->second);
            if (entry.state) {
                Ref state = entry.state(self);
                Ref args = Ref::steal(check(PyTuple_Pack(2, name.get(), state.get())));
                return check(PyTuple_Pack(2, reconstructor().get(), args.get()));
            }
            Ref attributes = Ref::steal(check(PyDict_New()));
            for (const char* attribute : entry.attributes) {
                Ref value = Ref::steal(check(PyObject_GetAttrString(self, attribute)));
                if (PyDict_SetItemString(attributes.get(), attribute, value.get()) < 0)
                    raise_pending();
            }
            Ref state = Ref::steal(check(PyTuple_Pack(2, Py_None, attributes.get())));
            Ref args = Ref::steal(check(PyTuple_Pack(1, name.get())));
            return check(PyTuple_Pack(3, reconstructor().get(), args.get(), state.get()));
        },
        nullptr);
}

void register_member_name(PyTypeObject* type, std::string (*name)(PyObject* member)) {
    member_names()[type] = name;
}

PyObject* reduce_member(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            auto found = member_names().find(Py_TYPE(self));
            if (found == member_names().end()) {
                raise(PyExc_TypeError, "cannot pickle '" + type_name(self) + "' object");
            }
            Ref builtins = Ref::steal(check(PyImport_ImportModule("builtins")));
            Ref getattr = Ref::steal(check(PyObject_GetAttrString(builtins.get(), "getattr")));
            Ref name = text(found->second(self));
            Ref args = Ref::steal(
                check(PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), name.get())));
            return check(PyTuple_Pack(2, getattr.get(), args.get()));
        },
        nullptr);
}

}  // namespace py
