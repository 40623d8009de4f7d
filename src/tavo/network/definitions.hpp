#pragma once
// Node and link definitions: how a user describes a network to the engine.

#include <cstdint>
#include <optional>
#include <string>

#include "tavo/enum_name.hpp"
#include "tavo/record.hpp"

namespace tavo {

enum class LinkType : std::uint8_t { Fiber = 0, Satellite = 1 };

// Also the spelling of snapshot files.
inline constexpr EnumName<LinkType> kLinkTypeNames[] = {
    {LinkType::Fiber, "Fiber"},
    {LinkType::Satellite, "Satellite"},
};

template <>
struct JsonSpellings<LinkType> {
    static constexpr const auto& table = kLinkTypeNames;
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

// Snapshot files write these records with camelCase keys.

template <>
struct Fields<NodeDefinition> {
    static constexpr std::string_view name = "NodeDefinition";
    static constexpr std::string_view doc = R"(
        One node of a network definition: a quantum memory with an id and a coherence time.

        The memory lifetime is recorded (contexts, snapshots, the sensitivity analysis varies it);
        the cycle model does not read it, the physical model decays stored pairs with it.
        Nothing is checked when one is made.)";
    static constexpr auto list = std::tuple{
        field<&NodeDefinition::id>({
            .name = "id",
            .doc = "Node id, compared byte for byte. Within a network a later node with the same "
                   "id replaces it.",
        }),
        field<&NodeDefinition::memory_lifetime_t2>({
            .name = "memory_lifetime_t2",
            .doc = R"(
                Coherence time T2 of the node's memory in seconds (.tavo files give
                milliseconds). The physical model multiplies the Werner parameter of a pair
                by exp(-t / T2) for every qubit held t seconds here (+inf: no decay; it refuses
                0, negative and NaN); the cycle model does not use it.)",
            .unit = "s",
            .key = "memoryLifetimeT2",
        }),
    };
};

template <>
struct Fields<SatelliteConditions> {
    static constexpr std::string_view name = "SatelliteConditions";
    static constexpr std::string_view doc = R"(
        Visibility and weather factors of a satellite link.

        A LinkDefinition carries them and the engine's network keeps them. The physical model
        multiplies a satellite link's transmission by both (never its generation rate; absent
        conditions count as 1.0 and 1.0, values outside [0, 1] are refused); the cycle model
        does not read them. effective_rate computes the generation rate they would leave.
        Nothing is checked when one is made.)";
    static constexpr auto list = std::tuple{
        field<&SatelliteConditions::visibility>({
            .name = "visibility",
            .doc = "Visibility factor of the satellite, a fraction of 1.",
            .parameter = Parameter::Optional,
            .argument = "Visibility factor, a fraction; None: 1.0.",
        }),
        field<&SatelliteConditions::weather_factor>({
            .name = "weather_factor",
            .doc = "Weather factor, a fraction of 1.",
            .key = "weatherFactor",
            .parameter = Parameter::Optional,
            .argument = "Weather factor, a fraction; None: 1.0.",
        }),
    };
};

template <>
struct Fields<LinkDefinition> {
    static constexpr std::string_view name = "LinkDefinition";
    static constexpr std::string_view doc = R"(
        One link of a network definition: two node ids, a length, a base fidelity and a rate.

        Links carry no direction: a link from A to B serves B to A too. Nothing is checked here.
        Attribute reads return copies, and so do the lists that hold links: changing a link read
        from a list changes that copy only. Read, modify, write back:

            payload = tavo_core.generate_topology("repeater_chain")
            payload.links[0].distance_km = 150.0   # changes a copy: payload is unchanged
            links = payload.links
            links[0].distance_km = 150.0
            payload.links = links)";
    static constexpr auto list = std::tuple{
        field<&LinkDefinition::from_node>({
            .name = "from_node",
            .doc = "Id of one end of the link.",
            .key = "fromNode",
        }),
        field<&LinkDefinition::to>({
            .name = "to",
            .doc = "Id of the other end of the link.",
        }),
        field<&LinkDefinition::distance_km>({
            .name = "distance_km",
            .doc = R"(
                Length in km. Lowers the success probability of a generation attempt (see
                TavoEngine; on the physical model through the link's transmission), sets the
                propagation delay (and the physical model's heralding time), and is what
                LowestLatency routes minimise.)",
            .unit = "km",
            .key = "distanceKm",
        }),
        field<&LinkDefinition::base_fidelity>({
            .name = "base_fidelity",
            .doc = R"(
                Fidelity of a freshly generated pair, a fraction (1.0 is perfect). A route's
                fidelity is the product over its links; in the cycle model a link below the
                request's target also has a lower success probability. The physical model takes
                fresh pairs as Werner states of this fidelity and refuses values outside
                [0.25, 1].)",
            .key = "baseFidelity",
        }),
        field<&LinkDefinition::generation_rate_hz>({
            .name = "generation_rate_hz",
            .doc = R"(
                Entanglement generation rate in Hz. HighestSuccess routing reads it; so does
                the physical model, whose attempts are at least 1000 / rate ms apart. The cycle
                model's timeline does not.)",
            .unit = "Hz",
            .key = "generationRateHz",
        }),
        field<&LinkDefinition::link_type>({
            .name = "link_type",
            .doc = R"(
                Fiber or Satellite (a new LinkType object on every read). Changes no outcome of
                the cycle model; on the physical model a satellite link has a free-space loss
                and signals at the speed of light in vacuum.)",
            .key = "linkType",
            .json = JsonPresence::Defaulted,  // absent: Fiber
            .parameter = Parameter::Optional,
            .argument = "Fiber or Satellite; None: Fiber.",
        }),
        field<&LinkDefinition::satellite_conditions>({
            .name = "satellite_conditions",
            .doc = R"(
                Conditions of a satellite link, or None (a copy on reading). Kept by the engine's
                network; the physical model scales the transmission of a satellite link by them,
                the cycle model does not read them.)",
            .key = "satelliteConditions",
            .json = JsonPresence::Nullable,
            .argument = "Conditions of a satellite link, or None.",
        }),
    };
};

}  // namespace tavo
