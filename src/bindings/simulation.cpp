// Results and statistics of requests and ensembles.

#include "core_types.hpp"
#include "py/class_builder.hpp"
#include "registry.hpp"
#include "tavo/montecarlo/sensitivity.hpp"
#include "tavo/montecarlo/stats.hpp"
#include "tavo/scheduler/result.hpp"

namespace bindings {
namespace {

using namespace tavo;

MonteCarloStats new_monte_carlo_stats(std::uint64_t total_runs, double empirical_success_rate,
                                      double mean_latency_ms, double mean_fidelity,
                                      std::uint64_t aggregate_congestion_drops,
                                      KeyedCounts link_utilization_heatmap,
                                      std::optional<PyMonteCarloContext> context) {
    MonteCarloStats stats;
    stats.total_runs = total_runs;
    stats.empirical_success_rate = empirical_success_rate;
    stats.mean_latency_ms = mean_latency_ms;
    stats.mean_fidelity = mean_fidelity;
    stats.aggregate_congestion_drops = aggregate_congestion_drops;
    stats.link_utilization_heatmap = std::move(link_utilization_heatmap);
    stats.context = std::move(context);
    return stats;
}

// Python sees a context's nodes as (id, memory_lifetime_t2) pairs and its links as (from_node, to,
// distance_km, base_fidelity, generation_rate_hz) tuples; links assigned from Python are fiber
// links.
using NodeView = std::pair<std::string, double>;
using LinkView = std::tuple<std::string, std::string, double, double, double>;

std::vector<NodeView> context_nodes(const PyMonteCarloContext& context) {
    std::vector<NodeView> nodes;
    nodes.reserve(context.nodes.size());
    for (const auto& node : context.nodes) nodes.emplace_back(node.id, node.memory_lifetime_t2);
    return nodes;
}

void set_context_nodes(PyMonteCarloContext& context, std::vector<NodeView> nodes) {
    context.nodes.clear();
    for (auto& [id, t2] : nodes) context.nodes.push_back(NodeDefinition{std::move(id), t2});
}

std::vector<LinkView> context_links(const PyMonteCarloContext& context) {
    std::vector<LinkView> links;
    links.reserve(context.links.size());
    for (const auto& link : context.links) {
        links.emplace_back(link.from_node, link.to, link.distance_km, link.base_fidelity,
                           link.generation_rate_hz);
    }
    return links;
}

void set_context_links(PyMonteCarloContext& context, std::vector<LinkView> links) {
    context.links.clear();
    for (auto& [from, to, distance, fidelity, rate] : links) {
        context.links.push_back(LinkDefinition{std::move(from), std::move(to), distance, fidelity,
                                               rate, LinkType::Fiber, std::nullopt});
    }
}

// A context pickles as its full records, so that link kinds and satellite conditions, which the
// tuples of the links attribute leave out, survive the round trip.
using ContextState =
    std::tuple<std::optional<std::uint64_t>, std::vector<NodeDefinition>,
               std::vector<LinkDefinition>, std::string, std::string, double, double, double,
               double, double, std::optional<StrategyType>, std::optional<PhysicalModel>, double>;

ContextState context_state(const PyMonteCarloContext& c) {
    return {c.seed,
            c.nodes,
            c.links,
            c.from_node,
            c.to_node,
            c.fidelity_target,
            c.max_latency_ms,
            c.total_time_cutoff_ms,
            c.step_resolution_ms,
            c.baseline_purify_factor,
            c.strategy,
            c.physics,
            c.speed_of_light_in_fiber_km_ms};
}

PyMonteCarloContext context_from_state(ContextState state) {
    PyMonteCarloContext c;
    std::tie(c.seed, c.nodes, c.links, c.from_node, c.to_node, c.fidelity_target, c.max_latency_ms,
             c.total_time_cutoff_ms, c.step_resolution_ms, c.baseline_purify_factor, c.strategy,
             c.physics, c.speed_of_light_in_fiber_km_ms) = std::move(state);
    return c;
}

py::Dict<std::string, double> sensitivity(const MonteCarloStats& stats, std::uint64_t seed_base) {
    return {sensitivity_analysis(stats, seed_base)};
}

constexpr std::string_view kSensitivityDoc = R"doc(
    Perturb each simulation parameter ±10 %, re-run the ensemble, and report
    which parameters most influence `empirical_success_rate`.

