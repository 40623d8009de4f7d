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
// The request's max_latency_ms, then the configuration's total_time_cutoff_ms.
void require_finite_limits(const EntanglementRequest& request, const SimulationConfig& config);

struct NetworkTopologyPayload {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
};

}  // namespace tavo
