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
#include "tavo/network/physical_model.hpp"
#include "tavo/record.hpp"

namespace tavo {

enum class TavoNodeType : std::uint8_t { Ground, Satellite, Repeater };

inline constexpr EnumName<TavoNodeType> kTavoNodeTypeNames[] = {
    {TavoNodeType::Ground, "Ground"},
    {TavoNodeType::Satellite, "Satellite"},
    {TavoNodeType::Repeater, "Repeater"},
};

// The file's spellings.
inline constexpr EnumName<TavoNodeType> kTavoNodeTypeSpellings[] = {
    {TavoNodeType::Ground, "ground"},
    {TavoNodeType::Satellite, "satellite"},
    {TavoNodeType::Repeater, "repeater"},
};

template <>
struct JsonSpellings<TavoNodeType> {
    static constexpr const auto& table = kTavoNodeTypeSpellings;
};

enum class TavoLinkType : std::uint8_t { Fiber, Satellite };

inline constexpr EnumName<TavoLinkType> kTavoLinkTypeNames[] = {
    {TavoLinkType::Fiber, "Fiber"},
    {TavoLinkType::Satellite, "Satellite"},
};

inline constexpr EnumName<TavoLinkType> kTavoLinkTypeSpellings[] = {
    {TavoLinkType::Fiber, "fiber"},
    {TavoLinkType::Satellite, "satellite"},
};

template <>
struct JsonSpellings<TavoLinkType> {
    static constexpr const auto& table = kTavoLinkTypeSpellings;
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
    std::optional<PhysicalModel> physics;  // the engine plays requests on this model

    friend bool operator==(const TavoConfig&, const TavoConfig&) = default;
};

struct TavoConstraints {
    std::optional<double> fidelity_target;
    std::optional<double> max_latency_ms;

    friend bool operator==(const TavoConstraints&, const TavoConstraints&) = default;
};

// The format knows one field of the extensions section, `custom`; reading skips the others, as it
// does in every record. A file loaded for its user also keeps the whole section as it was written
// (`section`), which is then written back in place of the fields: nothing of it is lost on the way
// through Python.
struct TavoExtensions {
    std::optional<json::Value> custom;   // any JSON value; JSON null reads as nothing
    std::optional<json::Value> section;  // the whole section (an object), when it is known

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

template <>
struct Fields<TavoMetadata> {
    static constexpr std::string_view name = "TavoMetadata";
    static constexpr std::string_view doc = "The metadata section of a .tavo file.";
    static constexpr auto list = std::tuple{
        field<&TavoMetadata::name>({.name = "name", .doc = "Name of the network."}),
        field<&TavoMetadata::description>({.name = "description", .doc = "Free text, or None."}),
        field<&TavoMetadata::author>({.name = "author", .doc = "Free text, or None."}),
        field<&TavoMetadata::created_at>({
            .name = "created_at",
            .doc = "A date as free text (not parsed), or None.",
        }),
    };
};

template <>
struct Fields<TavoNode> {
    static constexpr std::string_view name = "TavoNode";
    static constexpr std::string_view doc = "A node entry of a .tavo file; nothing is checked.";
    static constexpr auto list = std::tuple{
        field<&TavoNode::id>({
            .name = "id",
            .doc = "Node id.",
            .argument = "Node id; loading refuses duplicates.",
        }),
        field<&TavoNode::memory_lifetime_ms>({
            .name = "memory_lifetime_ms",
            .doc = R"(
                Memory lifetime in ms, or None. An engine takes it in seconds (divided by 1000;
                1 s when None); the physical model decays stored pairs with it, the cycle
                model does not use it.)",
            .unit = "ms",
        }),
        field<&TavoNode::memory_capacity>({
            .name = "memory_capacity",
            .doc = R"(
                Number of memory slots, 0..4294967295, or None (other values raise
                OverflowError). Recorded only.)",
        }),
        field<&TavoNode::node_type>({
            .name = "node_type",
            .doc = "Ground, Satellite or Repeater, or None. Recorded only.",
        }),
    };
};

template <>
struct Fields<TavoSatelliteExtension> {
    static constexpr std::string_view name = "TavoSatelliteExtension";
    static constexpr std::string_view doc = R"(
        The satellite section of a link entry: visibility and weather factors.

        No simulated effect. Nothing is checked when one is made.)";
    static constexpr auto list = std::tuple{
        field<&TavoSatelliteExtension::visibility>({
            .name = "visibility",
            .doc = "Visibility factor of the satellite, a fraction of 1.",
            .parameter = Parameter::Optional,
            .argument = "Visibility factor, a fraction; None: 1.0.",
        }),
        field<&TavoSatelliteExtension::weather_factor>({
            .name = "weather_factor",
            .doc = "Weather factor, a fraction of 1.",
            .parameter = Parameter::Optional,
            .argument = "Weather factor, a fraction; None: 1.0.",
        }),
    };
};

template <>
struct Fields<TavoLink> {
    static constexpr std::string_view name = "TavoLink";
    static constexpr std::string_view doc = R"(
        A link entry of a .tavo file; nothing is checked. The JSON key of src is "from". Links
        carry no direction.)";
    static constexpr auto list = std::tuple{
        // Python sees a text: "" for a link without one.
        field<&TavoLink::id>({
            .name = "id",
            .doc = "Link id (\"\" for a loaded link that had none).",
            .parameter = Parameter::Required,
            .argument = "Link id (\"\" writes an empty id).",
            .attribute = false,
        }),
        field<&TavoLink::src>({
            .name = "src",
            .doc = "Id of one end node (JSON key \"from\").",
            .key = "from",
        }),
        field<&TavoLink::to>({.name = "to", .doc = "Id of the other end node."}),
        field<&TavoLink::distance_km>({
            .name = "distance_km",
            .doc = "Length in km; loading requires > 0.",
            .unit = "km",
        }),
        field<&TavoLink::base_fidelity>({
            .name = "base_fidelity",
            .doc = "Fidelity of a freshly generated pair, a fraction; loading requires 0 < f <= 1.",
        }),
        field<&TavoLink::generation_rate_hz>({
            .name = "generation_rate_hz",
            .doc = "Generation rate in Hz; loading requires > 0.",
            .unit = "Hz",
        }),
        field<&TavoLink::link_type>({
            .name = "link_type",
            .doc = "Fiber or Satellite, or None (Fiber in an engine).",
        }),
        field<&TavoLink::satellite>({
            .name = "satellite",
            .doc = "Visibility and weather factors of a satellite link, or None (copied).",
        }),
    };
};

