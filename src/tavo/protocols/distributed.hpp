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

}  // namespace tavo
