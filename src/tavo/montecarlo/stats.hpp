#pragma once
// Ensemble statistics and the inputs that produced them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"
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

}  // namespace tavo