    Returns a dict sorted by absolute impact (descending):
      {"memory_lifetime_t2:node_A": 0.34, "base_fidelity:link_0->link_B": 0.28, ...}

    Rank the network's parameters by how much a change of 10 % moves the success rate.

    Every parameter of _context (each node's memory_lifetime_t2; each link's distance_km,
    base_fidelity and generation_rate_hz; and alpha_loss_db_km, which sets the purification
    factor to 0.018 and 0.022) is lowered and raised by 10 % in a fresh engine, with the
    context's links (kinds and satellite conditions included) and a signal speed of 200 km/ms,
    and an ensemble of 200 trials (50 per node for more than 4 nodes) runs for each variant.
    When the context holds a PhysicalModel the variants run on it at the context's signal
    speed; alpha_loss_db_km then scales the model's fiber_loss_db_km (x 0.9 and x 1.1), and a
    scaled base_fidelity is kept within [0.25, 1]. Common random numbers: lowered variants run on
    seed_base and raised ones on seed_base + 1, each compared with the unchanged network on
    the same seed. Impact = (|raised - unchanged| + |lowered - unchanged|) divided by
    empirical_success_rate, or 0.0 when that rate is below 0.01. A parameter that changes
    neither the route nor the timeline scores exactly 0.0: on the cycle model memory lifetimes
    always, generation rates unless the strategy is HighestSuccess. The same seed_base gives
    the same ranking. Runs 2 * (nodes + 3 * links + 1) + 2 ensembles.

    Args:
        seed_base: Seed of the comparisons, 0 <= seed_base < 2**64.

    Returns:
        A new dict from parameter to impact (a float >= 0), largest impact first; equal impacts
        keep the order nodes, links, alpha_loss_db_km. Keys: "memory_lifetime_t2:{node}",
        "distance_km:{from}->{to}", "base_fidelity:{from}->{to}",
        "generation_rate_hz:{from}->{to}" and "alpha_loss_db_km"; links listed twice between
        the same two nodes in the same direction share one key.

    Raises:
        ValueError: the statistics have no context ("No simulation context available.
            ...").)doc";

}  // namespace

py::Ref simulation_result_class(PyObject*) {
    return py::ClassBuilder<SimulationResult>("SimulationResult")
        .record()
        .record_constructor()
        .build();
}

py::Ref monte_carlo_context_class(PyObject*) {
    using C = PyMonteCarloContext;
    return py::ClassBuilder<C>("PyMonteCarloContext")
        .own_attribute<&context_nodes, &set_context_nodes>("nodes")
        .own_attribute<&context_links, &set_context_links>("links")
        .record()
        .pickled<&context_state, &context_from_state>()
        .build();
}

py::Ref monte_carlo_stats_class(PyObject*) {
    using S = MonteCarloStats;
    return py::ClassBuilder<S>("MonteCarloStats")
        .record()
        // The context is the parameter `context` but the attribute `_context`.
        .constructor<&new_monte_carlo_stats, "total_runs", "empirical_success_rate",
                     "mean_latency_ms", "mean_fidelity", "aggregate_congestion_drops",
                     "link_utilization_heatmap", "context">(R"(
            Args:
                total_runs: Number of trials.
                empirical_success_rate: Fraction of the trials that succeeded.
                mean_latency_ms: Mean trial time over all trials, in ms.
                mean_fidelity: Mean delivered fidelity over the successful trials.
                aggregate_congestion_drops: Failed generation attempts (see the attribute).
                link_utilization_heatmap: Generation attempts per hop "A->B" (copied).
                context: The ensemble's inputs (copied), or None; becomes _context.)")
        .unlocked_method<&sensitivity, "sensitivity_analysis", "seed_base">(kSensitivityDoc)
        .build();
}

}  // namespace bindings
