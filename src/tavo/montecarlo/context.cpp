#include "tavo/montecarlo/context.hpp"

namespace tavo {

PyMonteCarloContext make_context(const QuantumNetwork& network, const SimulationConfig& config,
                                 const EntanglementRequest& request,
                                 std::optional<std::uint64_t> seed) {
    PyMonteCarloContext context;
    context.seed = seed;
    context.nodes = network.nodes();
    context.links = network.links();
    context.from_node = request.from_node;
    context.to_node = request.to;
    context.fidelity_target = request.fidelity_target;
    context.max_latency_ms = request.max_latency_ms;
    context.total_time_cutoff_ms = config.total_time_cutoff_ms;
    context.step_resolution_ms = config.step_resolution_ms;
    context.baseline_purify_factor = config.physical.baseline_purify_factor;
    context.strategy = request.strategy;
    context.physics = config.physics;
    context.speed_of_light_in_fiber_km_ms = config.physical.speed_of_light_in_fiber_km_ms;
    return context;
}

QuantumNetwork network_of(const PyMonteCarloContext& context) {
    QuantumNetwork network;
    for (const NodeDefinition& node : context.nodes) network.add_node(node);
    for (const LinkDefinition& link : context.links) network.add_link(link);
    return network;
}

}  // namespace tavo
