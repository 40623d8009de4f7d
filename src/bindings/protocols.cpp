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

// What a teleportation refuses, in the documentation of both of its entry points.
constexpr std::string_view kBandwidthErrors = R"doc(
        ValueError: the engine has a network and classical_bandwidth_ms or its
            total_time_cutoff_ms is +inf ("classical_bandwidth_ms must be finite",
            "total_time_cutoff_ms must be finite"), or, on the cycle model, both lie beyond
            2**55 ms.)doc";

// What a key exchange refuses, in the documentation of both of its entry points.
constexpr std::string_view kQkdErrors = R"doc(
        ValueError: a round would run with an infinite limit (max_latency_ms or the
            engine's total_time_cutoff_ms is +inf, or, on the cycle model, both lie beyond
            2**55 ms).)doc";

constexpr std::string_view kRunQkdHead = R"doc(
    Run BB84-style quantum key distribution between two nodes.

    Run BB84-style quantum key distribution between two nodes.

    Each round is one entanglement request from params.from_node to params.to_node
    (HighestFidelity), up to params.rounds of them. Each round gets the budget that is left
    (max_latency_ms minus the time spent so far); a successful round costs its latency, a failed
    one 2.5 ms. A round that finds the budget spent counts as failed and ends the exchange. QBER
    = (1 - mean fidelity of the successful rounds) / 2, or 1.0 when none succeeded. If QBER <
    error_rate_tolerance, the key has floor(floor(completed * (1 - sifting_overhead_ratio)) *
    privacy_amplification_factor) bits, else 0. Rounds are single requests: they all make the
    same link-attempt draws, so on a one-hop route every round has the same outcome. Without a
    network nothing is requested: success False, qber 1.0, no rounds counted.

    On the physical model each delivered pair is read as a Werner state (w = (4F - 1)/3): QBER
    = the mean of (1 - w)/2 over the successful rounds, and privacy amplification keeps the
    asymptotic BB84 fraction 1 - 2 h(QBER) of the sifted bits (h the binary entropy; no key
    when that is not positive) instead of privacy_amplification_factor. Round k (k = 0, 1,
    ...) draws from the generator seeded with k, so rounds differ and the exchange repeats
    exactly; a failed round costs the time its request ran (its limit).

    Args:
        params: The exchange's parameters (copied).

    Returns:
        A new QKDResult.

    Raises:)doc";

constexpr std::string_view kExecuteTeleportationHead = R"doc(
    Execute entanglement-based quantum state teleportation between two nodes.

    Teleport a quantum state between two nodes over one entanglement request.

    The request goes from params.source_node to params.target_node (HighestFidelity, fidelity
    target state_fidelity, budget classical_bandwidth_ms). With F the delivered fidelity (0.0
    when the request failed): teleportation_fidelity = min(state_fidelity * F, 0.999), or 0.0
    when F is 0; on the physical model (2F + 1)/3, the average fidelity of teleporting over a
    Werner pair of fidelity F (0.0 when F is 0). Success when F > 0.5. latency_ms is the
    request's latency plus 0.25 ms per relay node. Relay nodes only appear in the path; they do not change the route. Without a
    network nothing is requested: both fidelities 0.0, latency 0.0 and a path without the
    target.

    Args:
        params: The teleportation's parameters (copied).

    Returns:
        A new TeleportationOutcome.

    Raises:)doc";

constexpr std::string_view kRunDistributedDoc = R"doc(
    Run a distributed quantum computing protocol across participating nodes.

    Run a distributed computation across participating nodes.

    One entanglement request per edge of the coordination topology, then each party's fidelity
    from the edges that touch it. Edges: "star" joins every other participant to the first;
    "ring" joins each participant to the next and the last to the first; "mesh" joins every
    pair. Each edge is requested from its first node to its second with fidelity target 0.9,
    budget 10 * classical_relay_latency_ms and HighestFidelity; a failed request gives the edge
    fidelity 0.0 (its latency still counts). A party's local_fidelity is the mean fidelity of
    its edges (1.0 without edges) times correlation_strength, capped at 0.999; its measurement
    succeeds when every one of its edges is above 0.5. computation_fidelity is the product of
    the uncapped local fidelities, capped at 0.999; success needs at least one party and every
    measurement. The basis type changes no figure. Without a network: an unsuccessful result
    with empty lists and zero figures.

    Args:
        participants: Node ids of the parties, in order (duplicates are kept).
        coordination_topology: "star", "ring" or "mesh" (exactly these spellings).
        basis_type: "ghz", "cluster" or "graph" (exactly these spellings).
        correlation_strength: Factor on each party's mean edge fidelity; None: 0.85.
        classical_relay_latency_ms: Classical latency per edge in ms; None: 5.0.
            Each edge's request budget is ten times it; coordination_overhead_ms is
            the number of edges times it.

    Returns:
        A new DistributedComputingResult.

    Raises:
        ValueError: an unknown topology ("coordination_topology must be one of: 'star',
            'ring', 'mesh'", checked first) or basis ("basis_type must be one of: 'ghz',
            'cluster', 'graph'"); an infinite classical_relay_latency_ms or
            total_time_cutoff_ms when there are edges, or, on the cycle model, both an edge
            budget and total_time_cutoff_ms beyond 2**55 ms.)doc";

