#pragma once
// The in-memory network the engine simulates on.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tavo/network/definitions.hpp"

namespace tavo {

struct InternalNode {
    std::string id;
    double memory_lifetime_t2 = 0.0;
};

struct InternalLink {
    std::string from;
    std::string to;
    double distance_km = 0.0;
    double base_fidelity = 0.0;
    double generation_rate_hz = 0.0;
    LinkType link_type = LinkType::Fiber;
};

// Nodes keyed by id, kept in order of first definition (a redefined node keeps its place and takes
// the new values); links in insertion order. Nothing is checked: links may name unknown nodes, form
// self-loops or run in parallel.
class QuantumNetwork {
public:
    void add_node(std::string id, double memory_lifetime_t2);
    void add_link(std::string from, std::string to, LinkType link_type, double distance_km,
                  double base_fidelity, double generation_rate_hz);

    bool has_node(std::string_view id) const { return index_.find(id) != index_.end(); }
    const std::vector<InternalNode>& nodes() const { return nodes_; }
    const std::vector<InternalLink>& links() const { return links_; }

    // The first link in list order joining a and b in either direction, or null.
    const InternalLink* link_between(std::string_view a, std::string_view b) const;

    static QuantumNetwork from_definitions(const std::vector<NodeDefinition>& nodes,
                                           const std::vector<LinkDefinition>& links);

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::vector<InternalNode> nodes_;
    std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
    std::vector<InternalLink> links_;
};

}  // namespace tavo
