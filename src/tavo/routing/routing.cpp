#include "tavo/routing/routing.hpp"

#include <cmath>
#include <cstddef>

#include "tavo/interrupt.hpp"

namespace tavo {
namespace {

using Vertex = LinkIndex::Vertex;

double hop_score(StrategyType strategy, const LinkDefinition& link) {
    switch (strategy) {
        case StrategyType::LowestLatency: return link.distance_km;
        case StrategyType::HighestFidelity: return link.base_fidelity;
        default: return link.base_fidelity * link.generation_rate_hz;
    }
}

double start_score(StrategyType strategy) {
    return strategy == StrategyType::HighestFidelity ? 1.0 : 0.0;
}

double extend_score(StrategyType strategy, double score, const LinkDefinition& link) {
    return strategy == StrategyType::HighestFidelity ? score * hop_score(strategy, link)
                                                     : score + hop_score(strategy, link);
}

bool replaces_best(StrategyType strategy, double candidate, double best) {
    if (strategy == StrategyType::LowestLatency) return candidate < best;
    return std::isnan(candidate) || candidate >= best;
}

// How a search walks and compares. The plain walk meets candidates in the order that defines the
// result. A pruned walk keeps only the first of equal scores, so that a partial path whose score
// merely equals the best can be skipped too; for the strategies that take the later of equal
// scores it meets the candidates in reverse order (see the header).
struct Walk {
    bool prune = false;
    bool reversed = false;
};

bool replaces_best(StrategyType strategy, Walk walk, double candidate, double best) {
    if (!walk.prune) return replaces_best(strategy, candidate, best);
    return strategy == StrategyType::LowestLatency ? candidate < best : candidate > best;
}

// Whether no completion of a partial path with this score can replace the best.
bool skippable(StrategyType strategy, double partial, double best) {
    return strategy == StrategyType::LowestLatency ? partial >= best : partial <= best;
}

bool partial_scores_bound(const QuantumNetwork& network, StrategyType strategy) {
    for (const LinkDefinition& link : network.links()) {
        switch (strategy) {
            case StrategyType::LowestLatency:
                if (!(link.distance_km >= 0.0)) return false;
                break;
            case StrategyType::HighestFidelity:
                if (!(link.base_fidelity >= 0.0 && link.base_fidelity <= 1.0)) return false;
                break;
            default: return false;
        }
    }
    return true;
}

std::optional<RouteInfo> search(const LinkIndex& index, std::string_view from, std::string_view to,
                                StrategyType strategy, Walk walk) {
    const QuantumNetwork& network = index.network();
    if (network.nodes().empty() || !network.has_node(from) || !network.has_node(to)) {
        return std::nullopt;
    }
    if (from == to) return RouteInfo{{std::string(from)}, 1.0, {}};
    const Vertex source = index.find(from), target = index.find(to);

    // Depth-first walk with one frame per path position: the vertex and how far through its edge
    // list the walk has come. `hops[k]` is the link of the path's hop k and `scores[k]` the score
    // of its first k hops.
    struct Frame {
        Vertex vertex;
        std::size_t next_edge;
    };
    std::vector<Frame> frames{{source, 0}};
    std::vector<const LinkDefinition*> hops;
    std::vector<double> scores{start_score(strategy)};
    std::vector<bool> on_path(index.vertex_count(), false);
    on_path[source] = true;

    bool found = false;
    double best_score = 0.0;
    std::vector<Vertex> best_path;
    std::vector<const LinkDefinition*> best_hops;

    // The number of paths can grow exponentially with the network: look for interruption.
    InterruptCountdown interrupt;
    while (!frames.empty()) {
        interrupt.tick();
        Frame& frame = frames.back();
        const auto edges = index.edges(frame.vertex);
        if (frame.next_edge == edges.size()) {
            on_path[frame.vertex] = false;
            frames.pop_back();
            if (!hops.empty()) hops.pop_back();
            scores.pop_back();
            continue;
        }
        const std::size_t position = frame.next_edge++;
        const LinkIndex::Edge& edge = edges[walk.reversed ? edges.size() - 1 - position : position];
        if (on_path[edge.neighbour]) continue;
        const double score = extend_score(strategy, scores.back(), *edge.joining);
        if (edge.neighbour == target) {
            if (!found || replaces_best(strategy, walk, score, best_score)) {
                found = true;
                best_score = score;
                best_path.clear();
                for (const Frame& f : frames) best_path.push_back(f.vertex);
                best_path.push_back(target);
                best_hops.assign(hops.begin(), hops.end());
                best_hops.push_back(edge.joining);
            }
            continue;
        }
        if (walk.prune && found && skippable(strategy, score, best_score)) continue;
        on_path[edge.neighbour] = true;
        hops.push_back(edge.joining);
        scores.push_back(score);
        frames.push_back({edge.neighbour, 0});
    }
    if (!found) return std::nullopt;

    RouteInfo route;
    route.path.reserve(best_path.size());
    for (Vertex vertex : best_path) route.path.emplace_back(index.name(vertex));
    for (const LinkDefinition* link : best_hops) route.fidelity *= link->base_fidelity;
    route.links = std::move(best_hops);
    return route;
}

}  // namespace

std::optional<RouteInfo> find_route(const LinkIndex& index, std::string_view from,
                                    std::string_view to, StrategyType strategy) {
    Walk walk;
    walk.prune = partial_scores_bound(index.network(), strategy);
    walk.reversed = walk.prune && strategy != StrategyType::LowestLatency;
    return search(index, from, to, strategy, walk);
}

std::optional<RouteInfo> find_route(const QuantumNetwork& network, std::string_view from,
                                    std::string_view to, StrategyType strategy) {
    return find_route(LinkIndex(network), from, to, strategy);
}

std::optional<RouteInfo> choose_route(const LinkIndex& index, const EntanglementRequest& request) {
    const StrategyType strategy = request.strategy.value_or(StrategyType::HighestFidelity);
    std::optional<RouteInfo> route = find_route(index, request.from_node, request.to, strategy);
    if (route && strategy == StrategyType::HighestFidelity &&
        request.fidelity_target > route->fidelity) {
        route = find_route(index, request.from_node, request.to, StrategyType::LowestLatency);
    }
    return route;
}

std::optional<RouteInfo> find_route_exhaustive(const QuantumNetwork& network, std::string_view from,
                                               std::string_view to, StrategyType strategy) {
    return search(LinkIndex(network), from, to, strategy, Walk{});
}

}  // namespace tavo
