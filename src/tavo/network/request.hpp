#pragma once
// The request vocabulary shared by the engine's operations.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

struct NetworkTopologyPayload {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
};

}  // namespace tavo
