#pragma once
// Route finding: the best simple path between two nodes under a strategy.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavo/engine/request.hpp"
#include "tavo/network/quantum_network.hpp"

namespace tavo {

struct RouteInfo {
    std::vector<std::string> path;  // source first, target last
    double fidelity = 1.0;          // product of the joining links' base fidelities along the path
    std::vector<const InternalLink*> links;  // the joining link of each hop, into the network searched
};

// The best simple path from `from` to `to` (links are undirected) under `strategy`. Source and
// target must be defined nodes; intermediate nodes need only appear in links.
//
// Paths are met depth first, the neighbour reached through the last matching link first, and
// candidates are compared in that order: LowestLatency keeps the earlier of equal sums of distances,
// HighestFidelity and HighestSuccess take the later of equal scores. Each hop is scored by the link
// that joins its two nodes (the first such link in list order). Only the current path and the best
// one are kept, so memory grows with the path length, not with the number of paths.
//
// The walk skips a partial path only when no completion of it could be chosen, so the result is
// always that of visiting every simple path:
// - LowestLatency, when every distance is a non-negative number: adding non-negative terms never
//   makes a sum smaller, in floating point too (the exact sum is at least the partial sum, which is
//   representable, and rounding is monotonic). A partial sum at or above the best can only complete
//   to a score at or above it, which does not replace it (ties keep the earlier path).
// - HighestFidelity, when every fidelity lies in [0, 1]: by the same argument multiplying by such
//   factors never makes a product larger. A partial product strictly below the best completes to a
//   score strictly below it; one equal to the best is walked on, as an equal later score replaces.
// - HighestSuccess maximises a sum of terms that only ever grow it, a longest-path problem where a
//   partial score bounds nothing: it visits every simple path, which takes exponential time on dense
//   networks.
// Any other value (NaN, negative distances, fidelities above 1) turns the skipping off.
std::optional<RouteInfo> find_route(const QuantumNetwork& network, std::string_view from,
                                    std::string_view to, StrategyType strategy);

// The same over an index already built for the network (see LinkIndex).
std::optional<RouteInfo> find_route(const LinkIndex& index, std::string_view from,
                                    std::string_view to, StrategyType strategy);

// The same result by visiting every simple path, skipping none. The reference the skipping is
// checked and measured against.
std::optional<RouteInfo> find_route_exhaustive(const QuantumNetwork& network, std::string_view from,
                                               std::string_view to, StrategyType strategy);

}  // namespace tavo
