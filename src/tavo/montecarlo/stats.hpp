#pragma once
// Ensemble statistics and the inputs that produced them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"
#include "tavo/record.hpp"
#include "tavo/simulation/telemetry.hpp"

namespace tavo {

// The summary figures of one ensemble.
struct MonteCarloSummary {
    std::uint64_t total_runs = 0;
    double empirical_success_rate = 0.0;
    double mean_latency_ms = 0.0;
    double mean_fidelity = 0.0;
    std::uint64_t aggregate_congestion_drops = 0;
    KeyedCounts link_utilization_heatmap;
};

// Every input of one ensemble, enough to run it again with changed parameters. Nodes and links are
// the network's own records (link kinds and satellite conditions included); Python sees them as
// (id, memory_lifetime_t2) pairs and (from_node, to, distance_km, base_fidelity,
// generation_rate_hz) tuples.
struct PyMonteCarloContext {
    std::optional<std::uint64_t> seed;
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    std::string from_node;
    std::string to_node;
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;
    double total_time_cutoff_ms = 0.0;
    double step_resolution_ms = 0.0;
    double baseline_purify_factor = 0.0;
    std::optional<StrategyType> strategy;
    // The engine's physical model (none: the cycle model) and signal speed in fiber, which the
    // physical model's variants run with.
    std::optional<PhysicalModel> physics;
    double speed_of_light_in_fiber_km_ms = 200.0;
};

struct MonteCarloStats : MonteCarloSummary {
    std::optional<PyMonteCarloContext> context;
};

template <>
struct Fields<PyMonteCarloContext> {
    using C = PyMonteCarloContext;
    static constexpr std::string_view name = "PyMonteCarloContext";
    static constexpr std::string_view doc = R"(
        The inputs of one TavoEngine.simulate call, as MonteCarloStats._context holds them.

        Not a module attribute at runtime (see the module documentation) and without a
        constructor. Change a copy and assign it back to _context to change what
        sensitivity_analysis varies.)";
    static constexpr auto list = std::tuple{
        field<&C::seed>({
            .name = "seed",
            .doc = "The seed argument as given; None when the seed was taken from the clock.",
        }),
        // Python sees nodes as (id, memory_lifetime_t2) pairs and links as 5-tuples.
        field<&C::nodes>({
            .name = "nodes",
            .doc = R"(
                (id, memory_lifetime_t2 in s) for every node of the network, in definition order
                (a new list).)",
            .attribute = false,
        }),
        field<&C::links>({
            .name = "links",
            .doc = R"(
                (from_node, to, distance_km, base_fidelity, generation_rate_hz) for every link,
                in order (a new list). Link types and satellite conditions are kept for the
                sensitivity analysis but not shown; links assigned here are fiber links.)",
            .attribute = false,
        }),
        field<&C::from_node>({.name = "from_node", .doc = "Source node id of the request."}),
        field<&C::to_node>({
            .name = "to_node",
            .doc = "Target node id of the request (the argument `to`).",
        }),
        field<&C::fidelity_target>({
            .name = "fidelity_target",
            .doc = "Fidelity target of the request, a fraction.",
        }),
        field<&C::max_latency_ms>({
            .name = "max_latency_ms",
            .doc = "Latency budget of the request in ms.",
            .unit = "ms",
        }),
        field<&C::total_time_cutoff_ms>({
            .name = "total_time_cutoff_ms",
            .doc = "The engine's time cutoff of a trial, in ms.",
            .unit = "ms",
        }),
        field<&C::step_resolution_ms>({
            .name = "step_resolution_ms",
            .doc = "The engine's step_resolution_ms (not used).",
            .unit = "ms",
        }),
        field<&C::baseline_purify_factor>({
            .name = "baseline_purify_factor",
            .doc = "The engine's purification factor, a fraction (see PhysicalConfig).",
        }),
        field<&C::strategy>(
            {.name = "strategy", .doc = "The strategy argument as given, or None."}),
        field<&C::physics>({
            .name = "physics",
            .doc = R"(
                The engine's PhysicalModel, or None for the cycle model; the sensitivity
                analysis runs its variants on it.)",
        }),
        field<&C::speed_of_light_in_fiber_km_ms>({
            .name = "speed_of_light_in_fiber_km_ms",
            .doc = R"(
                The engine's signal speed in fiber, in km/ms; the variants of the physical
                model run with it (those of the cycle model with 200).)",
            .unit = "km/ms",
        }),
    };
};

template <>
struct Fields<MonteCarloStats> {
    using S = MonteCarloStats;
    static constexpr std::string_view name = "MonteCarloStats";
    static constexpr std::string_view doc = R"(
        Statistics of an ensemble of trials, as TavoEngine.simulate returns them.

        The constructor builds statistics by hand, checking nothing, for example to hold the sums
        of an ensemble run in chunks; they have no context unless one is given, and
        sensitivity_analysis needs it.)";
    static constexpr auto list = std::tuple{
        field<&S::total_runs>({.name = "total_runs", .doc = "Number of trials run."}),
        field<&S::empirical_success_rate>({
            .name = "empirical_success_rate",
            .doc = R"(
                Fraction of the trials that met the fidelity target in time, 0..1 (NaN for 0
                trials).)",
        }),
        field<&S::mean_latency_ms>({
            .name = "mean_latency_ms",
            .doc = R"(
                Simulated time of a trial in ms, averaged over all trials, failed ones included
                (NaN for 0 trials).)",
            .unit = "ms",
        }),
        field<&S::mean_fidelity>({
            .name = "mean_fidelity",
            .doc = R"(
                Delivered fidelity averaged over the successful trials only; 0.0 when none
                succeeded.)",
        }),
        field<&S::aggregate_congestion_drops>({
            .name = "aggregate_congestion_drops",
            .doc = R"(
                Failed generation attempts, counted from each trial's first cycle with a failed
                attempt to its end (such a trial no longer succeeds), summed over the trials. On
                the physical model: every failed attempt of every hop.)",
        }),
        field<&S::link_utilization_heatmap>({
            .name = "link_utilization_heatmap",
            .doc = R"(
                Generation attempts per hop, keyed "A->B" with the hop's nodes in route
                direction, summed over the trials (a new dict). Every cycle makes one attempt on
                each hop, so all hops of the route carry the same count. On the physical model
                each hop counts the attempts it began before its trial ended.)",
            .argument = "Generation attempts per hop \"A->B\" (copied).",
        }),
        field<&S::context>({
            .name = "_context",
            .doc = R"(
                The inputs of the ensemble (a copy on reading), or None. Assigning stores a copy;
                None removes it. sensitivity_analysis reads it.)",
            .argument = "The ensemble's inputs (copied), or None; becomes _context.",
        }),
    };
};

}  // namespace tavo
