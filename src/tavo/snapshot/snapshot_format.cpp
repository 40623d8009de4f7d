#include "tavo/snapshot/snapshot_format.hpp"

#include <array>

#include "json/mapping.hpp"

namespace tavo {
namespace {

using json::defaulted;
using json::F64Codec;
using json::ListCodec;
using json::RecordCodec;
using json::TextCodec;
using json::nullable;
using json::required;

struct MetadataSpec {
    using type = TopologyMetadata;
    static constexpr std::string_view name = "TopologyMetadata";
    static constexpr std::array<json::Field<type>, 2> fields = {
        required<&type::name, TextCodec>("name"),
        required<&type::version, TextCodec>("version"),
    };
};

struct NodeSpec {
    using type = NodeDefinition;
    static constexpr std::string_view name = "NodeDefinition";
    static constexpr std::array<json::Field<type>, 2> fields = {
        required<&type::id, TextCodec>("id"),
        required<&type::memory_lifetime_t2, F64Codec>("memoryLifetimeT2"),
    };
};

struct SatelliteSpec {
    using type = SatelliteConditions;
    static constexpr std::string_view name = "SatelliteConditions";
    static constexpr std::array<json::Field<type>, 2> fields = {
        required<&type::visibility, F64Codec>("visibility"),
        required<&type::weather_factor, F64Codec>("weatherFactor"),
    };
};

struct LinkSpec {
    using type = LinkDefinition;
    static constexpr std::string_view name = "LinkDefinition";
    static constexpr std::array<json::Field<type>, 7> fields = {
        required<&type::from_node, TextCodec>("fromNode"),
        required<&type::to, TextCodec>("to"),
        required<&type::distance_km, F64Codec>("distanceKm"),
        required<&type::base_fidelity, F64Codec>("baseFidelity"),
        required<&type::generation_rate_hz, F64Codec>("generationRateHz"),
        defaulted<&type::link_type, json::EnumCodec<kLinkTypeNames>>("linkType"),  // absent: Fiber
        nullable<&type::satellite_conditions, RecordCodec<SatelliteSpec>>("satelliteConditions"),
    };
};

struct ConfigSpec {
    using type = TopologyConfig;
    static constexpr std::string_view name = "TopologyConfig";
    static constexpr std::array<json::Field<type>, 2> fields = {
        required<&type::alpha_loss, F64Codec>("alphaLoss"),
        required<&type::gamma_swapping, F64Codec>("gammaSwapping"),
    };
};

struct SnapshotSpec {
    using type = TopologySnapshot;
    static constexpr std::string_view name = "TopologySnapshot";
    static constexpr std::array<json::Field<type>, 4> fields = {
        required<&type::metadata, RecordCodec<MetadataSpec>>("metadata"),
        required<&type::nodes, ListCodec<RecordCodec<NodeSpec>>>("nodes"),
        required<&type::links, ListCodec<RecordCodec<LinkSpec>>>("links"),
        required<&type::config, RecordCodec<ConfigSpec>>("config"),
    };
};

}  // namespace

TopologySnapshot parse_snapshot_document(std::string_view text) {
    return json::read_document<SnapshotSpec>(text);
}

std::string write_snapshot_document(const TopologySnapshot& snapshot) {
    return json::write_document<SnapshotSpec>(snapshot);
}

}  // namespace tavo
