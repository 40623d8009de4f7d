#include "tavo/network/network_definitions.hpp"

namespace tavo {

std::vector<NodeDefinition> node_definitions(const QuantumNetwork& network) {
    std::vector<NodeDefinition> nodes;
    nodes.reserve(network.nodes().size());
    for (const InternalNode& node : network.nodes()) {
        nodes.push_back(NodeDefinition{node.id, node.memory_lifetime_t2});
    }
    return nodes;
}

std::vector<LinkDefinition> link_definitions(const QuantumNetwork& network) {
    std::vector<LinkDefinition> links;
    links.reserve(network.links().size());
    for (const InternalLink& link : network.links()) {
        links.push_back(LinkDefinition{link.from, link.to, link.distance_km, link.base_fidelity,
                                       link.generation_rate_hz, link.link_type, std::nullopt});
    }
    return links;
}

}  // namespace tavo
