#pragma once
// The records of a topology file (.tavo). Plain values: every record owns its texts and lists, and
// copying a record copies everything. Field order is declaration order, which is also the order in
// which the file writer emits keys. Optional fields hold nothing when the file leaves them out.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/value.hpp"
#include "tavo/enum_name.hpp"

namespace tavo {

enum class TavoNodeType : std::uint8_t { Ground, Satellite, Repeater };

inline constexpr EnumName<TavoNodeType> kTavoNodeTypeNames[] = {
    {TavoNodeType::Ground, "Ground"},
    {TavoNodeType::Satellite, "Satellite"},
    {TavoNodeType::Repeater, "Repeater"},
};

enum class TavoLinkType : std::uint8_t { Fiber, Satellite };

inline constexpr EnumName<TavoLinkType> kTavoLinkTypeNames[] = {
    {TavoLinkType::Fiber, "Fiber"},
    {TavoLinkType::Satellite, "Satellite"},
};

struct TavoMetadata {
    std::string name;
    std::optional<std::string> description;
    std::optional<std::string> author;
    std::optional<std::string> created_at;  // free text, not parsed as a date

    friend bool operator==(const TavoMetadata&, const TavoMetadata&) = default;
};

struct TavoNode {
    std::string id;
    std::optional<double> memory_lifetime_ms;
    std::optional<std::uint32_t> memory_capacity;
    std::optional<TavoNodeType> node_type;

    friend bool operator==(const TavoNode&, const TavoNode&) = default;
};

struct TavoSatelliteExtension {
    double visibility = 1.0;
    double weather_factor = 1.0;

    double effective_rate(double base_rate) const {
        return (base_rate * visibility) * weather_factor;
    }

    friend bool operator==(const TavoSatelliteExtension&, const TavoSatelliteExtension&) = default;
};

struct TavoLink {
    std::optional<std::string> id;
    std::string src;  // the JSON key is "from"
    std::string to;
    double distance_km = 0.0;
    double base_fidelity = 0.0;
    double generation_rate_hz = 0.0;
    std::optional<TavoLinkType> link_type;
    std::optional<TavoSatelliteExtension> satellite;

    friend bool operator==(const TavoLink&, const TavoLink&) = default;
};

struct TavoConfig {
    std::optional<double> alpha_loss;
    std::optional<double> beta_fidelity_decay;
    std::optional<double> gamma_swapping;
    std::optional<std::uint32_t> max_attempts;

    friend bool operator==(const TavoConfig&, const TavoConfig&) = default;
};

struct TavoConstraints {
    std::optional<double> fidelity_target;
    std::optional<double> max_latency_ms;

    friend bool operator==(const TavoConstraints&, const TavoConstraints&) = default;
};

struct TavoExtensions {
    std::optional<json::Value> custom;  // any JSON value; JSON null reads as nothing

    friend bool operator==(const TavoExtensions&, const TavoExtensions&) = default;
};

struct TavoFile {
    std::string version;
    TavoMetadata metadata;
    std::vector<TavoNode> nodes;
    std::vector<TavoLink> links;
    std::optional<TavoConfig> config;
    std::optional<TavoConstraints> constraints;
    std::optional<TavoExtensions> extensions;

    friend bool operator==(const TavoFile&, const TavoFile&) = default;
};

}  // namespace tavo
