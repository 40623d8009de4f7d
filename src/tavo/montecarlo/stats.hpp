#pragma once
// Ensemble statistics and the inputs that produced them.

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tavo/engine/request.hpp"
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

// Every input of one ensemble, enough to run it again with changed parameters.
struct PyMonteCarloContext {
    using Node = std::pair<std::string, double>;  // id, memory_lifetime_t2
    // from_node, to, distance_km, base_fidelity, generation_rate_hz
    using Link = std::tuple<std::string, std::string, double, double, double>;

    std::optional<std::uint64_t> seed;
    std::vector<Node> nodes;
    std::vector<Link> links;
    std::string from_node;
    std::string to_node;
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;
    double total_time_cutoff_ms = 0.0;
    double step_resolution_ms = 0.0;
    double baseline_purify_factor = 0.0;
    std::optional<StrategyType> strategy;
};

struct MonteCarloStats : MonteCarloSummary {
    std::optional<PyMonteCarloContext> context;
};

class TavoEngine;
// The context of an ensemble run on `engine`'s current network and configuration.
PyMonteCarloContext make_context(const TavoEngine& engine, const EntanglementRequest& request,
                                 std::optional<std::uint64_t> seed);

}  // namespace tavo
