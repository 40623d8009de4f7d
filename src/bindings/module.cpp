// Module initialisation: classes and functions are registered in the order of registrations.def.

#include "py/module_builder.hpp"
#include "registry.hpp"

namespace bindings {
namespace {

using Maker = py::Ref (*)(PyObject* module);

struct Entry {
    Maker make;                   // null for an alias
    const char* alias = nullptr;  // for an alias: the second name ...
    const char* name = nullptr;   // ... of the object registered under this one
    bool listed = true;           // added to __all__
};

const Entry kRegistrations[] = {
#define TAVO_CLASS(maker) {maker},
#define TAVO_FUNCTION(maker) {maker},
#define TAVO_ALIAS(alias, name) {nullptr, #alias, #name},
#define TAVO_PRIVATE_FUNCTION(maker) {maker, nullptr, nullptr, false},
#define TAVO_PRIVATE_CLASS(maker) {maker, nullptr, nullptr, false},
#include "registry.inc"
};

// Classes Python code meets only as returned values: created with the module, not added to it.
const Maker kValueClasses[] = {
#define TAVO_VALUE_CLASS(maker) maker,
#include "registry.inc"
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tavo_core",
    "The top-level Python module registration.\n"
    "Built from the tavo_core C++20 quantum-network simulation library.",
    -1,
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace bindings

PyMODINIT_FUNC PyInit_tavo_core() {
    py::Ref module = py::Ref::steal(PyModule_Create(&bindings::module_definition));
    if (!module) return nullptr;
    bool ok = py::guarded(
        [&] {
            py::note_main_thread();
            for (auto make : bindings::kValueClasses) make(module.get());
            py::ModuleBuilder builder(module.get());
            // The package version; not part of __all__.
            if (PyModule_AddStringConstant(module.get(), "__version__", TAVO_VERSION) < 0) {
                py::raise_pending();
            }
            for (const auto& entry : bindings::kRegistrations) {
                if (entry.make && entry.listed) {
                    builder.add(entry.make(module.get()));
                } else if (entry.make) {
                    builder.add_private(entry.make(module.get()));
                } else {
                    builder.alias(entry.alias, entry.name);
                }
            }
            return true;
        },
        false);
    return ok ? module.release() : nullptr;
}
