#pragma once
// The in-memory network the engine simulates on.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tavo/network/definitions.hpp"

namespace tavo {

// Nodes keyed by id, kept in order of first definition (a redefined node keeps its place and takes
// the new values); links in insertion order, each the definition it was given (kind and satellite
// conditions included). Nothing is checked: links may name unknown nodes, form self-loops or run in
// parallel.
class QuantumNetwork {
public:
    void add_node(NodeDefinition node);
    void add_link(LinkDefinition link) { links_.push_back(std::move(link)); }

    bool has_node(std::string_view id) const { return index_.find(id) != index_.end(); }
    // The node defined under `id`, or null.
    const NodeDefinition* find_node(std::string_view id) const {
        const auto found = index_.find(id);
        return found == index_.end() ? nullptr : &nodes_[found->second];
    }
    const std::vector<NodeDefinition>& nodes() const { return nodes_; }
    const std::vector<LinkDefinition>& links() const { return links_; }

    // The first link in list order joining a and b in either direction, or null. A scan of the link
    // list: for more than a lookup or two, build a LinkIndex.
    const LinkDefinition* link_between(std::string_view a, std::string_view b) const;

    static QuantumNetwork from_definitions(const std::vector<NodeDefinition>& nodes,
                                           const std::vector<LinkDefinition>& links);

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::vector<NodeDefinition> nodes_;
    std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
    std::vector<LinkDefinition> links_;
};

// The links of a network as adjacency over integer vertices, for route searches and per-hop lookups
// that would otherwise scan the link list each time. Every defined node and every link endpoint is
// a vertex. Built in time linear in the size of the network; refers to the network's strings and
// links, so the network must outlive it and stay unchanged.
class LinkIndex {
public:
    using Vertex = std::uint32_t;
    static constexpr Vertex npos = ~Vertex{0};

    struct Edge {
        Vertex neighbour;
        const LinkDefinition* joining;  // the first link in list order joining the two endpoints
    };

    explicit LinkIndex(const QuantumNetwork& network);

    const QuantumNetwork& network() const { return *network_; }
    std::size_t vertex_count() const { return names_.size(); }
    Vertex find(std::string_view name) const;  // npos for a name the network does not mention
    std::string_view name(Vertex v) const { return names_[v]; }

    // The neighbours of v as a walk of the link list would meet them, but in reverse order (the
    // order a last-in first-out search explores them in): one edge per link touching v, the
    // parallel ones included, self-loops left out.
    std::span<const Edge> edges(Vertex v) const {
        return {edges_.data() + offsets_[v], edges_.data() + offsets_[v + 1]};
    }

    // What QuantumNetwork::link_between returns, by hashing instead of scanning.
    const LinkDefinition* joining(Vertex a, Vertex b) const;
    const LinkDefinition* link_between(std::string_view a, std::string_view b) const;

private:
    // Open addressing with linear probing in power-of-two tables: for a network of a hundred
    // thousand links, one allocation per entry (as in a node-based map) costs more than the search.
    static std::uint64_t pair_key(Vertex a, Vertex b) {
        return a < b ? (std::uint64_t{a} << 32) | b : (std::uint64_t{b} << 32) | a;
    }
    Vertex add_vertex(std::string_view name, std::size_t hash);
    // The slot holding the name, or the empty one where it would go.
    std::size_t name_slot(std::string_view name, std::size_t hash) const;
    void prefetch_name_slot(std::size_t hash) const;
    void grow_names();
    std::size_t pair_slot(std::uint64_t key) const;

    static constexpr std::uint64_t no_pair = ~std::uint64_t{0};  // no vertex is npos, so no key is

    const QuantumNetwork* network_;
    std::vector<std::string_view> names_;
    std::vector<std::size_t> hashes_;  // of names_, for regrowing
    std::vector<Vertex> name_slots_;   // npos when empty
    std::vector<std::pair<std::uint64_t, const LinkDefinition*>> pairs_;  // no_pair when empty
    std::vector<std::size_t> offsets_;  // edges of v: edges_[offsets_[v] .. offsets_[v + 1])
    std::vector<Edge> edges_;
};

}  // namespace tavo
