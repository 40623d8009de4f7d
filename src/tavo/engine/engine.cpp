#include "tavo/engine/engine.hpp"

#include <chrono>

#include "tavo/error.hpp"
#include "tavo/montecarlo/ensemble.hpp"
#include "tavo/physics/request.hpp"
#include "tavo/scheduler/orchestrator.hpp"

namespace tavo {

void TavoEngine::define_network(const std::vector<NodeDefinition>& nodes,
                                const std::vector<LinkDefinition>& links) {
    network_ = QuantumNetwork::from_definitions(nodes, links);
}

const QuantumNetwork& TavoEngine::require_network() const {
    if (!network_) {
        throw Panic("Network topology must be explicitly defined prior to run processing.");
    }
    return *network_;
}

const QuantumNetwork& TavoEngine::network_or_fail() const {
    if (!network_) throw OperationFailed("No network defined. Call define_network() first.");
    return *network_;
}

SimulationResult TavoEngine::request_entanglement(const EntanglementRequest& request,
                                                  const ChaCha12Rng& generator) const {
    const QuantumNetwork& network = require_network();
    if (config_.physics) return play_physical_request(network, config_, request, generator);
    require_finite_limits(request, config_);
    SimulationRuntime runtime;
    NetworkTelemetry telemetry(config_);
    return NetworkOrchestratorPolicy::coordinate_timeline(telemetry, network, runtime, request,
                                                          &generator);
}

// Without a generator a request draws from a zero-seeded one, on either model.
SimulationResult TavoEngine::request_entanglement(const EntanglementRequest& request) const {
    return request_entanglement(request, ChaCha12Rng::zero_seeded());
}

static std::uint64_t clock_seed() {
    auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    if (since_epoch.count() < 0) return 0;
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds);
    return std::uint64_t(seconds.count()) * 1'000'000'000u + std::uint64_t(nanos.count());
}

MonteCarloSummary TavoEngine::simulate(const EntanglementRequest& request, std::uint64_t runs,
                                       std::optional<std::uint64_t> seed) const {
    const QuantumNetwork& network = require_network();
    return MonteCarloSimulationEngine::execute_ensemble(network, config_, request, runs,
                                                        seed ? *seed : clock_seed());
}

}  // namespace tavo
