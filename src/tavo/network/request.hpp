#pragma once
// The request vocabulary shared by the engine's operations.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavo/network/config.hpp"
#include "tavo/network/definitions.hpp"
#include "tavo/record.hpp"

namespace tavo {

enum class StrategyType : std::uint8_t {
    LowestLatency = 0,
    HighestFidelity = 1,
    HighestSuccess = 2
};

inline constexpr EnumName<StrategyType> kStrategyTypeNames[] = {
    {StrategyType::LowestLatency, "LowestLatency"},
    {StrategyType::HighestFidelity, "HighestFidelity"},
    {StrategyType::HighestSuccess, "HighestSuccess"},
};

struct EntanglementRequest {
    std::string from_node;
    std::string to;
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;
    std::optional<StrategyType> strategy;
};

// A trial that can no longer succeed runs until its latency limit or the configuration's time
// cutoff; with +inf it would never end. These refuse a limit of +inf before anything runs, with
// InvalidValue "{name} must be finite" (NaN and -inf end a timeline at once and are accepted).
void require_finite_limit(double value, std::string_view name);
// The request's max_latency_ms, then the configuration's total_time_cutoff_ms; then, as
// require_reachable_limit, both together.
void require_finite_limits(const EntanglementRequest& request, const SimulationConfig& config);

// Past 2^55 ms adding a cycle no longer advances a cycle-model trial's clock (see
// scheduler/cycle_clock.hpp): a trial whose latency limit and time cutoff both lie beyond would
// never end either. Refuses that, with InvalidValue "{name} is beyond 2**55 ms, where a trial's
// clock stops advancing, and so is total_time_cutoff_ms", `name` being the argument that sets the
// trial's latency limit. The physical model's clock jumps from event to event and reaches any
// finite limit: a configuration with a model passes.
inline constexpr double kLargestLimitMs = 0x1p55;
void require_reachable_limit(double limit, const SimulationConfig& config, std::string_view name);

struct NetworkTopologyPayload {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
};

template <>
struct Fields<EntanglementRequest> {
    static constexpr std::string_view name = "EntanglementRequest";
    static constexpr std::string_view doc = R"(
        A request record: source, target, fidelity target, latency budget and strategy.

        A plain record for your own bookkeeping: no method takes it (request_entanglement and
        simulate take the same values as separate arguments). Nothing is checked when one is
        made.)";
    static constexpr auto list = std::tuple{
        field<&EntanglementRequest::from_node>({.name = "from_node", .doc = "Source node id."}),
        field<&EntanglementRequest::to>({.name = "to", .doc = "Target node id."}),
        field<&EntanglementRequest::fidelity_target>({
            .name = "fidelity_target",
            .doc = "Fidelity to reach, a fraction (1.0 is perfect).",
        }),
        field<&EntanglementRequest::max_latency_ms>({
            .name = "max_latency_ms",
            .doc = "Latency budget in ms.",
            .unit = "ms",
        }),
        field<&EntanglementRequest::strategy>({
            .name = "strategy",
            .doc = "Routing strategy, or None (a new object on reading).",
            .argument = "Routing strategy, or None for the default (HighestFidelity).",
        }),
    };
};

template <>
struct Fields<NetworkTopologyPayload> {
    static constexpr std::string_view name = "NetworkTopologyPayload";
    static constexpr std::string_view doc = R"(
        A pair of node and link definition lists, as generate_topology returns them.

        Pass payload.nodes and payload.links to TavoEngine.define_network. Reads return new lists
        of copies; assign whole lists to change them.)";
    static constexpr auto list = std::tuple{
        field<&NetworkTopologyPayload::nodes>({
            .name = "nodes",
            .doc = "The node definitions (a new list of copies).",
            .argument = "Node definitions, in order (copied).",
        }),
        field<&NetworkTopologyPayload::links>({
            .name = "links",
            .doc = "The link definitions (a new list of copies).",
            .argument = "Link definitions, in order (copied).",
        }),
    };
};

}  // namespace tavo