constexpr std::string_view kStarDoc = R"doc(
    Create a star topology with the given center node.

    A star around center_node.

    Args:
        center_node: Id of the participant every other one is joined to.

    Returns:
        A new CoordinationTopology of kind "star".)doc";

constexpr std::string_view kRingDoc = R"doc(
    Create a ring topology.

    A ring of the participants in their order.

    Returns:
        A new CoordinationTopology of kind "ring".)doc";

constexpr std::string_view kMeshDoc = R"doc(
    Create a mesh (all-to-all) topology.

    All pairs of participants.

    Returns:
        A new CoordinationTopology of kind "mesh".)doc";

constexpr std::string_view kArbitraryDoc = R"doc(
    Create an arbitrary topology with explicit edges.

    Explicit edges, requested in order (duplicates and non-participants included).

    Args:
        edges: (first, second) node id pairs; each requests first to second.

    Returns:
        A new CoordinationTopology of kind "arbitrary".)doc";

constexpr std::string_view kQkdHead = R"doc(
    Run BB84-style quantum key distribution between two nodes.

    Run BB84-style quantum key distribution between two nodes.

    The same as TavoEngine.run_qkd, with sifting_overhead_ratio 0.5 and
    privacy_amplification_factor 0.8.

    Args:
        engine: The engine whose network is used (read only).
        from_node: Node id of one party (each round's request source).
        to_node: Node id of the other party.
        fidelity_target: Fidelity target of every round's request, a fraction.
        max_latency_ms: Time budget of the whole exchange in ms; +inf is refused.
        rounds: Number of rounds to attempt, 0 or more; None: 100.
        error_rate_tolerance: The QBER must be below it for a key; None: 0.11.

    Returns:
        A new QKDResult.

    Raises:)doc";

constexpr std::string_view kTeleportationHead = R"doc(
    Execute entanglement-based quantum state teleportation between two nodes.

    Teleport a quantum state between two nodes.

    The same as TavoEngine.execute_teleportation, without relay nodes.

    Args:
        engine: The engine whose network is used (read only).
        source_node: Node id holding the state to send.
        target_node: Node id receiving it.
        state_fidelity: Fidelity of the state and the request's target; None: 0.95.
        classical_bandwidth_ms: Latency budget of the request in ms; None: 100.0.

    Returns:
        A new TeleportationOutcome.

    Raises:)doc";

constexpr std::string_view kDistributedDoc = R"doc(
    Run a distributed quantum computing protocol across participating nodes.

    Run a distributed computation across participating nodes.

    The same as TavoEngine.run_distributed_computation with the topology and basis given
    as objects. A kind of exactly "star" uses center_node as the center ("" when None);
    "ring" and "mesh" are as there; any other kind uses the topology's edges (none when
    None), without an error.

    Args:
        engine: The engine whose network is used (read only).
        participants: Node ids of the parties, in order (duplicates are kept).
        coordination_topology: Which pairs need entanglement.
        measurement_basis: Basis (recorded only) and correlation strength.
        classical_relay_latency_ms: Classical latency per edge in ms; None: 5.0 (each request's
            budget is ten times it).

    Returns:
        A new DistributedComputingResult.

    Raises:
        ValueError: an infinite classical_relay_latency_ms or total_time_cutoff_ms when
            there are edges.)doc";

using namespace tavo;
using std::optional;
using std::string;
using std::vector;

template <class T>
string repr_of(const T& value) {
    return tavo::repr(value);
}

// Key distribution.

// The two amplification ratios keep their defaults here.
QKDResult qkd(py::Shared<TavoEngine> engine, string from_node, string to_node,
              double fidelity_target, double max_latency_ms, optional<std::uint64_t> rounds,
              optional<double> error_rate_tolerance) {
    QKDParameters params;
    params.from_node = std::move(from_node);
    params.to_node = std::move(to_node);
    params.fidelity_target = fidelity_target;
    params.max_latency_ms = max_latency_ms;
    if (rounds) params.rounds = *rounds;
    if (error_rate_tolerance) params.error_rate_tolerance = *error_rate_tolerance;
    return run_qkd(*engine, params);
}

// Teleportation.

TeleportationOutcome teleportation(py::Shared<TavoEngine> engine, string source_node,
                                   string target_node, optional<double> state_fidelity,
                                   optional<double> classical_bandwidth_ms) {
    TeleportationParameters params;
    params.source_node = std::move(source_node);
    params.target_node = std::move(target_node);
    if (state_fidelity) params.state_fidelity = *state_fidelity;
    if (classical_bandwidth_ms) params.classical_bandwidth_ms = *classical_bandwidth_ms;
    return execute_teleportation(*engine, params);
}

// Distributed computation.

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
    return py::unlocked_method_def<TavoEngine, &run_qkd, "run_qkd", "params">(
        py::joined({kRunQkdHead, kQkdErrors}));
}

