#include "tavo/routing/routing.hpp"

#include <cmath>
#include <cstddef>
#include <string_view>
#include <unordered_map>

namespace tavo {
namespace {

// The network as integer-indexed adjacency, built once per search.
struct Graph {
    struct Edge {
        std::size_t neighbour;
        const InternalLink* joining;  // first link in list order joining the two endpoints
    };
    std::vector<std::string_view> names;
    std::vector<std::vector<Edge>> edges;  // per vertex, in reverse link order (search order)

    std::size_t vertex(std::unordered_map<std::string_view, std::size_t>& index,
                       std::string_view name) {
        auto [it, inserted] = index.emplace(name, names.size());
        if (inserted) {
            names.push_back(name);
            edges.emplace_back();
        }
        return it->second;
    }
};

Graph build_graph(const QuantumNetwork& network, std::string_view from, std::size_t& source) {
    Graph graph;
    std::unordered_map<std::string_view, std::size_t> index;
    source = graph.vertex(index, from);
    const auto& links = network.links();
    std::vector<std::pair<std::size_t, std::size_t>> ends(links.size());
    for (std::size_t i = 0; i < links.size(); ++i) {
        ends[i] = {graph.vertex(index, links[i].from), graph.vertex(index, links[i].to)};
    }
    // The joining link of each unordered pair is the first link listed between them.
    std::unordered_map<std::uint64_t, const InternalLink*> joining;
    auto pair_key = [](std::size_t a, std::size_t b) {
        if (a > b) std::swap(a, b);
        return (std::uint64_t(a) << 32) | std::uint64_t(b);
    };
    for (std::size_t i = 0; i < links.size(); ++i) {
        joining.emplace(pair_key(ends[i].first, ends[i].second), &links[i]);
    }
    for (std::size_t i = links.size(); i-- > 0;) {
        auto [a, b] = ends[i];
        if (a == b) continue;  // a self-loop never extends a simple path
        const InternalLink* link = joining.at(pair_key(a, b));
        graph.edges[a].push_back({b, link});
        graph.edges[b].push_back({a, link});
    }
    return graph;
}

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

}  // namespace

std::optional<RouteInfo> find_route(const QuantumNetwork& network, std::string_view from,
                                    std::string_view to, StrategyType strategy) {
    if (network.nodes().empty() || !network.has_node(from) || !network.has_node(to)) {
        return std::nullopt;
    }
    if (from == to) return RouteInfo{{std::string(from)}, 1.0};

    std::size_t source = 0;
    Graph graph = build_graph(network, from, source);

    // Depth-first walk with one frame per path position: the vertex and how far through its edge
    // list the walk has come. `scores[k]` is the score of the path's first k hops.
    struct Frame {
        std::size_t vertex;
        std::size_t next_edge;
    };
    std::vector<Frame> frames{{source, 0}};
    std::vector<const InternalLink*> hops;
    std::vector<double> scores{start_score(strategy)};
    std::vector<bool> on_path(graph.names.size(), false);
    on_path[source] = true;

    bool found = false;
    double best_score = 0.0;
    std::vector<std::size_t> best_path;

    while (!frames.empty()) {
        Frame& frame = frames.back();
        const auto& edges = graph.edges[frame.vertex];
        if (frame.next_edge == edges.size()) {
            on_path[frame.vertex] = false;
            frames.pop_back();
            if (!hops.empty()) hops.pop_back();
            scores.pop_back();
            continue;
        }
        const Graph::Edge& edge = edges[frame.next_edge++];
        if (on_path[edge.neighbour]) continue;
        double score = extend_score(strategy, scores.back(), *edge.joining);
        if (graph.names[edge.neighbour] == to) {
            if (!found || replaces_best(strategy, score, best_score)) {
                found = true;
                best_score = score;
                best_path.clear();
                for (const Frame& f : frames) best_path.push_back(f.vertex);
                best_path.push_back(edge.neighbour);
            }
            continue;
        }
        on_path[edge.neighbour] = true;
        hops.push_back(edge.joining);
        scores.push_back(score);
        frames.push_back({edge.neighbour, 0});
    }
    if (!found) return std::nullopt;

    RouteInfo route;
    route.path.reserve(best_path.size());
    for (std::size_t vertex : best_path) route.path.emplace_back(graph.names[vertex]);
    for (std::size_t i = 1; i < route.path.size(); ++i) {
        route.fidelity *= network.link_between(route.path[i - 1], route.path[i])->base_fidelity;
    }
    return route;
}

}  // namespace tavo
