#include "tavo/engine/engine.hpp"
#include "tavo/montecarlo/stats.hpp"

namespace tavo {

PyMonteCarloContext make_context(const TavoEngine& engine, const EntanglementRequest& request,
                                 std::optional<std::uint64_t> seed) {
    PyMonteCarloContext context;
    context.seed = seed;
    const QuantumNetwork& network = engine.network_or_fail();
    for (const InternalNode& node : network.nodes()) {
        context.nodes.emplace_back(node.id, node.memory_lifetime_t2);
    }
    for (const InternalLink& link : network.links()) {
        context.links.emplace_back(link.from, link.to, link.distance_km, link.base_fidelity,
                                   link.generation_rate_hz);
    }
    context.from_node = request.from_node;
    context.to_node = request.to;
    context.fidelity_target = request.fidelity_target;
    context.max_latency_ms = request.max_latency_ms;
    const SimulationConfig& config = engine.config();
    context.total_time_cutoff_ms = config.total_time_cutoff_ms;
    context.step_resolution_ms = config.step_resolution_ms;
    context.baseline_purify_factor = config.physical.baseline_purify_factor;
    context.strategy = request.strategy;
    return context;
}

}  // namespace tavo
