// The engine class.

#include "core_types.hpp"
#include "file_objects.hpp"
#include "py/class_builder.hpp"
#include "registry.hpp"
#include "tavo/engine/engine.hpp"
#include "tavo/protocols/distributed.hpp"
#include "tavo/protocols/qkd.hpp"
#include "tavo/protocols/teleportation.hpp"
#include "tavo/snapshot/records.hpp"

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
    engine.network_or_fail();
    return engine.request_entanglement(
        EntanglementRequest{std::move(from_node), std::move(to), fidelity_target, max_latency_ms,
                            strategy});
}

MonteCarloStats simulate(const TavoEngine& engine, std::string from_node, std::string to,
                         double fidelity_target, double max_latency_ms, std::uint64_t runs,
                         optional<StrategyType> strategy, optional<std::uint64_t> seed) {
    engine.network_or_fail();
    EntanglementRequest request{std::move(from_node), std::move(to), fidelity_target,
                                max_latency_ms, strategy};
    MonteCarloStats stats;
    static_cast<MonteCarloSummary&>(stats) = engine.simulate(request, runs, seed);
    stats.context = make_context(engine, request, seed);
    return stats;
}

}  // namespace

py::Ref tavo_engine_class(PyObject*) {
    return py::ClassBuilder<TavoEngine>("TavoEngine")
        .constructor<&new_engine, "config">()
        .method<&define_network, "define_network", "nodes", "links">()
        .method<&request_entanglement, "request_entanglement", "from_node", "to",
                "fidelity_target", "max_latency_ms", "strategy">()
        .method<&simulate, "simulate", "from_node", "to", "fidelity_target", "max_latency_ms",
                "runs", "strategy", "seed">()
        .method<&define_network_from_tavo_method, "define_network_from_tavo", "qf">(
            kDefineNetworkFromTavoDoc)
        .method<&run_qkd_method, "run_qkd", "params">(kQkdDoc)
        .method<&execute_teleportation_method, "execute_teleportation", "params">(
            kTeleportationDoc)
        .method<&run_distributed_computation_method, "run_distributed_computation",
                "participants", "coordination_topology", "basis_type", "correlation_strength",
                "classical_relay_latency_ms">(kDistributedDoc)
        .method<&snapshot_method, "snapshot">(kSnapshotDoc)
        .build();
}

}  // namespace bindings
