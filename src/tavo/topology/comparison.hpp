#pragma once
// One entanglement request simulated across several reference networks.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tavo/network/config.hpp"
#include "tavo/network/request.hpp"
#include "tavo/record.hpp"
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

template <>
struct Fields<TopologyEndpoints> {
    static constexpr std::string_view name = "TopologyEndpoints";
    static constexpr std::string_view doc = R"(
        A reference topology by name with the source and target node ids of a request in it.

        Names and their node ids: "telecom_backbone" or "fiber_only" (A to F), "repeater_chain"
        (N0 to N3), "hybrid_satellite_fiber" or "hybrid" (Toronto, Montreal, London, SAT-1).
        Nothing is checked until compare_topologies runs.)";
    static constexpr auto list = std::tuple{
        field<&TopologyEndpoints::topology_name>({
            .name = "topology_name",
            .doc = "Name of a reference topology.",
        }),
        field<&TopologyEndpoints::from_node>({
            .name = "from_node",
            .doc = "Source node id in that topology.",
        }),
        field<&TopologyEndpoints::to_node>({
            .name = "to_node",
            .doc = "Target node id in that topology.",
        }),
    };
};

template <>
struct Fields<TopologyComparisonResult> {
    using R = TopologyComparisonResult;
    static constexpr std::string_view name = "TopologyComparisonResult";
    static constexpr std::string_view doc =
        "One topology's figures in a TopologyComparisonReport. No constructor.";
    static constexpr auto list = std::tuple{
        field<&R::topology_name>({
            .name = "topology_name",
            .doc = "The name as given in the endpoints (e.g. \"hybrid\", not its canonical name).",
        }),
        field<&R::success_rate>({
            .name = "success_rate",
            .doc = "The ensemble's empirical_success_rate, a fraction 0..1.",
        }),
        field<&R::mean_fidelity>({
            .name = "mean_fidelity",
            .doc = "The ensemble's mean_fidelity (successful trials only; 0.0 when none).",
        }),
        field<&R::mean_latency_ms>({
            .name = "mean_latency_ms",
            .doc = "The ensemble's mean_latency_ms, in ms.",
            .unit = "ms",
        }),
        field<&R::link_utilization>({
            .name = "link_utilization",
            .doc = R"(
                The ensemble's link_utilization_heatmap: attempts per hop "A->B" (a new
                dict).)",
        }),
    };
};

template <>
struct Fields<TopologyComparisonReport> {
    using R = TopologyComparisonReport;
    static constexpr std::string_view name = "TopologyComparisonReport";
    static constexpr std::string_view doc = R"(
        What compare_topologies returns: one result per endpoint and a recommendation.

        No constructor.)";
    static constexpr auto list = std::tuple{
        field<&R::runs>({.name = "runs", .doc = "Trials per topology."}),
        field<&R::results>({
            .name = "results",
            .doc = R"(
                One TopologyComparisonResult per endpoint, in endpoint order (a new list of
                copies).)",
        }),
        field<&R::summary>({
            .name = "summary",
            .doc = R"(
                One paragraph: the number of topologies, the recommendation, the best success
                rate (percent, truncated) and the lowest mean latency with their topologies, and
                the mean fidelity; "No topologies evaluated" without endpoints.)",
        }),
        field<&R::source_node>({
            .name = "source_node",
            .doc = "Source node of the first endpoint (\"\" if none).",
        }),
        field<&R::target_node>({
            .name = "target_node",
            .doc = "Target node of the first endpoint (\"\" if none).",
        }),
        field<&R::fidelity_target>({
            .name = "fidelity_target",
            .doc = "The fidelity target given, a fraction.",
        }),
        field<&R::max_latency_ms>({
            .name = "max_latency_ms",
            .doc = "The latency budget given, in ms.",
            .unit = "ms",
        }),
        field<&R::recommended_topology>({
            .name = "recommended_topology",
            .doc = R"(
                topology_name of the result with the highest success rate (the later one on a
                tie), or "unknown" without endpoints.)",
        }),
    };
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
