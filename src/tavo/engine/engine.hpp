#pragma once
// The engine: one configuration, fixed at construction, and at most one network.

#include <optional>
#include <vector>

#include "tavo/engine/request.hpp"
#include "tavo/network/config.hpp"
#include "tavo/network/definitions.hpp"
#include "tavo/network/quantum_network.hpp"

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

private:
    std::optional<QuantumNetwork> network_;
    SimulationConfig config_;
};

}  // namespace tavo
