#pragma once
// The records of a topology snapshot: an engine's network saved as JSON in the camelCase form of
// the network definitions.

#include <optional>
#include <string>
#include <vector>

#include "tavo/network/definitions.hpp"
#include "tavo/network/physical_model.hpp"
#include "tavo/record.hpp"

namespace tavo {

struct TopologyMetadata {
    std::string name;
    std::string version;
};

struct TopologyConfig {
    double alpha_loss = 0.2;
    double gamma_swapping = 0.85;
    std::optional<PhysicalModel> physics;
};

struct TopologySnapshot {
    TopologyMetadata metadata;
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    TopologyConfig config;
};

template <>
struct Fields<TopologyMetadata> {
    static constexpr std::string_view name = "TopologyMetadata";
    static constexpr std::string_view doc = "Name and version of a snapshot. No constructor.";
    static constexpr auto list = std::tuple{
        field<&TopologyMetadata::name>({
            .name = "name",
            .doc = "Name; \"exported_topology\" for an engine's snapshot.",
        }),
        field<&TopologyMetadata::version>({
            .name = "version",
            .doc = "Version text; \"1.0\" for an engine's snapshot.",
        }),
    };
};

template <>
struct Fields<TopologyConfig> {
    static constexpr std::string_view name = "TopologyConfig";
    static constexpr std::string_view doc =
        "Configuration values of a snapshot. No constructor; load_topology does not read them.";
    static constexpr auto list = std::tuple{
        field<&TopologyConfig::alpha_loss>({
            .name = "alpha_loss",
            .doc = "Fiber attenuation in dB/km: 10 times the engine's baseline_purify_factor.",
            .unit = "dB/km",
            .key = "alphaLoss",
        }),
        field<&TopologyConfig::gamma_swapping>({
            .name = "gamma_swapping",
            .doc = "The engine's baseline_purify_factor itself.",
            .key = "gammaSwapping",
        }),
        field<&TopologyConfig::physics>({
            .name = "physics",
            .doc = R"(
                The engine's physical model, or None for the cycle model (written to the file
                only when there is one).)",
            .json = JsonPresence::KeyedOptional,  // the array form keeps its old length
        }),
    };
};

template <>
struct Fields<TopologySnapshot> {
    static constexpr std::string_view name = "TopologySnapshot";
    static constexpr std::string_view doc = R"(
        An engine's network in snapshot form: metadata, nodes, links and config.

        TavoEngine.snapshot returns one; save_topology writes the same as JSON with camelCase
        keys. Not a module attribute at runtime (see the module documentation) and without a
        constructor.)";
    static constexpr auto list = std::tuple{
        field<&TopologySnapshot::metadata>({
            .name = "metadata",
            .doc = "Name and version (a copy on reading).",
        }),
        field<&TopologySnapshot::nodes>({
            .name = "nodes",
            .doc = "The nodes, in definition order (a new list of copies).",
        }),
        field<&TopologySnapshot::links>({
            .name = "links",
            .doc = R"(
                The links, in order, with their link types and satellite conditions (a new list
                of copies).)",
        }),
        field<&TopologySnapshot::config>({
            .name = "config",
            .doc = "The exported configuration values (a copy on reading).",
        }),
    };
};

}  // namespace tavo
