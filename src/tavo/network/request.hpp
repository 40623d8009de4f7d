#pragma once
// The request vocabulary shared by the engine's operations.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavo/network/config.hpp"
#include "tavo/network/definitions.hpp"

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

// Past 2^55 ms adding a cycle no longer advances a trial's clock (see scheduler/cycle_clock.hpp):
// a trial whose latency limit and time cutoff both lie beyond would never end either. Refuses
// that, with InvalidValue "{name} is beyond 2**55 ms, where a trial's clock stops advancing, and
// so is total_time_cutoff_ms", `name` being the argument that sets the trial's latency limit.
inline constexpr double kLargestLimitMs = 0x1p55;
void require_reachable_limit(double limit, double cutoff, std::string_view name);

struct NetworkTopologyPayload {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
};

}  // namespace tavo