PyMethodDef execute_teleportation_method() {
    return py::unlocked_method_def<TavoEngine, &execute_teleportation, "execute_teleportation",
                                   "params">(
        py::joined({kExecuteTeleportationHead, kBandwidthErrors}));
}

PyMethodDef run_distributed_computation_method() {
    return py::unlocked_method_def<TavoEngine, &run_distributed_computation_by_name,
                                   "run_distributed_computation", "participants",
                                   "coordination_topology", "basis_type", "correlation_strength",
                                   "classical_relay_latency_ms">(kRunDistributedDoc);
}

// Classes.

py::Ref qkd_parameters_class(PyObject*) {
    using P = QKDParameters;
    return py::ClassBuilder<P>("QKDParameters").record().record_constructor().build();
}

py::Ref qkd_result_class(PyObject*) {
    using R = QKDResult;
    return py::ClassBuilder<R>("QKDResult")
        .record()
        .record_constructor()
        .repr<&repr_of<R>>()
        .build();
}

py::Ref qkd_stats_class(PyObject*) {
    using S = QKDStats;
    return py::ClassBuilder<S>("QKDStats")
        .record()
        .record_constructor()
        .repr<&repr_of<S>>()
        .build();
}

py::Ref teleportation_parameters_class(PyObject*) {
    using P = TeleportationParameters;
    return py::ClassBuilder<P>("TeleportationParameters").record().record_constructor().build();
}

py::Ref teleportation_outcome_class(PyObject*) {
    using O = TeleportationOutcome;
    return py::ClassBuilder<O>("TeleportationOutcome")
        .record()
        .record_constructor()
        .repr<&repr_of<O>>()
        .build();
}

py::Ref teleportation_stats_class(PyObject*) {
    using S = TeleportationStats;
    return py::ClassBuilder<S>("TeleportationStats")
        .record()
        .record_constructor()
        .repr<&repr_of<S>>()
        .build();
}

py::Ref basis_type_class(PyObject*) {
    return py::EnumBuilder<BasisType>("BasisType", kBasisTypeNames)
        .doc(R"(
            Measurement basis of a distributed computation: GHZ, Cluster or GraphGraph.

            Recorded only: it changes no computed figure.

            Members:
                GHZ: GHZ basis (value 0; "ghz" in run_distributed_computation), the default.
                Cluster: Cluster-state basis (value 1; "cluster").
                GraphGraph: Graph-state basis (value 2; "graph").)")
        .build();
}

py::Ref coordination_topology_class(PyObject*) {
    using C = CoordinationTopologyRecord;
    return py::ClassBuilder<C>("CoordinationTopology")
        .record()
        .record_constructor()
        .static_method<&star_topology, "star", "center_node">(kStarDoc)
        .static_method<&ring_topology, "ring">(kRingDoc)
        .static_method<&mesh_topology, "mesh">(kMeshDoc)
        .static_method<&arbitrary_topology, "arbitrary", "edges">(kArbitraryDoc)
        .build();
}

py::Ref measurement_basis_class(PyObject*) {
    using M = MeasurementBasis;
    return py::ClassBuilder<M>("MeasurementBasis").record().record_constructor().build();
}

py::Ref distributed_computing_parameters_class(PyObject*) {
    using P = DistributedComputingParameters;
    return py::ClassBuilder<P>("DistributedComputingParameters")
        .record()
        .record_constructor()
        .build();
}

py::Ref party_outcome_class(PyObject*) {
    using O = PartyOutcome;
    return py::ClassBuilder<O>("PartyOutcome")
        .record()
        .record_constructor()
        .repr<&repr_of<O>>()
        .build();
}

py::Ref distributed_computing_result_class(PyObject*) {
    using R = DistributedComputingResult;
    return py::ClassBuilder<R>("DistributedComputingResult")
        .record()
        .record_constructor()
        .repr<&repr_of<R>>()
        .build();
}

py::Ref distributed_computing_stats_class(PyObject*) {
    using S = DistributedComputingStats;
    return py::ClassBuilder<S>("DistributedComputingStats")
        .record()
        .record_constructor()
        .repr<&repr_of<S>>()
        .build();
}

// Module functions.

py::Ref qkd_function(PyObject* module) {
    return py::unlocked_function<&qkd, "qkd", "engine", "from_node", "to_node", "fidelity_target",
                                 "max_latency_ms", "rounds", "error_rate_tolerance">(
        module, py::joined({kQkdHead, kQkdErrors}));
}

py::Ref teleportation_function(PyObject* module) {
    return py::unlocked_function<&teleportation, "teleportation", "engine", "source_node",
                                 "target_node", "state_fidelity", "classical_bandwidth_ms">(
        module, py::joined({kTeleportationHead, kBandwidthErrors}));
}

py::Ref distributed_computation_function(PyObject* module) {
    return py::unlocked_function<&distributed_computation, "distributed_computation", "engine",
                                 "participants", "coordination_topology", "measurement_basis",
                                 "classical_relay_latency_ms">(module, kDistributedDoc);
}

}  // namespace bindings
