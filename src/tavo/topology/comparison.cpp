#include "tavo/topology/comparison.hpp"

#include "tavo/engine/engine.hpp"
#include "tavo/error.hpp"
#include "tavo/topology/generator.hpp"
#include "text/forms.hpp"

namespace tavo {
namespace {

std::string node_list(const NetworkTopologyPayload& payload) {
    std::string list = "[";
    for (std::size_t i = 0; i < payload.nodes.size(); ++i) {
        if (i) list += ", ";
        list += '"' + payload.nodes[i].id + '"';
    }
    return list + "]";
}

bool has_node(const NetworkTopologyPayload& payload, const std::string& id) {
    for (const auto& node : payload.nodes) {
        if (node.id == id) return true;
    }
    return false;
}

}  // namespace

std::string comparison_summary(const std::vector<TopologyComparisonResult>& results,
                               std::size_t* recommended) {
    if (results.empty()) return "No topologies evaluated";
    // Highest rate, later results winning ties; lowest latency, earlier results winning ties. A NaN
    // figure (an ensemble of no runs) never displaces the current choice.
    std::size_t best_rate = 0, best_latency = 0;
    for (std::size_t i = 1; i < results.size(); ++i) {
        if (results[i].success_rate >= results[best_rate].success_rate) best_rate = i;
        if (results[i].mean_latency_ms < results[best_latency].mean_latency_ms) best_latency = i;
    }
    double fidelity_sum = 0.0;
    for (const auto& result : results) fidelity_sum += result.mean_fidelity;
    if (recommended) *recommended = best_rate;

    const std::string& recommendation = results[best_rate].topology_name;
    return "Evaluated " + std::to_string(results.size()) + " topologies. Recommended: " +
           recommendation + ". Best success rate: " +
           text::truncated(results[best_rate].success_rate * 100.0) + " (" + recommendation +
           "), Best latency: " + text::fixed(results[best_latency].mean_latency_ms, 2) + "ms (" +
           results[best_latency].topology_name + "). Average fidelity: " +
           text::fixed(fidelity_sum / double(results.size()), 4) + ".";
}

TopologyComparisonReport compare_topologies(const std::vector<TopologyEndpoints>& endpoints,
                                            double fidelity_target, double max_latency_ms,
                                            std::uint64_t runs,
                                            std::optional<StrategyType> strategy,
                                            const SimulationConfig& config) {
    std::vector<TopologyType> types;
    for (const auto& endpoint : endpoints) {
        auto type = comparison_topology(endpoint.topology_name);
        if (!type) {
            throw InvalidValue("Unknown topology in endpoints: '" + endpoint.topology_name +
                               "'. Supported: fiber_only, telecom_backbone, repeater_chain, "
                               "hybrid_satellite_fiber, hybrid");
        }
        types.push_back(*type);
    }
    // Every endpoint's nodes are checked before the first ensemble runs: a bad endpoint fails the
    // whole comparison, so there is no point simulating the ones before it.
    std::vector<NetworkTopologyPayload> payloads;
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        const auto& endpoint = endpoints[i];
        NetworkTopologyPayload payload = build_topology(types[i]);
        if (!has_node(payload, endpoint.from_node)) {
            throw InvalidValue("Source node '" + endpoint.from_node + "' not found in topology '" +
                               endpoint.topology_name + "'. Available nodes: " + node_list(payload));
        }
        if (!has_node(payload, endpoint.to_node)) {
            throw InvalidValue("Target node '" + endpoint.to_node + "' not found in topology '" +
                               endpoint.topology_name + "'. Available nodes: " + node_list(payload));
        }
        payloads.push_back(std::move(payload));
    }

    TopologyComparisonReport report;
    report.runs = runs;
    report.fidelity_target = fidelity_target;
    report.max_latency_ms = max_latency_ms;
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
        TavoEngine engine(config);
        engine.define_network(payloads[i].nodes, payloads[i].links);
        EntanglementRequest request{endpoints[i].from_node, endpoints[i].to_node, fidelity_target,
                                    max_latency_ms, strategy};
        MonteCarloSummary stats = engine.simulate(request, runs, std::nullopt);
        report.results.push_back(TopologyComparisonResult{
            endpoints[i].topology_name, stats.empirical_success_rate, stats.mean_fidelity,
            stats.mean_latency_ms, std::move(stats.link_utilization_heatmap)});
    }
    std::size_t recommended = 0;
    report.summary = comparison_summary(report.results, &recommended);
    report.recommended_topology = report.results.empty() ? "unknown"
                                                         : report.results[recommended].topology_name;
    report.source_node = endpoints.empty() ? "" : endpoints.front().from_node;
    report.target_node = endpoints.empty() ? "" : endpoints.front().to_node;
    return report;
}

}  // namespace tavo
