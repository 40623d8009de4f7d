#include "tavo/diff/snapshot_diff.hpp"

#include <cmath>

#include "tavo/diff/keyed_changes.hpp"
#include "tavo/network/link_key.hpp"

namespace tavo {
namespace {

using diff_detail::KeyedEntries;

// Lifetimes within this distance of each other count as the same.
constexpr double kLifetimeTolerance = 0.001;

bool lifetime_changed(const NodeDefinition& a, const NodeDefinition& b) {
    // Written as "greater than" so that a NaN difference compares false: unchanged.
    return std::fabs(a.memory_lifetime_t2 - b.memory_lifetime_t2) > kLifetimeTolerance;
}

bool link_changed(const LinkDefinition& a, const LinkDefinition& b) { return !same_fields(a, b); }

KeyedEntries<NodeDefinition> nodes_by_id(const TopologySnapshot& snapshot) {
    KeyedEntries<NodeDefinition> nodes;
    for (const NodeDefinition& node : snapshot.nodes) nodes.insert(node.id, node);
    return nodes;
}

KeyedEntries<LinkDefinition> links_by_key(const TopologySnapshot& snapshot) {
    KeyedEntries<LinkDefinition> links;
    for (const LinkDefinition& link : snapshot.links) {
        links.insert(link_key(link.from_node, link.to), link);
    }
    return links;
}

}  // namespace

TopologyDiff diff_snapshots(const TopologySnapshot& first, const TopologySnapshot& second) {
    TopologyDiff diff;
    diff.name = first.metadata.name + " vs " + second.metadata.name;

    auto nodes = diff_detail::compare_keyed(nodes_by_id(first), nodes_by_id(second),
                                            lifetime_changed);
    diff.nodes_added = std::move(nodes.added);
    diff.nodes_removed = std::move(nodes.removed);
    diff.nodes_modified = std::move(nodes.modified);

    auto links = diff_detail::compare_keyed(links_by_key(first), links_by_key(second),
                                            link_changed);
    diff.links_added = std::move(links.added);
    diff.links_removed = std::move(links.removed);
    diff.links_modified = std::move(links.modified);

    diff.summary = "Diff for '" + diff.name + "': " + std::to_string(diff.nodes_added.size()) +
                   " nodes added, " + std::to_string(diff.nodes_removed.size()) +
                   " nodes removed, " + std::to_string(diff.nodes_modified.size()) +
                   " nodes modified. " + std::to_string(diff.links_added.size()) +
                   " links added, " + std::to_string(diff.links_removed.size()) +
                   " links removed, " + std::to_string(diff.links_modified.size()) +
                   " links modified.";
    return diff;
}

}  // namespace tavo
