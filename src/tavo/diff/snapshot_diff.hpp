#pragma once
// Comparing two topology snapshots: which nodes and links were added, removed or modified.

#include <string>
#include <vector>

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

}  // namespace tavo
