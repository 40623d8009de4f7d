#pragma once
// The named reference networks.

#include <cstddef>
#include <optional>
#include <string_view>
#include <variant>

#include "tavo/network/request.hpp"

namespace tavo {

struct TelecomBackbone {};
struct RepeaterChain {
    std::size_t nodes = 4;
};
struct HybridSatelliteFiber {};
using TopologyType = std::variant<TelecomBackbone, RepeaterChain, HybridSatelliteFiber>;

namespace telecom {
// Six-node terrestrial backbone, A to F.
NetworkTopologyPayload build();
}  // namespace telecom

namespace repeater_chain {
// n nodes "N0".."N{n-1}" joined in a line by identical 100 km fiber links.
NetworkTopologyPayload build(std::size_t n);
}  // namespace repeater_chain

namespace hybrid {
// Toronto, Montreal and London by fiber, with a satellite route through SAT-1.
NetworkTopologyPayload build();
}  // namespace hybrid

NetworkTopologyPayload build_topology(const TopologyType& type);

// The names the comparison accepts: the three canonical names and the aliases "fiber_only" and
// "hybrid". Exact match.
std::optional<TopologyType> comparison_topology(std::string_view name);

// The network for one of "telecom_backbone", "repeater_chain" (4 nodes) and
// "hybrid_satellite_fiber"; any other name is refused with InvalidValue.
NetworkTopologyPayload generate_topology(std::string_view name);

}  // namespace tavo
