#pragma once
// The engine: one configuration, fixed at construction, and at most one network.

#include <optional>
#include <vector>

#include "tavo/montecarlo/stats.hpp"
#include "tavo/network/config.hpp"
#include "tavo/network/definitions.hpp"
#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"
#include "tavo/random/chacha.hpp"
#include "tavo/scheduler/result.hpp"

namespace tavo {

class TavoEngine {
public:
    explicit TavoEngine(SimulationConfig config = SimulationConfig::engine_default())
        : config_(config) {}

    const SimulationConfig& config() const { return config_; }
    bool has_network() const { return network_.has_value(); }
    // Null until a network has been defined.
    const QuantumNetwork* network() const { return network_ ? &*network_ : nullptr; }

    // Every definition replaces the network as a whole.
    void define_network(const std::vector<NodeDefinition>& nodes,
                        const std::vector<LinkDefinition>& links);
    void replace_network(QuantumNetwork network) { network_ = std::move(network); }

    // One played-out request with the zero-seeded generator; records nothing on the engine.
    SimulationResult request_entanglement(const EntanglementRequest& request) const;
    // The same drawing from a copy of `generator` (link attempts, on the cycle model).
    SimulationResult request_entanglement(const EntanglementRequest& request,
                                          const ChaCha12Rng& generator) const;

    // An ensemble of `runs` trials; without a seed, the wall clock's nanoseconds since the epoch.
    MonteCarloSummary simulate(const EntanglementRequest& request, std::uint64_t runs,
                               std::optional<std::uint64_t> seed) const;

    // The network, or a Panic for callers that must not get this far without one.
    const QuantumNetwork& require_network() const;
    // The network, or OperationFailed telling the user to define one.
    const QuantumNetwork& network_or_fail() const;

private:
    std::optional<QuantumNetwork> network_;
    SimulationConfig config_;
};

}  // namespace tavo
