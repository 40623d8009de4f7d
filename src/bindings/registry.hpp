#pragma once
// Makers of the module's classes and functions, one per area file; module.cpp lists them in
// registration order.

#include <optional>
#include <string>
#include <vector>

#include "py/ref.hpp"

namespace tavo {
class TavoEngine;
struct QKDParameters;
struct QKDResult;
struct TeleportationParameters;
struct TeleportationOutcome;
struct DistributedComputingResult;
struct TopologySnapshot;
}  // namespace tavo

namespace bindings {

using Maker = py::Ref (*)(PyObject* module);

// model.cpp
py::Ref physical_config_class(PyObject*);
py::Ref simulation_config_class(PyObject*);
py::Ref node_definition_class(PyObject*);
py::Ref satellite_conditions_class(PyObject*);
py::Ref link_definition_class(PyObject*);
py::Ref link_type_class(PyObject*);
py::Ref strategy_type_class(PyObject*);
py::Ref entanglement_request_class(PyObject*);
py::Ref network_topology_payload_class(PyObject*);

// engine.cpp
py::Ref tavo_engine_class(PyObject*);

// files.cpp
struct PyTavoFile;
py::Ref tavo_file_class(PyObject*);
py::Ref tavo_node_class(PyObject*);
py::Ref tavo_link_class(PyObject*);
py::Ref tavo_config_class(PyObject*);
py::Ref tavo_constraints_class(PyObject*);
py::Ref tavo_metadata_class(PyObject*);
py::Ref tavo_node_type_class(PyObject*);
py::Ref tavo_link_type_class(PyObject*);
py::Ref tavo_satellite_extension_class(PyObject*);
py::Ref validate_function(PyObject*);
py::Ref load_tavo_file_function(PyObject*);
py::Ref from_tavo_file_function(PyObject*);
py::Ref save_tavo_file_wrapper_function(PyObject*);
// The engine method (PyTavoFile is complete in file_objects.hpp).
extern const char* const kDefineNetworkFromTavoDoc;
void define_network_from_tavo_method(tavo::TavoEngine& engine, PyTavoFile qf);

// snapshots.cpp
py::Ref topology_snapshot_class(PyObject*);
py::Ref topology_metadata_class(PyObject*);
py::Ref topology_config_class(PyObject*);
py::Ref topology_diff_class(PyObject*);
py::Ref save_topology_function(PyObject*);
py::Ref load_topology_function(PyObject*);
py::Ref diff_function(PyObject*);
py::Ref diff_topologies_function(PyObject*);
// The engine method.
extern const char* const kSnapshotDoc;
tavo::TopologySnapshot snapshot_method(const tavo::TavoEngine& engine);

// simulation.cpp
py::Ref simulation_result_class(PyObject*);
py::Ref monte_carlo_context_class(PyObject*);
py::Ref monte_carlo_stats_class(PyObject*);

// topology.cpp
py::Ref topology_comparison_result_class(PyObject*);
py::Ref topology_comparison_report_class(PyObject*);
py::Ref topology_endpoints_class(PyObject*);
py::Ref generate_topology_function(PyObject*);
py::Ref compare_topologies_function(PyObject*);

// protocols.cpp
py::Ref qkd_parameters_class(PyObject*);
py::Ref qkd_result_class(PyObject*);
py::Ref qkd_stats_class(PyObject*);
py::Ref teleportation_parameters_class(PyObject*);
py::Ref teleportation_outcome_class(PyObject*);
py::Ref teleportation_stats_class(PyObject*);
py::Ref basis_type_class(PyObject*);
py::Ref coordination_topology_class(PyObject*);
py::Ref measurement_basis_class(PyObject*);
py::Ref distributed_computing_parameters_class(PyObject*);
py::Ref party_outcome_class(PyObject*);
py::Ref distributed_computing_result_class(PyObject*);
py::Ref distributed_computing_stats_class(PyObject*);
py::Ref qkd_function(PyObject*);
py::Ref teleportation_function(PyObject*);
py::Ref distributed_computation_function(PyObject*);
// The engine's protocol methods, and the docstrings they share with the module functions.
extern const char* const kQkdDoc;
extern const char* const kTeleportationDoc;
extern const char* const kDistributedDoc;
tavo::QKDResult run_qkd_method(const tavo::TavoEngine& engine, tavo::QKDParameters params);
tavo::TeleportationOutcome execute_teleportation_method(const tavo::TavoEngine& engine,
                                                        tavo::TeleportationParameters params);
tavo::DistributedComputingResult run_distributed_computation_method(
    const tavo::TavoEngine& engine, std::vector<std::string> participants,
    std::string coordination_topology, std::string basis_type,
    std::optional<double> correlation_strength, std::optional<double> classical_relay_latency_ms);

}  // namespace bindings
