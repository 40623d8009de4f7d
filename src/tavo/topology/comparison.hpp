#pragma once
// One entanglement request simulated across several reference networks.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tavo/network/config.hpp"
#include "tavo/network/request.hpp"
#include "tavo/simulation/telemetry.hpp"

namespace tavo {

struct TopologyEndpoints {
    std::string topology_name;
    std::string from_node;
    std::string to_node;
};

struct TopologyComparisonResult {
    std::string topology_name;
    double success_rate = 0.0;
    double mean_fidelity = 0.0;
    double mean_latency_ms = 0.0;
    KeyedCounts link_utilization;
};

struct TopologyComparisonReport {
    std::uint64_t runs = 0;
    std::vector<TopologyComparisonResult> results;
    std::string summary;
    std::string source_node;
    std::string target_node;
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;
    std::string recommended_topology;
};

// Checks every endpoint's topology name and node ids before anything is simulated (InvalidValue
// otherwise), then simulates each endpoint's request in a fresh engine with `config` (the engine
// default unless given) and a clock-derived seed.
TopologyComparisonReport compare_topologies(
    const std::vector<TopologyEndpoints>& endpoints, double fidelity_target, double max_latency_ms,
    std::uint64_t runs, std::optional<StrategyType> strategy,
    const SimulationConfig& config = SimulationConfig::engine_default());

// The recommendation and summary of a set of results (also used on its own by tests).
std::string comparison_summary(const std::vector<TopologyComparisonResult>& results,
                               std::size_t* recommended);

}  // namespace tavo
