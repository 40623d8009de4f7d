#include "tavo/engine/engine.hpp"

namespace tavo {

void TavoEngine::define_network(const std::vector<NodeDefinition>& nodes,
                                const std::vector<LinkDefinition>& links) {
    network_ = QuantumNetwork::from_definitions(nodes, links);
}

}  // namespace tavo
