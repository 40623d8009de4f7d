// Prints the Python types that the binding kit declared for every callable and attribute of the
// module, as JSON (py/declarations.hpp). The module is linked in, imported into an embedded
// interpreter, and described once its classes exist.

#include <cstdio>
#include <string>

#include "py/declarations.hpp"

extern "C" PyObject* PyInit_tavo_core();

int main() {
    if (PyImport_AppendInittab("tavo_core", &PyInit_tavo_core) < 0) return 1;
    Py_InitializeEx(0);
    PyObject* module = PyImport_ImportModule("tavo_core");
    if (!module) {
        PyErr_Print();
        return 1;
    }
    const std::string json = py::declarations_json();
    std::fwrite(json.data(), 1, json.size(), stdout);
    Py_DECREF(module);
    return Py_FinalizeEx() < 0 ? 1 : 0;
}
