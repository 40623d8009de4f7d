#include "tavo/files/tavo_format.hpp"

#include <array>

#include "json/mapping.hpp"

namespace tavo {
namespace {

using json::F64Codec;
using json::FreeValueCodec;
using json::ListCodec;
using json::RecordCodec;
using json::TextCodec;
using json::U32Codec;
using json::optional;
using json::required;

constexpr json::Spelling<TavoNodeType> kNodeTypes[] = {
    {TavoNodeType::Ground, "ground"},
    {TavoNodeType::Satellite, "satellite"},
    {TavoNodeType::Repeater, "repeater"},
};

constexpr json::Spelling<TavoLinkType> kLinkTypes[] = {
    {TavoLinkType::Fiber, "fiber"},
    {TavoLinkType::Satellite, "satellite"},
};

struct MetadataSpec {
    using type = TavoMetadata;
    static constexpr std::string_view name = "TavoMetadata";
    static constexpr std::array<json::Field<type>, 4> fields = {
        required<&type::name, TextCodec>("name"),
        optional<&type::description, TextCodec>("description"),
        optional<&type::author, TextCodec>("author"),
        optional<&type::created_at, TextCodec>("created_at"),
    };
};

struct NodeSpec {
    using type = TavoNode;
    static constexpr std::string_view name = "TavoNode";
    static constexpr std::array<json::Field<type>, 4> fields = {
        required<&type::id, TextCodec>("id"),
        optional<&type::memory_lifetime_ms, F64Codec>("memory_lifetime_ms"),
        optional<&type::memory_capacity, U32Codec>("memory_capacity"),
        optional<&type::node_type, json::EnumCodec<kNodeTypes>>("node_type"),
    };
};

struct SatelliteSpec {
    using type = TavoSatelliteExtension;
    static constexpr std::string_view name = "TavoSatelliteExtension";
    static constexpr std::array<json::Field<type>, 2> fields = {
        required<&type::visibility, F64Codec>("visibility"),
        required<&type::weather_factor, F64Codec>("weather_factor"),
    };
};

struct LinkSpec {
    using type = TavoLink;
    static constexpr std::string_view name = "TavoLink";
    static constexpr std::array<json::Field<type>, 8> fields = {
        optional<&type::id, TextCodec>("id"),
        required<&type::src, TextCodec>("from"),
        required<&type::to, TextCodec>("to"),
        required<&type::distance_km, F64Codec>("distance_km"),
        required<&type::base_fidelity, F64Codec>("base_fidelity"),
        required<&type::generation_rate_hz, F64Codec>("generation_rate_hz"),
        optional<&type::link_type, json::EnumCodec<kLinkTypes>>("link_type"),
        optional<&type::satellite, RecordCodec<SatelliteSpec>>("satellite"),
    };
};

struct ConfigSpec {
    using type = TavoConfig;
    static constexpr std::string_view name = "TavoConfig";
    static constexpr std::array<json::Field<type>, 4> fields = {
        optional<&type::alpha_loss, F64Codec>("alpha_loss"),
        optional<&type::beta_fidelity_decay, F64Codec>("beta_fidelity_decay"),
        optional<&type::gamma_swapping, F64Codec>("gamma_swapping"),
        optional<&type::max_attempts, U32Codec>("max_attempts"),
    };
};

struct ConstraintsSpec {
    using type = TavoConstraints;
    static constexpr std::string_view name = "TavoConstraints";
    static constexpr std::array<json::Field<type>, 2> fields = {
        optional<&type::fidelity_target, F64Codec>("fidelity_target"),
        optional<&type::max_latency_ms, F64Codec>("max_latency_ms"),
    };
};

struct ExtensionsSpec {
    using type = TavoExtensions;
    static constexpr std::string_view name = "TavoExtensions";
    static constexpr std::array<json::Field<type>, 1> fields = {
        optional<&type::custom, FreeValueCodec>("custom"),
    };
};

struct FileSpec {
    using type = TavoFile;
    static constexpr std::string_view name = "TavoFile";
    static constexpr std::array<json::Field<type>, 7> fields = {
        required<&type::version, TextCodec>("version"),
        required<&type::metadata, RecordCodec<MetadataSpec>>("metadata"),
        required<&type::nodes, ListCodec<RecordCodec<NodeSpec>>>("nodes"),
        required<&type::links, ListCodec<RecordCodec<LinkSpec>>>("links"),
        optional<&type::config, RecordCodec<ConfigSpec>>("config"),
        optional<&type::constraints, RecordCodec<ConstraintsSpec>>("constraints"),
        optional<&type::extensions, RecordCodec<ExtensionsSpec>>("extensions"),
    };
};

}  // namespace

TavoFile parse_tavo_document(std::string_view text) {
    return json::read_document<FileSpec>(text);
}

std::string write_tavo_document(const TavoFile& file, bool finite_only) {
    return json::write_document<FileSpec>(file, finite_only);
}

}  // namespace tavo
