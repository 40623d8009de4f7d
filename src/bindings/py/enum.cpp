#include "py/enum.hpp"

namespace py {

void set_class_attribute(PyTypeObject* type, const char* name, PyObject* value) {
    if (PyDict_SetItemString(type->tp_dict, name, value) < 0) raise_pending();
    PyType_Modified(type);
}

}  // namespace py
