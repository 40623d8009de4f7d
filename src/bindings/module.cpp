// Module initialisation: the registration order of every class and function is this one table.

#include "py/module_builder.hpp"
#include "registry.hpp"

namespace bindings {
namespace {

struct Entry {
    const char* name;
    Maker make;                      // null for an alias
    const char* alias_of = nullptr;  // the name whose object an alias re-adds
};

const Entry kRegistrations[] = {
    // Classes added under explicit names.
    {"TavoEngine", tavo_engine_class},
    {"PhysicalConfig", physical_config_class},
    {"LinkDefinition", link_definition_class},
    {"SatelliteConditions", satellite_conditions_class},
    {"EntanglementRequest", entanglement_request_class},
    {"MonteCarloStats", monte_carlo_stats_class},
    // Further classes, in order.
    {"LinkType", link_type_class},
    {"StrategyType", strategy_type_class},
    {"SimulationConfig", simulation_config_class},
    {"NodeDefinition", node_definition_class},
    {"NetworkTopologyPayload", network_topology_payload_class},
};

// Classes Python code meets only as returned values: created with the module, not added to it.
const Maker kValueClasses[] = {
    simulation_result_class,
    monte_carlo_context_class,
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
            for (auto make : bindings::kValueClasses) make(module.get());
            py::ModuleBuilder builder(module.get());
            for (const auto& entry : bindings::kRegistrations) {
                if (entry.make) {
                    builder.add(entry.name, entry.make(module.get()));
                } else {
                    builder.alias(entry.name, entry.alias_of);
                }
            }
            return true;
        },
        false);
    return ok ? module.release() : nullptr;
}