template <>
struct Fields<TavoConfig> {
    static constexpr std::string_view name = "TavoConfig";
    static constexpr std::string_view doc = R"(
        The config section of a .tavo file: from_tavo_file reads alpha_loss and max_attempts.)";
    static constexpr auto list = std::tuple{
        field<&TavoConfig::alpha_loss>({
            .name = "alpha_loss",
            .doc = R"(
                Fiber attenuation in dB/km, or None: from_tavo_file sets baseline_purify_factor
                to a tenth of it (0.22 when None).)",
            .unit = "dB/km",
        }),
        field<&TavoConfig::beta_fidelity_decay>({
            .name = "beta_fidelity_decay",
            .doc = "A fidelity decay parameter, or None. Recorded only.",
        }),
        field<&TavoConfig::gamma_swapping>({
            .name = "gamma_swapping",
            .doc = "A swapping parameter, or None. Recorded only.",
        }),
        field<&TavoConfig::max_attempts>({
            .name = "max_attempts",
            .doc = R"(
                Attempt limit, 0..4294967295, or None: from_tavo_file sets total_time_cutoff_ms
                to 50 ms times it (5000 ms when None).)",
        }),
        field<&TavoConfig::physics>({
            .name = "physics",
            .doc = R"(
                The physical model the engine from_tavo_file builds plays requests on, or None
                for the cycle model. In the file, an object with the PhysicalModel field names
                ("scheme": "direct" or "midpoint"); absent or null fields take the defaults, and
                a file without it reads and saves as before.)",
            .json = JsonPresence::KeyedOptional,  // the array form keeps its old length
        }),
    };
};

template <>
struct Fields<TavoConstraints> {
    static constexpr std::string_view name = "TavoConstraints";
    static constexpr std::string_view doc = R"(
        The constraints section of a .tavo file: a fidelity target and a latency budget.

        Recorded only: no operation applies them. Compares with == and != (equal when both
        fields are equal, None with None; NaN never equal).)";
    static constexpr auto list = std::tuple{
        field<&TavoConstraints::fidelity_target>({
            .name = "fidelity_target",
            .doc = "Fidelity target, a fraction, or None.",
        }),
        field<&TavoConstraints::max_latency_ms>({
            .name = "max_latency_ms",
            .doc = "Latency budget in ms, or None.",
            .unit = "ms",
        }),
    };
};

template <>
struct Fields<TavoExtensions> {
    static constexpr std::string_view name = "TavoExtensions";
    static constexpr std::string_view doc = "The free-form extensions section of a .tavo file.";
    static constexpr auto list = std::tuple{
        field<&TavoExtensions::custom>({.name = "custom", .doc = "Any JSON value, or nothing."}),
        field<&TavoExtensions::section>({
            .name = "section",
            .doc = "The whole section as written, unknown keys included, or nothing.",
            .json = JsonPresence::Omitted,
        }),
    };
};

template <>
struct Fields<TavoFile> {
    static constexpr std::string_view name = "TavoFile";
    static constexpr std::string_view doc = R"(
        A .tavo topology file in memory: version, metadata, nodes, links and optional sections.

        Build one with TavoFile(name), add_node and add_link, or read one with load_tavo_file;
        write it with save. Nothing is checked until a file is loaded (see validate). Attribute
        reads return copies: tf.links[0].distance_km = 99 changes a copy and leaves tf as it was.
        Read, modify, write back:

            links = tf.links
            links[0].distance_km = 99.0
            tf.links = links)";
    static constexpr auto list = std::tuple{
        field<&TavoFile::version>({
            .name = "version",
            .doc = "Format version; \"1.0\", the only one loading accepts.",
        }),
        field<&TavoFile::metadata>({
            .name = "metadata",
            .doc = "Name, description, author and date (a copy on reading).",
        }),
        field<&TavoFile::nodes>({
            .name = "nodes",
            .doc = R"(
                The node entries (a new list of copies); assign a sequence of TavoNode to replace
                them.)",
        }),
        field<&TavoFile::links>({
            .name = "links",
            .doc = R"(
                The link entries (a new list of copies); assign a sequence of TavoLink to replace
                them.)",
        }),
        field<&TavoFile::config>({
            .name = "config",
            .doc = "Simulation settings that from_tavo_file reads, or None (a copy on reading).",
        }),
        field<&TavoFile::constraints>({
            .name = "constraints",
            .doc = R"(
                A fidelity target and a latency budget for requests, or None (a copy on reading).
                Recorded only: no operation applies them.)",
        }),
        field<&TavoFile::extensions>({
            .name = "extensions",
            .doc = R"(
                The free-form extensions section as plain data: a dict (every key of the file's
                section; "custom" is the one the format names), or None for no section. It holds
                the very object assigned (not a copy); saving writes it as the section and
                refuses what has no JSON form (TypeError naming where it sits).)",
            .attribute = false,
        }),
    };
};

}  // namespace tavo
