#pragma once
// A distributed computation across several parties: the coordination topology decides which pairs
// share an entangled pair, one request per pair; each party's fidelity and measurement come from
// the pairs that touch it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "tavo/enum_name.hpp"
#include "tavo/record.hpp"

namespace tavo {

class TavoEngine;

enum class BasisType : std::uint8_t { GHZ = 0, Cluster = 1, GraphGraph = 2 };

inline constexpr EnumName<BasisType> kBasisTypeNames[] = {
    {BasisType::GHZ, "GHZ"},
    {BasisType::Cluster, "Cluster"},
    {BasisType::GraphGraph, "GraphGraph"},
};

// An ordered pair of node ids that must share entanglement.
using CoordinationEdge = std::pair<std::string, std::string>;

// Which pairs of participants need entanglement.
struct CoordinationTopology {
    struct Star {
        std::string center;
    };
    struct Ring {};
    struct Mesh {};
    struct Arbitrary {
        std::vector<CoordinationEdge> edges;
    };
    std::variant<Star, Ring, Mesh, Arbitrary> shape;
};

// The same choice as a record whose kind is named by text, as Python code builds it.
struct CoordinationTopologyRecord {
    std::string kind;
    std::optional<std::string> center_node;
    std::optional<std::vector<CoordinationEdge>> edges;
};

struct MeasurementBasis {
    BasisType basis_type = BasisType::GHZ;
    double correlation_strength = 0.85;
};

// A record for Python code; the computation itself takes a DistributedComputingInput.
struct DistributedComputingParameters {
    std::vector<std::string> participants;
    CoordinationTopologyRecord coordination_topology;
    MeasurementBasis measurement_basis;
    double classical_relay_latency_ms = 5.0;
};

// Everything one computation needs.
struct DistributedComputingInput {
    CoordinationTopology topology;
    std::vector<std::string> participants;  // in order, duplicates kept
    BasisType basis_type = BasisType::GHZ;  // carried along; changes no figure
    double correlation_strength = 0.85;
    double classical_relay_latency_ms = 5.0;  // per required edge
};

struct PartyOutcome {
    std::string node_id;
    bool successful_measurement = false;
    double local_fidelity = 0.0;
};

struct DistributedComputingResult {
    bool success = false;
    double computation_fidelity = 0.0;
    std::vector<PartyOutcome> party_results;       // one per participant, in order
    std::vector<std::string> resource_links_used;  // "first->second", one per required edge
    double total_latency_ms = 0.0;
    double coordination_overhead_ms = 0.0;
};

// A summary of several computations, filled in by the caller.
struct DistributedComputingStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_computation_fidelity = 0.0;
    double mean_party_success_rate = 0.0;
};

// The record's kind, read exactly: "star" (center absent: ""), "ring", "mesh"; every other kind is
// an explicit edge list (absent: none).
CoordinationTopology coordination_topology_from_record(const CoordinationTopologyRecord& record);

// The input named by texts: the topology "star" (centered on the first participant), "ring" or
// "mesh", then the basis "ghz", "cluster" or "graph". Throws InvalidValue for the first text that
// is none of these, the topology first.
DistributedComputingInput distributed_input_from_names(std::vector<std::string> participants,
                                                       std::string_view coordination_topology,
                                                       std::string_view basis_type,
                                                       double correlation_strength,
                                                       double classical_relay_latency_ms);

// The pairs that need entanglement, in request order.
std::vector<CoordinationEdge> required_edges(const CoordinationTopology& topology,
                                             const std::vector<std::string>& participants);

// Runs the computation; without a network on the engine nothing is requested and no party reports.
DistributedComputingResult run_distributed_computation(const TavoEngine& engine,
                                                       const DistributedComputingInput& input);

std::string repr(const PartyOutcome& outcome);
std::string repr(const DistributedComputingResult& result);
std::string repr(const DistributedComputingStats& stats);

template <>
struct Fields<CoordinationTopologyRecord> {
    using C = CoordinationTopologyRecord;
    static constexpr std::string_view name = "CoordinationTopology";
    static constexpr std::string_view doc = R"(
        Which pairs of participants of a distributed computation need entanglement.

        By kind: "star" joins every participant other than center_node to center_node; "ring" joins each
        participant to the next and the last to the first (one participant: itself); "mesh" joins every
        pair; any other kind, "arbitrary" included, uses edges as given (none when None).

        A topology record; nothing is checked (star, ring, mesh and arbitrary make one).)";
    static constexpr auto list = std::tuple{
        field<&C::kind>({
            .name = "kind",
            .doc = R"(
                The kind: "star", "ring" or "mesh" (exact spellings); any other text means the
                explicit edges.)",
            .argument = "\"star\", \"ring\", \"mesh\" or another text (then edges are used).",
        }),
        field<&C::center_node>({
            .name = "center_node",
            .doc = "Center node id of a star, or None.",
            .parameter = Parameter::Optional,
            .argument = "Center of a star; None counts as the empty id.",
        }),
        field<&C::edges>({
            .name = "edges",
            .doc = R"(
                Explicit edges, (first, second) node id pairs requested in this order, or None (a
                new list).)",
            .parameter = Parameter::Optional,
            .argument = "Explicit (first, second) node id pairs, or None.",
        }),
    };
};

