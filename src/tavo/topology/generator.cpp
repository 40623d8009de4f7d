#include "tavo/topology/generator.hpp"

#include <string>

#include "tavo/error.hpp"

namespace tavo {
namespace {

LinkDefinition fiber(const char* from, const char* to, double distance_km, double base_fidelity,
                     double generation_rate_hz) {
    return LinkDefinition{from, to, distance_km, base_fidelity, generation_rate_hz, LinkType::Fiber,
                          std::nullopt};
}

LinkDefinition satellite(const char* from, const char* to, double distance_km,
                         double base_fidelity, double generation_rate_hz, double visibility,
                         double weather_factor) {
    return LinkDefinition{from,
                          to,
                          distance_km,
                          base_fidelity,
                          generation_rate_hz,
                          LinkType::Satellite,
                          SatelliteConditions{visibility, weather_factor}};
}

}  // namespace

NetworkTopologyPayload telecom::build() {
    return NetworkTopologyPayload{
        {{"A", 120.0}, {"B", 150.0}, {"C", 200.0}, {"D", 200.0}, {"E", 250.0}, {"F", 180.0}},
        {
            fiber("A", "B", 5.0, 0.97, 2000.0),
            fiber("B", "C", 80.0, 0.93, 1200.0),
            fiber("C", "D", 600.0, 0.88, 600.0),
            fiber("D", "E", 5500.0, 0.75, 150.0),
            fiber("C", "F", 900.0, 0.91, 500.0),
            fiber("F", "E", 4800.0, 0.80, 200.0),
            fiber("B", "F", 1200.0, 0.85, 400.0),
        }};
}

NetworkTopologyPayload repeater_chain::build(std::size_t n) {
    NetworkTopologyPayload payload;
    for (std::size_t i = 0; i < n; ++i) payload.nodes.push_back({"N" + std::to_string(i), 150.0});
    for (std::size_t i = 0; i + 1 < n; ++i) {
        payload.links.push_back(LinkDefinition{payload.nodes[i].id, payload.nodes[i + 1].id, 100.0,
                                               0.92, 800.0, LinkType::Fiber, std::nullopt});
    }
    return payload;
}

NetworkTopologyPayload hybrid::build() {
    return NetworkTopologyPayload{
        {{"Toronto", 150.0}, {"Montreal", 180.0}, {"London", 220.0}, {"SAT-1", 300.0}},
        {
            fiber("Toronto", "Montreal", 500.0, 0.90, 1000.0),
            fiber("Montreal", "London", 5500.0, 0.75, 200.0),
            satellite("Toronto", "SAT-1", 1000.0, 0.98, 50.0, 0.95, 0.98),
            satellite("SAT-1", "London", 6000.0, 0.97, 50.0, 0.85, 0.90),
        }};
}

NetworkTopologyPayload build_topology(const TopologyType& type) {
    struct Builder {
        NetworkTopologyPayload operator()(TelecomBackbone) const { return telecom::build(); }
        NetworkTopologyPayload operator()(RepeaterChain chain) const {
            return repeater_chain::build(chain.nodes);
        }
        NetworkTopologyPayload operator()(HybridSatelliteFiber) const { return hybrid::build(); }
    };
    return std::visit(Builder{}, type);
}

std::optional<TopologyType> comparison_topology(std::string_view name) {
    if (name == "fiber_only" || name == "telecom_backbone") return TelecomBackbone{};
    if (name == "repeater_chain") return RepeaterChain{4};
    if (name == "hybrid_satellite_fiber" || name == "hybrid") return HybridSatelliteFiber{};
    return std::nullopt;
}

NetworkTopologyPayload generate_topology(std::string_view name) {
    if (name == "telecom_backbone") return telecom::build();
    if (name == "repeater_chain") return repeater_chain::build(4);
    if (name == "hybrid_satellite_fiber") return hybrid::build();
    throw InvalidValue(
        "Invalid topology name. Use: 'telecom_backbone', 'repeater_chain', or "
        "'hybrid_satellite_fiber'");
}

}  // namespace tavo
