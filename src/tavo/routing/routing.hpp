#pragma once
// Route finding: the best simple path between two nodes under a strategy.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"

namespace tavo {

struct RouteInfo {
    std::vector<std::string> path;  // source first, target last
    double fidelity = 1.0;          // product of the joining links' base fidelities along the path
};

// Enumerates every simple path from `from` to `to` (links are undirected) and keeps the best under
// `strategy`. Source and target must be defined nodes; intermediate nodes need only appear in links.
//
// Paths are visited depth first, the neighbour reached through the last matching link first, and
// candidates are compared in that order: LowestLatency keeps the earlier of equal sums of distances,
// HighestFidelity and HighestSuccess take the later of equal scores. Each hop is scored by the link
// that joins its two nodes (the first such link in list order). Only the current path and the best
// one are kept, so memory grows with the path length, not with the number of paths.
std::optional<RouteInfo> find_route(const QuantumNetwork& network, std::string_view from,
                                    std::string_view to, StrategyType strategy);

}  // namespace tavo