template <>
struct Fields<MeasurementBasis> {
    using M = MeasurementBasis;
    static constexpr std::string_view name = "MeasurementBasis";
    static constexpr std::string_view doc = R"(
        A measurement basis and the correlation strength of the parties.

        A basis record; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&M::basis_type>({
            .name = "basis_type",
            .doc = "The basis (recorded only; a new object on reading).",
            .parameter = Parameter::Optional,
            .argument = "The basis; None: GHZ.",
        }),
        field<&M::correlation_strength>({
            .name = "correlation_strength",
            .doc = "Factor applied to each party's mean edge fidelity (default 0.85).",
            .parameter = Parameter::Optional,
            .argument = "Factor on each party's mean edge fidelity; None: 0.85.",
        }),
    };
};

template <>
struct Fields<DistributedComputingParameters> {
    using P = DistributedComputingParameters;
    static constexpr std::string_view name = "DistributedComputingParameters";
    static constexpr std::string_view doc = R"(
        Parameters of a distributed computation, gathered in one record.

        No operation takes it: pass its values to distributed_computation.

        A parameter record; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&P::participants>({
            .name = "participants",
            .doc = "Node ids of the parties (a new list).",
            .argument = "Node ids of the parties, in order.",
        }),
        field<&P::coordination_topology>({
            .name = "coordination_topology",
            .doc = "Which pairs need entanglement.",
        }),
        field<&P::measurement_basis>({
            .name = "measurement_basis",
            .doc = "Basis and correlation strength.",
            .parameter = Parameter::Optional,
            .argument = "Basis and correlation strength; None: GHZ with 0.85.",
        }),
        field<&P::classical_relay_latency_ms>({
            .name = "classical_relay_latency_ms",
            .doc = "Classical latency per edge in ms (default 5.0).",
            .parameter = Parameter::Optional,
            .argument = "Classical latency per edge in ms; None: 5.0.",
        }),
    };
};

template <>
struct Fields<PartyOutcome> {
    using O = PartyOutcome;
    static constexpr std::string_view name = "PartyOutcome";
    static constexpr std::string_view doc = R"(
        One participant's outcome in a distributed computation.

        An outcome record; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&O::node_id>({
            .name = "node_id",
            .doc = "The participant's node id.",
        }),
        field<&O::successful_measurement>({
            .name = "successful_measurement",
            .doc = R"(
                Whether every edge touching the participant delivered a fidelity above 0.5 (True
                without edges).)",
            .argument = "Whether its measurement succeeded.",
        }),
        field<&O::local_fidelity>({
            .name = "local_fidelity",
            .doc = R"(
                Mean fidelity of the participant's edges (1.0 without edges) times the correlation
                strength, capped at 0.999.)",
            .argument = "Its local fidelity, a fraction.",
        }),
    };
};

template <>
struct Fields<DistributedComputingResult> {
    using R = DistributedComputingResult;
    static constexpr std::string_view name = "DistributedComputingResult";
    static constexpr std::string_view doc = R"(
        The outcome of a distributed computation.

        A result record; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&R::success>({
            .name = "success",
            .doc = "Whether there was at least one participant and every measurement succeeded.",
            .argument = "Whether the computation succeeded.",
        }),
        field<&R::computation_fidelity>({
            .name = "computation_fidelity",
            .doc = R"(
                Product of the participants' uncapped local fidelities, capped at 0.999 (a
                fraction).)",
            .argument = "Fidelity of the computation, a fraction.",
        }),
        field<&R::party_results>({
            .name = "party_results",
            .doc = "One PartyOutcome per participant, in participant order (a new list).",
            .argument = "One outcome per participant.",
        }),
        field<&R::resource_links_used>({
            .name = "resource_links_used",
            .doc = "The requested edges as \"first->second\", in request order (a new list).",
            .argument = "The requested edges, \"first->second\".",
        }),
        field<&R::total_latency_ms>({
            .name = "total_latency_ms",
            .doc = "Sum of the edge requests' latencies in ms, failed requests included.",
            .argument = "Summed request latency in ms.",
        }),
        field<&R::coordination_overhead_ms>({
            .name = "coordination_overhead_ms",
            .doc = R"(
                Number of edges times classical_relay_latency_ms, in ms (not included in
                total_latency_ms).)",
            .argument = "Classical coordination time in ms.",
        }),
    };
};

template <>
struct Fields<DistributedComputingStats> {
    using S = DistributedComputingStats;
    static constexpr std::string_view name = "DistributedComputingStats";
    static constexpr std::string_view doc = R"(
        Summary of several distributed computations.

        No operation produces it: a record to fill yourself.

        A summary record; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&S::total_runs>({
            .name = "total_runs",
            .doc = "Number of computations summarised.",
            .argument = "Number of computations.",
        }),
        field<&S::success_rate>({
            .name = "success_rate",
            .doc = "Fraction of successful computations, 0..1.",
            .argument = "Fraction of successful computations.",
        }),
        field<&S::mean_computation_fidelity>({
            .name = "mean_computation_fidelity",
            .doc = "Mean computation fidelity.",
            .argument = "Mean computation fidelity, a fraction.",
        }),
        field<&S::mean_party_success_rate>({
            .name = "mean_party_success_rate",
            .doc = "Mean fraction of parties whose measurement succeeded, 0..1.",
            .argument = "Mean fraction of parties whose measurement succeeded.",
        }),
    };
};

}  // namespace tavo
