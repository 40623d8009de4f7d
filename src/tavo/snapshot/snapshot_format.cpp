#include "tavo/snapshot/snapshot_format.hpp"

#include "tavo/record_json.hpp"

namespace tavo {

TopologySnapshot parse_snapshot_document(std::string_view text) {
    return read_json_document<TopologySnapshot>(text);
}

std::string write_snapshot_document(const TopologySnapshot& snapshot, bool finite_only) {
    return write_json_document(snapshot, finite_only);
}

}  // namespace tavo
