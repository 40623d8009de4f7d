#include "py/class_builder.hpp"

namespace py {

void raise_cannot_delete() { raise(PyExc_AttributeError, "can't delete attribute"); }

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

TypeSpec::TypeSpec(std::string name) : full_name("tavo_core." + std::move(name)) {}

PyTypeObject* TypeSpec::create() {
    methods.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
    getsets.push_back(PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr});
    std::vector<PyType_Slot> all = slots;
    if (!doc.empty()) all.push_back({Py_tp_doc, const_cast<char*>(doc.c_str())});
    all.push_back({Py_tp_methods, methods.data()});
    all.push_back({Py_tp_getset, getsets.data()});
    all.push_back({0, nullptr});

    unsigned int flags = Py_TPFLAGS_DEFAULT;
    if (gc) flags |= Py_TPFLAGS_HAVE_GC;
#ifdef Py_TPFLAGS_IMMUTABLETYPE
    flags |= Py_TPFLAGS_IMMUTABLETYPE;
#endif
    PyType_Spec spec{full_name.c_str(), basic_size, 0, flags, all.data()};
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

}  // namespace py
