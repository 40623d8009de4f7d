#include "tavo/routing/routing.hpp"

#include <cmath>
#include <cstddef>

namespace tavo {
namespace {

using Vertex = LinkIndex::Vertex;

double hop_score(StrategyType strategy, const InternalLink& link) {
    switch (strategy) {
        case StrategyType::LowestLatency: return link.distance_km;
        case StrategyType::HighestFidelity: return link.base_fidelity;
        default: return link.base_fidelity * link.generation_rate_hz;
    }
}

double start_score(StrategyType strategy) {
    return strategy == StrategyType::HighestFidelity ? 1.0 : 0.0;
}

double extend_score(StrategyType strategy, double score, const InternalLink& link) {
    return strategy == StrategyType::HighestFidelity ? score * hop_score(strategy, link)
                                                     : score + hop_score(strategy, link);
}

bool replaces_best(StrategyType strategy, double candidate, double best) {
    if (strategy == StrategyType::LowestLatency) return candidate < best;
    return std::isnan(candidate) || candidate >= best;
}

// Whether a partial path may be skipped: see the header for why this is exact, and when.
bool skippable(StrategyType strategy, double partial, double best) {
    return strategy == StrategyType::LowestLatency ? partial >= best : partial < best;
}

bool partial_scores_bound(const QuantumNetwork& network, StrategyType strategy) {
    for (const InternalLink& link : network.links()) {
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
                                StrategyType strategy, bool skip) {
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
    std::vector<const InternalLink*> hops;
    std::vector<double> scores{start_score(strategy)};
    std::vector<bool> on_path(index.vertex_count(), false);
    on_path[source] = true;

    bool found = false;
    double best_score = 0.0;
    std::vector<Vertex> best_path;
    std::vector<const InternalLink*> best_hops;

    while (!frames.empty()) {
        Frame& frame = frames.back();
        const auto edges = index.edges(frame.vertex);
        if (frame.next_edge == edges.size()) {
            on_path[frame.vertex] = false;
            frames.pop_back();
            if (!hops.empty()) hops.pop_back();
            scores.pop_back();
            continue;
        }
        const LinkIndex::Edge& edge = edges[frame.next_edge++];
        if (on_path[edge.neighbour]) continue;
        const double score = extend_score(strategy, scores.back(), *edge.joining);
        if (edge.neighbour == target) {
            if (!found || replaces_best(strategy, score, best_score)) {
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
        if (skip && found && skippable(strategy, score, best_score)) continue;
        on_path[edge.neighbour] = true;
        hops.push_back(edge.joining);
        scores.push_back(score);
        frames.push_back({edge.neighbour, 0});
    }
    if (!found) return std::nullopt;

    RouteInfo route;
    route.path.reserve(best_path.size());
    for (Vertex vertex : best_path) route.path.emplace_back(index.name(vertex));
    for (const InternalLink* link : best_hops) route.fidelity *= link->base_fidelity;
    route.links = std::move(best_hops);
    return route;
}

}  // namespace

std::optional<RouteInfo> find_route(const LinkIndex& index, std::string_view from,
                                    std::string_view to, StrategyType strategy) {
    return search(index, from, to, strategy, partial_scores_bound(index.network(), strategy));
}

std::optional<RouteInfo> find_route(const QuantumNetwork& network, std::string_view from,
                                    std::string_view to, StrategyType strategy) {
    return find_route(LinkIndex(network), from, to, strategy);
}

std::optional<RouteInfo> find_route_exhaustive(const QuantumNetwork& network, std::string_view from,
                                               std::string_view to, StrategyType strategy) {
    return search(LinkIndex(network), from, to, strategy, false);
}

}  // namespace tavo
