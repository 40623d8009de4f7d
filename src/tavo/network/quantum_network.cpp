#include "tavo/network/quantum_network.hpp"

#include <utility>

namespace tavo {

void QuantumNetwork::add_node(std::string id, double memory_lifetime_t2) {
    auto found = index_.find(std::string_view(id));
    if (found != index_.end()) {
        nodes_[found->second].memory_lifetime_t2 = memory_lifetime_t2;
        return;
    }
    index_.emplace(id, nodes_.size());
    nodes_.push_back(InternalNode{std::move(id), memory_lifetime_t2});
}

void QuantumNetwork::add_link(std::string from, std::string to, LinkType link_type,
                              double distance_km, double base_fidelity,
                              double generation_rate_hz) {
    links_.push_back(InternalLink{std::move(from), std::move(to), distance_km, base_fidelity,
                                  generation_rate_hz, link_type});
}

const InternalLink* QuantumNetwork::link_between(std::string_view a, std::string_view b) const {
    for (const InternalLink& link : links_) {
        if ((link.from == a && link.to == b) || (link.from == b && link.to == a)) return &link;
    }
    return nullptr;
}

QuantumNetwork QuantumNetwork::from_definitions(const std::vector<NodeDefinition>& nodes,
                                                const std::vector<LinkDefinition>& links) {
    QuantumNetwork network;
    for (const NodeDefinition& node : nodes) network.add_node(node.id, node.memory_lifetime_t2);
    for (const LinkDefinition& link : links) {
        network.add_link(link.from_node, link.to, link.link_type, link.distance_km,
                         link.base_fidelity, link.generation_rate_hz);
    }
    return network;
}

}  // namespace tavo
