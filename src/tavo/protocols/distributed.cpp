#include "tavo/protocols/distributed.hpp"

#include <cmath>

#include "tavo/engine/engine.hpp"
#include "tavo/error.hpp"
#include "tavo/network/link_key.hpp"
#include "text/forms.hpp"

namespace tavo {
namespace {

// Every pair is asked for this fidelity, within ten classical relay latencies.
constexpr double kEdgeFidelityTarget = 0.9;
constexpr double kEdgeBudgetPerRelayLatency = 10.0;
// No party and no computation reports perfect fidelity.
constexpr double kFidelityCap = 0.999;
// A party measures successfully only over pairs better than a classical mixture.
constexpr double kMeasurementThreshold = 0.5;


}  // namespace

CoordinationTopology coordination_topology_from_record(const CoordinationTopologyRecord& record) {
    if (record.kind == "star") {
        return {CoordinationTopology::Star{record.center_node.value_or(std::string())}};
    }
    if (record.kind == "ring") return {CoordinationTopology::Ring{}};
    if (record.kind == "mesh") return {CoordinationTopology::Mesh{}};
    return {CoordinationTopology::Arbitrary{record.edges.value_or(std::vector<CoordinationEdge>())}};
}

DistributedComputingInput distributed_input_from_names(std::vector<std::string> participants,
                                                       std::string_view coordination_topology,
                                                       std::string_view basis_type,
                                                       double correlation_strength,
                                                       double classical_relay_latency_ms) {
    DistributedComputingInput input;
    if (coordination_topology == "star") {
        input.topology = {CoordinationTopology::Star{
            participants.empty() ? std::string() : participants.front()}};
    } else if (coordination_topology == "ring") {
        input.topology = {CoordinationTopology::Ring{}};
    } else if (coordination_topology == "mesh") {
        input.topology = {CoordinationTopology::Mesh{}};
    } else {
        throw InvalidValue("coordination_topology must be one of: 'star', 'ring', 'mesh'");
    }

    if (basis_type == "ghz") {
        input.basis_type = BasisType::GHZ;
    } else if (basis_type == "cluster") {
        input.basis_type = BasisType::Cluster;
    } else if (basis_type == "graph") {
        input.basis_type = BasisType::GraphGraph;
    } else {
        throw InvalidValue("basis_type must be one of: 'ghz', 'cluster', 'graph'");
    }

    input.participants = std::move(participants);
    input.correlation_strength = correlation_strength;
    input.classical_relay_latency_ms = classical_relay_latency_ms;
    return input;
}

std::vector<CoordinationEdge> required_edges(const CoordinationTopology& topology,
                                             const std::vector<std::string>& participants) {
    struct Edges {
        const std::vector<std::string>& participants;

        std::vector<CoordinationEdge> operator()(const CoordinationTopology::Star& star) const {
            std::vector<CoordinationEdge> edges;
            for (const auto& party : participants) {
                if (party != star.center) edges.emplace_back(party, star.center);
            }
            return edges;
        }
        std::vector<CoordinationEdge> operator()(const CoordinationTopology::Ring&) const {
            // A lone participant closes the ring on itself.
            std::vector<CoordinationEdge> edges;
            const std::size_t n = participants.size();
            for (std::size_t i = 0; i < n; ++i) {
                edges.emplace_back(participants[i], participants[(i + 1) % n]);
            }
            return edges;
        }
        std::vector<CoordinationEdge> operator()(const CoordinationTopology::Mesh&) const {
            std::vector<CoordinationEdge> edges;
            const std::size_t n = participants.size();
            for (std::size_t i = 0; i < n; ++i) {
                for (std::size_t j = i + 1; j < n; ++j) {
                    edges.emplace_back(participants[i], participants[j]);
                }
            }
            return edges;
        }
        std::vector<CoordinationEdge> operator()(const CoordinationTopology::Arbitrary& arbitrary) const {
            return arbitrary.edges;
        }
    };
    return std::visit(Edges{participants}, topology.shape);
}

DistributedComputingResult run_distributed_computation(const TavoEngine& engine,
                                                       const DistributedComputingInput& input) {
    DistributedComputingResult result;
    if (!engine.has_network()) return result;

    const std::vector<CoordinationEdge> edges = required_edges(input.topology, input.participants);
    const double budget = input.classical_relay_latency_ms * kEdgeBudgetPerRelayLatency;
    if (!edges.empty()) {
        require_finite_limit(budget, "classical_relay_latency_ms");
        require_reachable_limit(budget, engine.config(), "classical_relay_latency_ms");
    }
    std::vector<double> link_fidelities;
    link_fidelities.reserve(edges.size());
    result.resource_links_used.reserve(edges.size());
    for (const auto& [first, second] : edges) {
        SimulationResult pair = engine.request_entanglement(EntanglementRequest{
            first, second, kEdgeFidelityTarget, budget, StrategyType::HighestFidelity});
        link_fidelities.push_back(pair.success ? pair.final_fidelity : 0.0);
        // A failed request still took its time.
        result.total_latency_ms += pair.latency_ms;
        result.resource_links_used.push_back(link_key(first, second));
    }

    double product = 1.0;
    bool every_party_measured = true;
    result.party_results.reserve(input.participants.size());
    for (const auto& party : input.participants) {
        double sum = 0.0;
        std::size_t count = 0;
        bool measured = true;
        for (std::size_t e = 0; e < edges.size(); ++e) {
            if (edges[e].first != party && edges[e].second != party) continue;
            sum += link_fidelities[e];
            ++count;
            measured = measured && link_fidelities[e] > kMeasurementThreshold;
        }
        const double mean = count > 0 ? sum / static_cast<double>(count) : 1.0;
        const double local = mean * input.correlation_strength;
        result.party_results.push_back(
            PartyOutcome{party, measured, std::fmin(local, kFidelityCap)});
        every_party_measured = every_party_measured && measured;
        // The product takes each party's uncapped fidelity; only the final figure is capped.
        product *= local;
    }

    result.success = !input.participants.empty() && every_party_measured;
    result.computation_fidelity = std::fmin(product, kFidelityCap);
    // Without edges there is nothing to coordinate, whatever the relay latency (even inf or NaN).
    result.coordination_overhead_ms =
        edges.empty() ? 0.0
                      : static_cast<double>(edges.size()) * input.classical_relay_latency_ms;
    return result;
}

std::string repr(const PartyOutcome& outcome) {
    return "PartyOutcome(" + outcome.node_id + ", success=" +
           text::boolean(outcome.successful_measurement) +
           ", fidelity=" + text::fixed(outcome.local_fidelity, 4) + ")";
}

std::string repr(const DistributedComputingResult& result) {
    return std::string("DistributedComputingResult(success=") + text::boolean(result.success) +
           ", fidelity=" + text::fixed(result.computation_fidelity, 4) +
           ", parties=" + std::to_string(result.party_results.size()) + ")";
}

std::string repr(const DistributedComputingStats& stats) {
    return "DistributedComputingStats(runs=" + std::to_string(stats.total_runs) +
           ", success=" + text::fixed(stats.success_rate * 100.0, 0) +
           ", fidelity=" + text::fixed(stats.mean_computation_fidelity, 4) + ")";
}

}  // namespace tavo
