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
    std::vector<const LinkDefinition*> links;  // each hop's joining link, in the network searched
};

// The best simple path from `from` to `to` (links are undirected) under `strategy`. Source and
// target must be defined nodes; intermediate nodes need only appear in links.
//
// Paths are met depth first, the neighbour reached through the last matching link first, and
// candidates are compared in that order: LowestLatency keeps the earlier of equal sums of
// distances, HighestFidelity and HighestSuccess take the later of equal scores. Each hop is scored
// by the link that joins its two nodes (the first such link in list order). Only the current path
// and the best one are kept, so memory grows with the path length, not with the number of paths.
//
// The result is always that of comparing every simple path in that order, but the walk skips
// partial paths none of whose completions could be chosen, when the strategy's scores allow it:
// - Equal scores: the rules above choose the first candidate with the best score (LowestLatency)
//   or the last one (the other two; no NaN can arise where skipping is on). Reversing the order of
//   every vertex's edges reverses the order in which candidates are met, so the last becomes the
//   first: HighestFidelity walks that way, keeps the first best and can then skip a partial path
//   whose score only equals the best, which matters where many paths tie.
// - LowestLatency, when every distance is a non-negative number: adding non-negative terms never
//   makes a sum smaller, in floating point too (the exact sum is at least the partial sum, which is
//   representable, and rounding is monotonic; infinities stay infinite). A partial sum at or above
//   the best completes to a sum at or above it, which is not chosen.
// - HighestFidelity, when every fidelity lies in [0, 1]: by the same argument multiplying by such
//   factors never makes a product larger, so a partial product at or below the best is skipped.
// - HighestSuccess maximises a sum of terms that only ever grow it, a longest-path problem where a
//   partial score bounds nothing: it visits every simple path, which takes exponential time on
//   dense networks.
// Any other value (NaN, negative distances, fidelities above 1) turns skipping off, and the walk
// visits every simple path in the defining order.
std::optional<RouteInfo> find_route(const QuantumNetwork& network, std::string_view from,
                                    std::string_view to, StrategyType strategy);

// The same over an index already built for the network (see LinkIndex).
std::optional<RouteInfo> find_route(const LinkIndex& index, std::string_view from,
                                    std::string_view to, StrategyType strategy);

// The route a request takes, whatever model plays it: the best path under the request's strategy
// (HighestFidelity when it names none); a fidelity-first route whose fidelity is below the target
// gives way to the shortest one. None when there is no route (or no shortest one to fall back on).
std::optional<RouteInfo> choose_route(const LinkIndex& index, const EntanglementRequest& request);

// The same result by visiting every simple path, skipping none. The reference the skipping is
// checked and measured against.
std::optional<RouteInfo> find_route_exhaustive(const QuantumNetwork& network, std::string_view from,
                                               std::string_view to, StrategyType strategy);

}  // namespace tavo
