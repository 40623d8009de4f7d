// Module initialisation: classes and functions are registered in the order of registrations.def.

#include <cstdlib>
#include <string>

#include "py/module_builder.hpp"
#include "registry.hpp"
#include "tavo/error.hpp"
#include "tavo/random/chacha.hpp"

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
    "Built from the tavo_core C++20 quantum-network simulation library.\n"
    "\n"
    "Quantum-network simulation with a C++ core.\n"
    "\n"
    "Describe a network of quantum memories (nodes) joined by fiber or satellite links, as\n"
    "NodeDefinition and LinkDefinition objects or as a .tavo JSON file, give it to a TavoEngine,\n"
    "and play out entanglement requests: single requests, seeded Monte Carlo ensembles with a\n"
    "sensitivity analysis, and key distribution, teleportation and distributed computation on\n"
    "top. Topology files are loaded, validated, saved and diffed; engine networks are saved as\n"
    "snapshots.\n"
    "\n"
    "Units: lengths in km, times in ms, rates in Hz, signal speed in km/ms; node memory lifetimes\n"
    "in seconds in the engine but in ms in .tavo files; fidelities, probabilities and rates of\n"
    "success are fractions of 1 (1.0 is perfect).\n"
    "\n"
    "Conventions: attribute reads return copies (assign a whole value to change an object); None\n"
    "for an optional parameter means its default. Arguments of the wrong type raise TypeError\n"
    "(\"argument 'x': ...\"); negative or too large values for unsigned integers raise\n"
    "OverflowError. Everything pickles and copies. Long calls (simulations, protocols,\n"
    "comparisons, file operations, network definitions) release the interpreter lock, so other\n"
    "threads run meanwhile, and Ctrl-C interrupts them with KeyboardInterrupt. An object used by\n"
    "several threads at once makes the later caller wait; a call converts all its arguments\n"
    "before it takes the objects it works on. Documents beyond 1 GiB are refused.\n"
    "\n"
    "SimulationResult, PyMonteCarloContext, TopologySnapshot, TopologyMetadata, TopologyConfig "
    "and\n"
    "TopologyDiff are not module attributes at runtime: Python code receives them from the\n"
    "module. Import them for annotations only, under `if typing.TYPE_CHECKING:`.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The block kernel of the random source is chosen once, here: the widest this CPU runs, or the one
// TAVO_KERNEL names (for tests and benchmarks). Its name is the private attribute `_kernel`.
void choose_kernel(PyObject* module) {
    if (const char* forced = std::getenv("TAVO_KERNEL"); forced && *forced) {
        try {
            tavo::select_chacha_kernel(std::string_view(forced));
        } catch (const tavo::InvalidValue& error) {
            py::raise(PyExc_ImportError,
                      "TAVO_KERNEL=" + std::string(forced) + ": " + error.message());
        }
    }
    if (PyModule_AddStringConstant(module, "_kernel",
                                   tavo::chacha_kernel_name(tavo::chacha_kernel())) < 0) {
        py::raise_pending();
    }
}

}  // namespace
}  // namespace bindings

PyMODINIT_FUNC PyInit_tavo_core() {
    py::Ref module = py::Ref::steal(PyModule_Create(&bindings::module_definition));
    if (!module) return nullptr;
    bool ok = py::guarded(
        [&] {
            py::note_main_thread();
            bindings::choose_kernel(module.get());
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
