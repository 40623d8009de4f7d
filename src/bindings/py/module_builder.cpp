#include "py/module_builder.hpp"

namespace py {

void ModuleBuilder::add(const char* name, Ref value) {
    Ref all = Ref::steal(PyObject_GetAttrString(module_, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = Ref::steal(check(PyList_New(0)));
        if (PyObject_SetAttrString(module_, "__all__", all.get()) < 0) raise_pending();
    }
    Ref key = Ref::steal(check(PyUnicode_FromString(name)));
    if (PyList_Append(all.get(), key.get()) < 0) raise_pending();
    if (PyObject_SetAttrString(module_, name, value.get()) < 0) raise_pending();
}

void ModuleBuilder::add(Ref value) {
    Ref name = Ref::steal(check(PyObject_GetAttrString(value.get(), "__name__")));
    const char* text = PyUnicode_AsUTF8(name.get());
    if (!text) raise_pending();
    add(text, std::move(value));
}

void ModuleBuilder::add_private(Ref value) {
    Ref name = Ref::steal(check(PyObject_GetAttrString(value.get(), "__name__")));
    if (PyObject_SetAttr(module_, name.get(), value.get()) < 0) raise_pending();
}

void ModuleBuilder::alias(const char* alias, const char* name) {
    add(alias, Ref::steal(check(PyObject_GetAttrString(module_, name))));
}

Ref function_object(PyObject* module, PyMethodDef* def) {
    Ref module_name = Ref::steal(check(PyModule_GetNameObject(module)));
    return Ref::steal(check(PyCFunction_NewEx(def, module, module_name.get())));
}

}  // namespace py
