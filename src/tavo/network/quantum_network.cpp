#include "tavo/network/quantum_network.hpp"

#include <utility>

#include "tavo/interrupt.hpp"

namespace tavo {

void QuantumNetwork::add_node(NodeDefinition node) {
    auto found = index_.find(std::string_view(node.id));
    if (found != index_.end()) {
        nodes_[found->second].memory_lifetime_t2 = node.memory_lifetime_t2;
        return;
    }
    index_.emplace(node.id, nodes_.size());
    nodes_.push_back(std::move(node));
}

const LinkDefinition* QuantumNetwork::link_between(std::string_view a, std::string_view b) const {
    for (const LinkDefinition& link : links_) {
        if ((link.from_node == a && link.to == b) || (link.from_node == b && link.to == a))
            return &link;
    }
    return nullptr;
}

namespace {

std::size_t table_size(std::size_t entries) {
    std::size_t size = 16;
    while (size < 2 * entries) size *= 2;  // at most half full
    return size;
}

std::size_t hash_name(std::string_view name) { return std::hash<std::string_view>{}(name); }

std::size_t spread(std::uint64_t key) { return std::size_t((key * 0x9E3779B97F4A7C15ull) >> 17); }

}  // namespace

LinkIndex::LinkIndex(const QuantumNetwork& network) : network_(&network) {
    const auto& links = network.links();
    name_slots_.assign(table_size(network.nodes().size()), npos);
    names_.reserve(network.nodes().size());
    hashes_.reserve(network.nodes().size());
    for (const NodeDefinition& node : network.nodes()) add_vertex(node.id, hash_name(node.id));

    // Mostly lookups of names seen before, each a cache miss in a large table: the hashes are
    // computed first so that slots can be fetched a few links ahead of their use.
    std::vector<std::size_t> hashes(2 * links.size());
    for (std::size_t i = 0; i < links.size(); ++i) {
        hashes[2 * i] = hash_name(links[i].from_node);
        hashes[2 * i + 1] = hash_name(links[i].to);
    }
    constexpr std::size_t ahead = 16;
    std::vector<std::pair<Vertex, Vertex>> ends(links.size());
    for (std::size_t i = 0; i < links.size(); ++i) {
        if (2 * i + ahead + 1 < hashes.size()) {
            prefetch_name_slot(hashes[2 * i + ahead]);
            prefetch_name_slot(hashes[2 * i + ahead + 1]);
        }
        ends[i] = {add_vertex(links[i].from_node, hashes[2 * i]),
                   add_vertex(links[i].to, hashes[2 * i + 1])};
    }

    // Parallel links all become edges, but each is scored by the pair's first link.
    pairs_.assign(table_size(links.size()), {no_pair, nullptr});
    std::vector<const LinkDefinition*> joining_of(links.size());
    std::vector<std::uint64_t> keys(links.size());
    for (std::size_t i = 0; i < links.size(); ++i) {
        keys[i] = pair_key(ends[i].first, ends[i].second);
    }
    for (std::size_t i = 0; i < links.size(); ++i) {
        if (i + ahead < links.size()) {
            __builtin_prefetch(&pairs_[spread(keys[i + ahead]) & (pairs_.size() - 1)]);
        }
        const std::uint64_t key = keys[i];
        auto& slot = pairs_[pair_slot(key)];
        if (slot.first == no_pair) slot = {key, &links[i]};
        joining_of[i] = slot.second;
    }

    // Compressed rows: count the degrees, then fill each row in reverse link order.
    offsets_.assign(names_.size() + 1, 0);
    for (const auto& [a, b] : ends) {
        if (a == b) continue;
        ++offsets_[a + 1];
        ++offsets_[b + 1];
    }
    for (std::size_t v = 0; v < names_.size(); ++v) offsets_[v + 1] += offsets_[v];
    edges_.resize(offsets_.back());
    std::vector<std::size_t> fill(offsets_.begin(), offsets_.end() - 1);
    for (std::size_t i = links.size(); i-- > 0;) {
        const auto [a, b] = ends[i];
        if (a == b) continue;  // a self-loop never extends a simple path
        edges_[fill[a]++] = {b, joining_of[i]};
        edges_[fill[b]++] = {a, joining_of[i]};
    }
}

std::size_t LinkIndex::name_slot(std::string_view name, std::size_t hash) const {
    const std::size_t mask = name_slots_.size() - 1;
    std::size_t slot = hash & mask;
    for (;; slot = (slot + 1) & mask) {
        const Vertex v = name_slots_[slot];
        if (v == npos || (hashes_[v] == hash && names_[v] == name)) return slot;
    }
}

void LinkIndex::prefetch_name_slot(std::size_t hash) const {
    __builtin_prefetch(&name_slots_[hash & (name_slots_.size() - 1)]);
}

std::size_t LinkIndex::pair_slot(std::uint64_t key) const {
    const std::size_t mask = pairs_.size() - 1;
    std::size_t slot = spread(key) & mask;
    while (pairs_[slot].first != no_pair && pairs_[slot].first != key) slot = (slot + 1) & mask;
    return slot;
}

void LinkIndex::grow_names() {
    name_slots_.assign(2 * name_slots_.size(), npos);
    const std::size_t mask = name_slots_.size() - 1;
    for (Vertex v = 0; v < names_.size(); ++v) {
        std::size_t slot = hashes_[v] & mask;
        while (name_slots_[slot] != npos) slot = (slot + 1) & mask;
        name_slots_[slot] = v;
    }
}

LinkIndex::Vertex LinkIndex::add_vertex(std::string_view name, std::size_t hash) {
    std::size_t slot = name_slot(name, hash);
    if (name_slots_[slot] != npos) return name_slots_[slot];
    if (2 * (names_.size() + 1) > name_slots_.size()) {
        grow_names();
        slot = name_slot(name, hash);
    }
    const Vertex v = Vertex(names_.size());
    name_slots_[slot] = v;
    names_.push_back(name);
    hashes_.push_back(hash);
    return v;
}

LinkIndex::Vertex LinkIndex::find(std::string_view name) const {
    return name_slots_[name_slot(name, hash_name(name))];
}

const LinkDefinition* LinkIndex::joining(Vertex a, Vertex b) const {
    return pairs_[pair_slot(pair_key(a, b))].second;
}

const LinkDefinition* LinkIndex::link_between(std::string_view a, std::string_view b) const {
    const Vertex va = find(a), vb = find(b);
    return va == npos || vb == npos ? nullptr : joining(va, vb);
}

QuantumNetwork QuantumNetwork::from_definitions(const std::vector<NodeDefinition>& nodes,
                                                const std::vector<LinkDefinition>& links) {
    QuantumNetwork network;
    InterruptCountdown interrupt(1 << 12);  // millions of definitions take seconds
    for (const NodeDefinition& node : nodes) {
        interrupt.tick();
        network.add_node(node);
    }
    for (const LinkDefinition& link : links) {
        interrupt.tick();
        network.add_link(link);
    }
    return network;
}

}  // namespace tavo
