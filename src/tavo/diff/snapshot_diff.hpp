#pragma once
// Comparing two topology snapshots: which nodes and links were added, removed or modified.

#include <string>
#include <vector>

#include "tavo/record.hpp"
#include "tavo/snapshot/records.hpp"

namespace tavo {

struct TopologyDiff {
    std::string name;  // "{first name} vs {second name}"
    std::vector<std::string> nodes_added;
    std::vector<std::string> nodes_removed;
    std::vector<std::string> nodes_modified;
    std::vector<std::string> links_added;  // link keys "{from_node}->{to}"
    std::vector<std::string> links_removed;
    std::vector<std::string> links_modified;
    std::string summary;
};

// A node counts as modified when its memory lifetime moves by more than 0.001 (a NaN difference
// does not count); a link when any value differs exactly. Nodes are matched by id, links by key;
// of a repeated id or key the last entry is compared. Removed and modified entries come in the
// first snapshot's order, added ones in the second's. Only the metadata names, nodes and links are
// read.
TopologyDiff diff_snapshots(const TopologySnapshot& first, const TopologySnapshot& second);

template <>
struct Fields<TopologyDiff> {
    using D = TopologyDiff;
    static constexpr std::string_view name = "TopologyDiff";
    static constexpr std::string_view doc = R"(
        What diff_topologies found between two snapshots. No constructor.

        Nodes are matched by id, links by their key "from_node->to" (a reversed link is one removed and
        one added). Removed and modified entries come in the first snapshot's order, added ones in the
        second's.)";
    static constexpr auto list = std::tuple{
        field<&D::name>({
            .name = "name",
            .doc = "The two snapshots' metadata names: \"{first} vs {second}\".",
        }),
        field<&D::summary>({
            .name = "summary",
            .doc = R"(
                One line: "Diff for '{name}': 1 nodes added, ... 0 links modified." with the six
                counts.)",
        }),
        field<&D::nodes_added>({
            .name = "nodes_added",
            .doc = "Ids of the second snapshot's nodes that the first lacks.",
        }),
        field<&D::nodes_removed>({
            .name = "nodes_removed",
            .doc = "Ids of the first snapshot's nodes that the second lacks.",
        }),
        field<&D::nodes_modified>({
            .name = "nodes_modified",
            .doc = "Ids in both whose memory_lifetime_t2 differs by more than 0.001 s.",
        }),
        field<&D::links_added>({
            .name = "links_added",
            .doc = "Keys \"from->to\" of the second snapshot that the first lacks.",
        }),
        field<&D::links_removed>({
            .name = "links_removed",
            .doc = "Keys \"from->to\" of the first snapshot that the second lacks.",
        }),
        field<&D::links_modified>({
            .name = "links_modified",
            .doc = R"(
                Keys in both whose links differ in distance, fidelity, rate, link type or satellite
                conditions (exact comparison).)",
        }),
    };
};

}  // namespace tavo
