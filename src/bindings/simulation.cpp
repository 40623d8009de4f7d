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

SimulationResult new_simulation_result(bool success, double latency_ms, double final_fidelity,
                                       std::vector<std::string> execution_path) {
    return SimulationResult{success, latency_ms, final_fidelity, std::move(execution_path)};
}

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

const std::optional<PyMonteCarloContext>& get_context(const MonteCarloStats& stats) {
    return stats.context;
}
void set_context(MonteCarloStats& stats, std::optional<PyMonteCarloContext> context) {
    stats.context = std::move(context);
}

py::Dict<std::string, double> sensitivity(const MonteCarloStats& stats, std::uint64_t seed_base) {
    return {sensitivity_analysis(stats, seed_base)};
}

constexpr const char* kSensitivityDoc =
    "Perturb each simulation parameter \u00b110 %, re-run the ensemble, and report\n"
    "which parameters most influence `empirical_success_rate`.\n"
    "\n"
    "Returns a dict sorted by absolute impact (descending):\n"
    "  {\"memory_lifetime_t2:node_A\": 0.34, \"base_fidelity:link_0->link_B\": 0.28, ...}";

}  // namespace

py::Ref simulation_result_class(PyObject*) {
    return py::ClassBuilder<SimulationResult>("SimulationResult")
        .constructor<&new_simulation_result, "success", "latency_ms", "final_fidelity",
                     "execution_path">()
        .field<&SimulationResult::success>("success")
        .field<&SimulationResult::latency_ms>("latency_ms")
        .field<&SimulationResult::final_fidelity>("final_fidelity")
        .field<&SimulationResult::execution_path>("execution_path")
        .build();
}

py::Ref monte_carlo_context_class(PyObject*) {
    using C = PyMonteCarloContext;
    return py::ClassBuilder<C>("PyMonteCarloContext")
        .field<&C::seed>("seed")
        .property<&context_nodes, &set_context_nodes>("nodes")
        .property<&context_links, &set_context_links>("links")
        .field<&C::from_node>("from_node")
        .field<&C::to_node>("to_node")
        .field<&C::fidelity_target>("fidelity_target")
        .field<&C::max_latency_ms>("max_latency_ms")
        .field<&C::total_time_cutoff_ms>("total_time_cutoff_ms")
        .field<&C::step_resolution_ms>("step_resolution_ms")
        .field<&C::baseline_purify_factor>("baseline_purify_factor")
        .field<&C::strategy>("strategy")
        .field<&C::physics>("physics")
        .field<&C::speed_of_light_in_fiber_km_ms>("speed_of_light_in_fiber_km_ms")
        .pickled<&context_state, &context_from_state>()
        .build();
}

py::Ref monte_carlo_stats_class(PyObject*) {
    using S = MonteCarloStats;
    return py::ClassBuilder<S>("MonteCarloStats")
        .constructor<&new_monte_carlo_stats, "total_runs", "empirical_success_rate",
                     "mean_latency_ms", "mean_fidelity", "aggregate_congestion_drops",
                     "link_utilization_heatmap", "context">()
        .field<&S::total_runs>("total_runs")
        .field<&S::empirical_success_rate>("empirical_success_rate")
        .field<&S::mean_latency_ms>("mean_latency_ms")
        .field<&S::mean_fidelity>("mean_fidelity")
        .field<&S::aggregate_congestion_drops>("aggregate_congestion_drops")
        .field<&S::link_utilization_heatmap>("link_utilization_heatmap")
        .property<&get_context, &set_context>("_context")
        .unlocked_method<&sensitivity, "sensitivity_analysis", "seed_base">(kSensitivityDoc)
        .build();
}

}  // namespace bindings
