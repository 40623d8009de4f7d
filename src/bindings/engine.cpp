// The engine class. Methods that belong to another area (files, protocols, snapshots) are declared
// there and listed in registrations.def.

#include "core_types.hpp"
#include "py/class_builder.hpp"
#include "registry.hpp"
#include "tavo/engine/engine.hpp"
#include "tavo/montecarlo/context.hpp"
#include "tavo/network/network_definitions.hpp"

namespace bindings {
namespace {

using namespace tavo;
using std::optional;

TavoEngine new_engine(optional<SimulationConfig> config) {
    return TavoEngine(config.value_or(SimulationConfig::engine_default()));
}

void define_network(TavoEngine& engine, std::vector<NodeDefinition> nodes,
                    std::vector<LinkDefinition> links) {
    engine.define_network(nodes, links);
}

SimulationResult request_entanglement(const TavoEngine& engine, std::string from_node,
                                      std::string to, double fidelity_target,
                                      double max_latency_ms, optional<StrategyType> strategy) {
    // A missing network is a usage error the caller can handle, as for simulate.
    engine.network_or_fail();
    return engine.request_entanglement(
        EntanglementRequest{std::move(from_node), std::move(to), fidelity_target, max_latency_ms,
                            strategy});
}

MonteCarloStats simulate(const TavoEngine& engine, std::string from_node, std::string to,
                         double fidelity_target, double max_latency_ms, std::uint64_t runs,
                         optional<StrategyType> strategy, optional<std::uint64_t> seed) {
    const QuantumNetwork& network = engine.network_or_fail();
    EntanglementRequest request{std::move(from_node), std::move(to), fidelity_target,
                                max_latency_ms, strategy};
    MonteCarloStats stats;
    static_cast<MonteCarloSummary&>(stats) = engine.simulate(request, runs, seed);
    stats.context = make_context(network, engine.config(), request, seed);
    return stats;
}

// An engine pickles as its configuration and, when it has one, the definitions of its network.
using NetworkState = std::pair<std::vector<NodeDefinition>, std::vector<LinkDefinition>>;
using EngineState = std::tuple<SimulationConfig, optional<NetworkState>>;

EngineState engine_state(const TavoEngine& engine) {
    optional<NetworkState> network;
    if (const QuantumNetwork* defined = engine.network()) {
        network.emplace(node_definitions(*defined), link_definitions(*defined));
    }
    return {engine.config(), std::move(network)};
}

TavoEngine engine_from_state(EngineState state) {
    TavoEngine engine(std::get<0>(state));
    if (const auto& network = std::get<1>(state))
        engine.define_network(network->first, network->second);
    return engine;
}

}  // namespace

py::Ref tavo_engine_class(PyObject*) {
    py::ClassBuilder<TavoEngine> builder("TavoEngine");
    builder.constructor<&new_engine, "config">()
        .unlocked_method<&define_network, "define_network", "nodes", "links">()
        .unlocked_method<&request_entanglement, "request_entanglement", "from_node", "to",
                         "fidelity_target", "max_latency_ms", "strategy">()
        .unlocked_method<&simulate, "simulate", "from_node", "to", "fidelity_target",
                         "max_latency_ms", "runs", "strategy", "seed">()
        .pickled<&engine_state, &engine_from_state>();
#define TAVO_ENGINE_METHOD(maker) builder.method(maker());
#include "registry.inc"
    return builder.build();
}

}  // namespace bindings
