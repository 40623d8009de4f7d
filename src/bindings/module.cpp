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
    {"TopologyComparisonResult", topology_comparison_result_class},
    {"TopologyComparisonReport", topology_comparison_report_class},
    {"LinkType", link_type_class},
    {"StrategyType", strategy_type_class},
    {"SimulationConfig", simulation_config_class},
    {"NodeDefinition", node_definition_class},
    {"NetworkTopologyPayload", network_topology_payload_class},
    {"TavoFile", tavo_file_class},
    {"TavoNode", tavo_node_class},
    {"TavoLink", tavo_link_class},
    {"TavoConfig", tavo_config_class},
    {"TavoConstraints", tavo_constraints_class},
    {"TavoMetadata", tavo_metadata_class},
    {"TavoNodeType", tavo_node_type_class},
    {"TavoLinkType", tavo_link_type_class},
    {"TavoSatelliteExtension", tavo_satellite_extension_class},
    {"TopologyEndpoints", topology_endpoints_class},
    {"QKDParameters", qkd_parameters_class},
    {"QKDResult", qkd_result_class},
    {"QKDStats", qkd_stats_class},
    {"TeleportationParameters", teleportation_parameters_class},
    {"TeleportationOutcome", teleportation_outcome_class},
    {"TeleportationStats", teleportation_stats_class},
    {"BasisType", basis_type_class},
    {"CoordinationTopology", coordination_topology_class},
    {"MeasurementBasis", measurement_basis_class},
    {"DistributedComputingParameters", distributed_computing_parameters_class},
    {"PartyOutcome", party_outcome_class},
    {"DistributedComputingResult", distributed_computing_result_class},
    {"DistributedComputingStats", distributed_computing_stats_class},
    // Functions, with the two aliases where they are created.
    {"generate_topology", generate_topology_function},
    {"compare_topologies", compare_topologies_function},
    {"save_topology", save_topology_function},
    {"load_topology", load_topology_function},
    {"validate", validate_function},
    {"load_tavo_file", load_tavo_file_function},
    {"diff", diff_function},
    {"diff_topologies", diff_topologies_function},
    {"from_tavo_file", from_tavo_file_function},
    {"load", nullptr, "load_tavo_file"},
    {"save_tavo_file_wrapper", save_tavo_file_wrapper_function},
    {"save", nullptr, "save_tavo_file_wrapper"},
    {"qkd", qkd_function},
    {"teleportation", teleportation_function},
    {"distributed_computation", distributed_computation_function},
};

// Classes Python code meets only as returned values: created with the module, not added to it.
const Maker kValueClasses[] = {
    simulation_result_class,
    monte_carlo_context_class,
    topology_diff_class,
    topology_snapshot_class,
    topology_config_class,
    topology_metadata_class,
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
