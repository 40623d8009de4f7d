// The protocol classes, their engine methods and their module functions.

#include "py/class_builder.hpp"
#include "py/enum.hpp"
#include "py/module_builder.hpp"
#include "registry.hpp"
#include "tavo/engine/engine.hpp"
#include "tavo/protocols/distributed.hpp"
#include "tavo/protocols/qkd.hpp"
#include "tavo/protocols/teleportation.hpp"

namespace bindings {
namespace {

// Each protocol's engine method and module function share their docstring.
constexpr const char* kQkdDoc = "Run BB84-style quantum key distribution between two nodes.";
constexpr const char* kTeleportationDoc =
    "Execute entanglement-based quantum state teleportation between two nodes.";
constexpr const char* kDistributedDoc =
    "Run a distributed quantum computing protocol across participating nodes.";

using namespace tavo;
using std::optional;
using std::string;
using std::vector;

template <class T>
string repr_of(const T& value) {
    return tavo::repr(value);
}

// Key distribution.

QKDParameters new_qkd_parameters(string from_node, string to_node, double fidelity_target,
                                  double max_latency_ms, optional<std::uint64_t> rounds,
                                  optional<double> error_rate_tolerance,
                                  optional<double> sifting_overhead_ratio,
                                  optional<double> privacy_amplification_factor) {
    QKDParameters params;
    params.from_node = std::move(from_node);
    params.to_node = std::move(to_node);
    params.fidelity_target = fidelity_target;
    params.max_latency_ms = max_latency_ms;
    if (rounds) params.rounds = *rounds;
    if (error_rate_tolerance) params.error_rate_tolerance = *error_rate_tolerance;
    if (sifting_overhead_ratio) params.sifting_overhead_ratio = *sifting_overhead_ratio;
    if (privacy_amplification_factor) {
        params.privacy_amplification_factor = *privacy_amplification_factor;
    }
    return params;
}

QKDResult new_qkd_result(bool success, std::uint64_t secret_key_length_bits,
                         double efficiency_rate, double qber, double latency_ms,
                         vector<string> execution_path, std::uint64_t rounds_completed,
                         std::uint64_t rounds_failed) {
    return QKDResult{success,    secret_key_length_bits,    efficiency_rate,  qber,
                     latency_ms, std::move(execution_path), rounds_completed, rounds_failed};
}

QKDStats new_qkd_stats(std::uint64_t total_runs, double success_rate, double mean_key_length_bits,
                       double mean_efficiency, double mean_qber) {
    return QKDStats{total_runs, success_rate, mean_key_length_bits, mean_efficiency, mean_qber};
}

// The two amplification ratios keep their defaults here.
QKDResult qkd(py::Shared<TavoEngine> engine, string from_node, string to_node,
              double fidelity_target, double max_latency_ms, optional<std::uint64_t> rounds,
              optional<double> error_rate_tolerance) {
    return run_qkd(*engine, new_qkd_parameters(std::move(from_node), std::move(to_node),
                                               fidelity_target, max_latency_ms, rounds,
                                               error_rate_tolerance, std::nullopt, std::nullopt));
}

// Teleportation.

TeleportationParameters new_teleportation_parameters(string source_node, string target_node,
                                                     optional<double> state_fidelity,
                                                     optional<double> classical_bandwidth_ms) {
    TeleportationParameters params;
    params.source_node = std::move(source_node);
    params.target_node = std::move(target_node);
    if (state_fidelity) params.state_fidelity = *state_fidelity;
    if (classical_bandwidth_ms) params.classical_bandwidth_ms = *classical_bandwidth_ms;
    return params;
}

TeleportationOutcome new_teleportation_outcome(bool success, double teleportation_fidelity,
                                               double resource_entanglement_fidelity,
                                               double latency_ms, vector<string> path,
                                               std::uint64_t classical_bits_transferred) {
    return TeleportationOutcome{success,    teleportation_fidelity, resource_entanglement_fidelity,
                                latency_ms, std::move(path),        classical_bits_transferred};
}

TeleportationStats new_teleportation_stats(std::uint64_t total_runs, double success_rate,
                                           double mean_teleportation_fidelity,
                                           double teleportation_fidelity_stddev,
                                           double mean_latency_ms) {
    return TeleportationStats{total_runs, success_rate, mean_teleportation_fidelity,
                              teleportation_fidelity_stddev, mean_latency_ms};
}

TeleportationOutcome teleportation(py::Shared<TavoEngine> engine, string source_node,
                                   string target_node, optional<double> state_fidelity,
                                   optional<double> classical_bandwidth_ms) {
    return execute_teleportation(
        *engine, new_teleportation_parameters(std::move(source_node), std::move(target_node),
                                              state_fidelity, classical_bandwidth_ms));
}

// Distributed computation.

CoordinationTopologyRecord new_coordination_topology(string kind, optional<string> center_node,
                                                     optional<vector<CoordinationEdge>> edges) {
    return CoordinationTopologyRecord{std::move(kind), std::move(center_node), std::move(edges)};
}

CoordinationTopologyRecord star_topology(string center_node) {
    return CoordinationTopologyRecord{"star", std::move(center_node), std::nullopt};
}

CoordinationTopologyRecord ring_topology() {
    return CoordinationTopologyRecord{"ring", std::nullopt, std::nullopt};
}

CoordinationTopologyRecord mesh_topology() {
    return CoordinationTopologyRecord{"mesh", std::nullopt, std::nullopt};
}

CoordinationTopologyRecord arbitrary_topology(vector<CoordinationEdge> edges) {
    return CoordinationTopologyRecord{"arbitrary", std::nullopt, std::move(edges)};
}

MeasurementBasis new_measurement_basis(optional<BasisType> basis_type,
                                       optional<double> correlation_strength) {
    MeasurementBasis basis;
    if (basis_type) basis.basis_type = *basis_type;
    if (correlation_strength) basis.correlation_strength = *correlation_strength;
    return basis;
}

DistributedComputingParameters new_distributed_parameters(
    vector<string> participants, CoordinationTopologyRecord coordination_topology,
    optional<MeasurementBasis> measurement_basis, optional<double> classical_relay_latency_ms) {
    DistributedComputingParameters params;
    params.participants = std::move(participants);
    params.coordination_topology = std::move(coordination_topology);
    if (measurement_basis) params.measurement_basis = *measurement_basis;
    if (classical_relay_latency_ms) {
        params.classical_relay_latency_ms = *classical_relay_latency_ms;
    }
    return params;
}

PartyOutcome new_party_outcome(string node_id, bool successful_measurement,
                               double local_fidelity) {
    return PartyOutcome{std::move(node_id), successful_measurement, local_fidelity};
}

DistributedComputingResult new_distributed_result(bool success, double computation_fidelity,
                                                  vector<PartyOutcome> party_results,
                                                  vector<string> resource_links_used,
                                                  double total_latency_ms,
                                                  double coordination_overhead_ms) {
    return DistributedComputingResult{success,          computation_fidelity,
                                      std::move(party_results), std::move(resource_links_used),
                                      total_latency_ms, coordination_overhead_ms};
}

DistributedComputingStats new_distributed_stats(std::uint64_t total_runs, double success_rate,
                                                double mean_computation_fidelity,
                                                double mean_party_success_rate) {
    return DistributedComputingStats{total_runs, success_rate, mean_computation_fidelity,
                                     mean_party_success_rate};
}

DistributedComputingResult distributed_computation(py::Shared<TavoEngine> engine,
                                                   vector<string> participants,
                                                   CoordinationTopologyRecord coordination_topology,
                                                   MeasurementBasis measurement_basis,
                                                   optional<double> classical_relay_latency_ms) {
    DistributedComputingInput input;
    input.topology = coordination_topology_from_record(coordination_topology);
    input.participants = std::move(participants);
    input.basis_type = measurement_basis.basis_type;
    input.correlation_strength = measurement_basis.correlation_strength;
    if (classical_relay_latency_ms) input.classical_relay_latency_ms = *classical_relay_latency_ms;
    return run_distributed_computation(*engine, input);
}

// The engine method names its options as text.
DistributedComputingResult run_distributed_computation_by_name(
    const TavoEngine& engine, vector<string> participants, string coordination_topology,
    string basis_type, optional<double> correlation_strength,
    optional<double> classical_relay_latency_ms) {
    const DistributedComputingInput defaults;
    return run_distributed_computation(
        engine, distributed_input_from_names(
                    std::move(participants), coordination_topology, basis_type,
                    correlation_strength.value_or(defaults.correlation_strength),
                    classical_relay_latency_ms.value_or(defaults.classical_relay_latency_ms)));
}

}  // namespace

// Engine methods.

PyMethodDef run_qkd_method() {
    return py::method_def<TavoEngine, &run_qkd, "run_qkd", "params">(kQkdDoc);
}

PyMethodDef execute_teleportation_method() {
    return py::method_def<TavoEngine, &execute_teleportation, "execute_teleportation", "params">(
        kTeleportationDoc);
}

PyMethodDef run_distributed_computation_method() {
    return py::method_def<TavoEngine, &run_distributed_computation_by_name,
                          "run_distributed_computation", "participants", "coordination_topology",
                          "basis_type", "correlation_strength", "classical_relay_latency_ms">(
        kDistributedDoc);
}

// Classes.

py::Ref qkd_parameters_class(PyObject*) {
    using P = QKDParameters;
    return py::ClassBuilder<P>("QKDParameters")
        .constructor<&new_qkd_parameters, "from_node", "to_node", "fidelity_target",
                     "max_latency_ms", "rounds", "error_rate_tolerance", "sifting_overhead_ratio",
                     "privacy_amplification_factor">()
        .field<&P::from_node>("from_node")
        .field<&P::to_node>("to_node")
        .field<&P::fidelity_target>("fidelity_target")
        .field<&P::max_latency_ms>("max_latency_ms")
        .field<&P::rounds>("rounds")
        .field<&P::error_rate_tolerance>("error_rate_tolerance")
        .field<&P::sifting_overhead_ratio>("sifting_overhead_ratio")
        .field<&P::privacy_amplification_factor>("privacy_amplification_factor")
        .build();
}

py::Ref qkd_result_class(PyObject*) {
    using R = QKDResult;
    return py::ClassBuilder<R>("QKDResult")
        .constructor<&new_qkd_result, "success", "secret_key_length_bits", "efficiency_rate",
                     "qber", "latency_ms", "execution_path", "rounds_completed",
                     "rounds_failed">()
        .field<&R::success>("success")
        .field<&R::secret_key_length_bits>("secret_key_length_bits")
        .field<&R::efficiency_rate>("efficiency_rate")
        .field<&R::qber>("qber")
        .field<&R::latency_ms>("latency_ms")
        .field<&R::execution_path>("execution_path")
        .field<&R::rounds_completed>("rounds_completed")
        .field<&R::rounds_failed>("rounds_failed")
        .repr<&repr_of<R>>()
        .build();
}

py::Ref qkd_stats_class(PyObject*) {
    using S = QKDStats;
    return py::ClassBuilder<S>("QKDStats")
        .constructor<&new_qkd_stats, "total_runs", "success_rate", "mean_key_length_bits",
                     "mean_efficiency", "mean_qber">()
        .field<&S::total_runs>("total_runs")
        .field<&S::success_rate>("success_rate")
        .field<&S::mean_key_length_bits>("mean_key_length_bits")
        .field<&S::mean_efficiency>("mean_efficiency")
        .field<&S::mean_qber>("mean_qber")
        .repr<&repr_of<S>>()
        .build();
}

py::Ref teleportation_parameters_class(PyObject*) {
    using P = TeleportationParameters;
    return py::ClassBuilder<P>("TeleportationParameters")
        .constructor<&new_teleportation_parameters, "source_node", "target_node", "state_fidelity",
                     "classical_bandwidth_ms">()
        .field<&P::source_node>("source_node")
        .field<&P::target_node>("target_node")
        .field<&P::relay_nodes>("relay_nodes")
        .field<&P::state_fidelity>("state_fidelity")
        .field<&P::classical_bandwidth_ms>("classical_bandwidth_ms")
        .build();
}

py::Ref teleportation_outcome_class(PyObject*) {
    using O = TeleportationOutcome;
    return py::ClassBuilder<O>("TeleportationOutcome")
        .constructor<&new_teleportation_outcome, "success", "teleportation_fidelity",
                     "resource_entanglement_fidelity", "latency_ms", "path",
                     "classical_bits_transferred">()
        .field<&O::success>("success")
        .field<&O::teleportation_fidelity>("teleportation_fidelity")
        .field<&O::resource_entanglement_fidelity>("resource_entanglement_fidelity")
        .field<&O::latency_ms>("latency_ms")
        .field<&O::path>("path")
        .field<&O::classical_bits_transferred>("classical_bits_transferred")
        .repr<&repr_of<O>>()
        .build();
}

py::Ref teleportation_stats_class(PyObject*) {
    using S = TeleportationStats;
    return py::ClassBuilder<S>("TeleportationStats")
        .constructor<&new_teleportation_stats, "total_runs", "success_rate",
                     "mean_teleportation_fidelity", "teleportation_fidelity_stddev",
                     "mean_latency_ms">()
        .field<&S::total_runs>("total_runs")
        .field<&S::success_rate>("success_rate")
        .field<&S::mean_teleportation_fidelity>("mean_teleportation_fidelity")
        .field<&S::teleportation_fidelity_stddev>("teleportation_fidelity_stddev")
        .field<&S::mean_latency_ms>("mean_latency_ms")
        .repr<&repr_of<S>>()
        .build();
}

py::Ref basis_type_class(PyObject*) {
    return py::EnumBuilder<BasisType>("BasisType", kBasisTypeNames).build();
}

py::Ref coordination_topology_class(PyObject*) {
    using C = CoordinationTopologyRecord;
    return py::ClassBuilder<C>("CoordinationTopology")
        .constructor<&new_coordination_topology, "kind", "center_node", "edges">()
        .field<&C::kind>("kind")
        .field<&C::center_node>("center_node")
        .field<&C::edges>("edges")
        .static_method<&star_topology, "star", "center_node">(
            "Create a star topology with the given center node.")
        .static_method<&ring_topology, "ring">("Create a ring topology.")
        .static_method<&mesh_topology, "mesh">("Create a mesh (all-to-all) topology.")
        .static_method<&arbitrary_topology, "arbitrary", "edges">(
            "Create an arbitrary topology with explicit edges.")
        .build();
}

py::Ref measurement_basis_class(PyObject*) {
    using M = MeasurementBasis;
    return py::ClassBuilder<M>("MeasurementBasis")
        .constructor<&new_measurement_basis, "basis_type", "correlation_strength">()
        .field<&M::basis_type>("basis_type")
        .field<&M::correlation_strength>("correlation_strength")
        .build();
}

py::Ref distributed_computing_parameters_class(PyObject*) {
    using P = DistributedComputingParameters;
    return py::ClassBuilder<P>("DistributedComputingParameters")
        .constructor<&new_distributed_parameters, "participants", "coordination_topology",
                     "measurement_basis", "classical_relay_latency_ms">()
        .field<&P::participants>("participants")
        .field<&P::coordination_topology>("coordination_topology")
        .field<&P::measurement_basis>("measurement_basis")
        .field<&P::classical_relay_latency_ms>("classical_relay_latency_ms")
        .build();
}

py::Ref party_outcome_class(PyObject*) {
    using O = PartyOutcome;
    return py::ClassBuilder<O>("PartyOutcome")
        .constructor<&new_party_outcome, "node_id", "successful_measurement", "local_fidelity">()
        .field<&O::node_id>("node_id")
        .field<&O::successful_measurement>("successful_measurement")
        .field<&O::local_fidelity>("local_fidelity")
        .repr<&repr_of<O>>()
        .build();
}

py::Ref distributed_computing_result_class(PyObject*) {
    using R = DistributedComputingResult;
    return py::ClassBuilder<R>("DistributedComputingResult")
        .constructor<&new_distributed_result, "success", "computation_fidelity", "party_results",
                     "resource_links_used", "total_latency_ms", "coordination_overhead_ms">()
        .field<&R::success>("success")
        .field<&R::computation_fidelity>("computation_fidelity")
        .field<&R::party_results>("party_results")
        .field<&R::resource_links_used>("resource_links_used")
        .field<&R::total_latency_ms>("total_latency_ms")
        .field<&R::coordination_overhead_ms>("coordination_overhead_ms")
        .repr<&repr_of<R>>()
        .build();
}

py::Ref distributed_computing_stats_class(PyObject*) {
    using S = DistributedComputingStats;
    return py::ClassBuilder<S>("DistributedComputingStats")
        .constructor<&new_distributed_stats, "total_runs", "success_rate",
                     "mean_computation_fidelity", "mean_party_success_rate">()
        .field<&S::total_runs>("total_runs")
        .field<&S::success_rate>("success_rate")
        .field<&S::mean_computation_fidelity>("mean_computation_fidelity")
        .field<&S::mean_party_success_rate>("mean_party_success_rate")
        .repr<&repr_of<S>>()
        .build();
}

// Module functions.

py::Ref qkd_function(PyObject* module) {
    return py::function<&qkd, "qkd", "engine", "from_node", "to_node", "fidelity_target",
                        "max_latency_ms", "rounds", "error_rate_tolerance">(module, kQkdDoc);
}

py::Ref teleportation_function(PyObject* module) {
    return py::function<&teleportation, "teleportation", "engine", "source_node", "target_node",
                        "state_fidelity", "classical_bandwidth_ms">(module, kTeleportationDoc);
}

py::Ref distributed_computation_function(PyObject* module) {
    return py::function<&distributed_computation, "distributed_computation", "engine",
                        "participants", "coordination_topology", "measurement_basis",
                        "classical_relay_latency_ms">(module, kDistributedDoc);
}

}  // namespace bindings
