#pragma once
// Node and link definitions: how a user describes a network to the engine.

#include <cstdint>
#include <optional>
#include <string>

#include "tavo/enum_name.hpp"

namespace tavo {

enum class LinkType : std::uint8_t { Fiber = 0, Satellite = 1 };

// Also the spelling of snapshot files.
inline constexpr EnumName<LinkType> kLinkTypeNames[] = {
    {LinkType::Fiber, "Fiber"},
    {LinkType::Satellite, "Satellite"},
};

struct SatelliteConditions {
    double visibility = 1.0;
    double weather_factor = 1.0;

    double effective_rate(double base_rate) const { return base_rate * visibility * weather_factor; }
};

struct NodeDefinition {
    std::string id;
    double memory_lifetime_t2 = 0.0;  // seconds
};

struct LinkDefinition {
    std::string from_node;
    std::string to;
    double distance_km = 0.0;
    double base_fidelity = 0.0;
    double generation_rate_hz = 0.0;
    LinkType link_type = LinkType::Fiber;
    std::optional<SatelliteConditions> satellite_conditions;
};

}  // namespace tavo
