// Configuration, definition and request classes.

#include "py/class_builder.hpp"
#include "py/enum.hpp"
#include "registry.hpp"
#include "tavo/network/config.hpp"
#include "tavo/network/definitions.hpp"
#include "tavo/network/request.hpp"

namespace bindings {
namespace {

using namespace tavo;
using std::optional;

PhysicalConfig new_physical_config(optional<double> alpha_loss_db_km) {
    return PhysicalConfig::from_alpha_loss(alpha_loss_db_km);
}

SimulationConfig new_simulation_config(optional<double> total_time_cutoff_ms,
                                       optional<double> step_resolution_ms,
                                       optional<double> alpha_loss_db_km,
                                       optional<PhysicalModel> physics) {
    SimulationConfig config;
    config.physical = PhysicalConfig::from_alpha_loss(alpha_loss_db_km);
    if (total_time_cutoff_ms) config.total_time_cutoff_ms = *total_time_cutoff_ms;
    if (step_resolution_ms) config.step_resolution_ms = *step_resolution_ms;
    config.physics = std::move(physics);
    return config;
}

PhysicalModel new_physical_model(optional<HeraldingScheme> scheme,
                                 optional<double> detector_efficiency,
                                 optional<double> swap_success, optional<double> fiber_loss_db_km,
                                 optional<double> satellite_loss_db,
                                 optional<double> link_cutoff_ms) {
    PhysicalModel model;
    if (scheme) model.scheme = *scheme;
    if (detector_efficiency) model.detector_efficiency = *detector_efficiency;
    if (swap_success) model.swap_success = *swap_success;
    if (fiber_loss_db_km) model.fiber_loss_db_km = *fiber_loss_db_km;
    if (satellite_loss_db) model.satellite_loss_db = *satellite_loss_db;
    model.link_cutoff_ms = link_cutoff_ms;
    return model;
}

// == and != by value; anything else is left to the interpreter.
PyObject* physical_model_richcompare(PyObject* self, PyObject* other, int op) {
    return py::guarded(
        [&]() -> PyObject* {
            if ((op != Py_EQ && op != Py_NE) || !py::holds<PhysicalModel>(self) ||
                !py::holds<PhysicalModel>(other)) {
                return py::new_ref(Py_NotImplemented);
            }
            auto* left = py::box_of<PhysicalModel>(self);
            auto* right = py::box_of<PhysicalModel>(other);
            py::SharedBorrow left_borrow(left->borrow);
            py::SharedBorrow right_borrow(right->borrow);
            const bool equal = left->value == right->value;
            return py::boolean(op == Py_EQ ? equal : !equal);
        },
        nullptr);
}

NodeDefinition new_node_definition(std::string id, double memory_lifetime_t2) {
    return NodeDefinition{std::move(id), memory_lifetime_t2};
}

SatelliteConditions new_satellite_conditions(optional<double> visibility,
                                             optional<double> weather_factor) {
    return SatelliteConditions{visibility.value_or(1.0), weather_factor.value_or(1.0)};
}

LinkDefinition new_link_definition(std::string from_node, std::string to, double distance_km,
                                   double base_fidelity, double generation_rate_hz,
                                   optional<LinkType> link_type,
                                   optional<SatelliteConditions> satellite_conditions) {
    return LinkDefinition{std::move(from_node),        std::move(to),
                          distance_km,                 base_fidelity,
                          generation_rate_hz,          link_type.value_or(LinkType::Fiber),
                          std::move(satellite_conditions)};
}

std::uint8_t strategy_to_u8(const StrategyType& strategy) { return std::uint8_t(strategy); }

EntanglementRequest new_entanglement_request(std::string from_node, std::string to,
                                             double fidelity_target, double max_latency_ms,
                                             optional<StrategyType> strategy) {
    return EntanglementRequest{std::move(from_node), std::move(to), fidelity_target,
                               max_latency_ms, strategy};
}

NetworkTopologyPayload new_payload(std::vector<NodeDefinition> nodes,
                                   std::vector<LinkDefinition> links) {
    return NetworkTopologyPayload{std::move(nodes), std::move(links)};
}

}  // namespace

py::Ref physical_config_class(PyObject*) {
    return py::ClassBuilder<PhysicalConfig>("PhysicalConfig")
        .constructor<&new_physical_config, "alpha_loss_db_km">()
        .field<&PhysicalConfig::baseline_purify_factor>("baseline_purify_factor")
        .field<&PhysicalConfig::speed_of_light_in_fiber_km_ms>("speed_of_light_in_fiber_km_ms")
        .build();
}

py::Ref simulation_config_class(PyObject*) {
    return py::ClassBuilder<SimulationConfig>("SimulationConfig")
        .constructor<&new_simulation_config, "total_time_cutoff_ms", "step_resolution_ms",
                     "alpha_loss_db_km", "physics">()
        .field<&SimulationConfig::physical>("physical")
        .field<&SimulationConfig::step_resolution_ms>("step_resolution_ms")
        .field<&SimulationConfig::total_time_cutoff_ms>("total_time_cutoff_ms")
        .field<&SimulationConfig::physics>("physics")
        .build();
}

py::Ref physical_model_class(PyObject*) {
    return py::ClassBuilder<PhysicalModel>("PhysicalModel")
        .constructor<&new_physical_model, "scheme", "detector_efficiency", "swap_success",
                     "fiber_loss_db_km", "satellite_loss_db", "link_cutoff_ms">()
        .field<&PhysicalModel::scheme>("scheme")
        .field<&PhysicalModel::detector_efficiency>("detector_efficiency")
        .field<&PhysicalModel::swap_success>("swap_success")
        .field<&PhysicalModel::fiber_loss_db_km>("fiber_loss_db_km")
        .field<&PhysicalModel::satellite_loss_db>("satellite_loss_db")
        .field<&PhysicalModel::link_cutoff_ms>("link_cutoff_ms")
        .repr<static_cast<std::string (*)(const PhysicalModel&)>(&tavo::repr)>()
        .slot(Py_tp_richcompare, reinterpret_cast<void*>(&physical_model_richcompare))
        .build();
}

py::Ref heralding_scheme_class(PyObject*) {
    return py::EnumBuilder<HeraldingScheme>("HeraldingScheme", kHeraldingSchemeNames).build();
}

py::Ref node_definition_class(PyObject*) {
    return py::ClassBuilder<NodeDefinition>("NodeDefinition")
        .constructor<&new_node_definition, "id", "memory_lifetime_t2">()
        .field<&NodeDefinition::id>("id")
        .field<&NodeDefinition::memory_lifetime_t2>("memory_lifetime_t2")
        .build();
}

py::Ref satellite_conditions_class(PyObject*) {
    return py::ClassBuilder<SatelliteConditions>("SatelliteConditions")
        .constructor<&new_satellite_conditions, "visibility", "weather_factor">()
        .field<&SatelliteConditions::visibility>("visibility")
        .field<&SatelliteConditions::weather_factor>("weather_factor")
        .method<&SatelliteConditions::effective_rate, "effective_rate", "base_rate">(
            "Calculate effective generation rate based on conditions")
        .build();
}

py::Ref link_definition_class(PyObject*) {
    return py::ClassBuilder<LinkDefinition>("LinkDefinition")
        .constructor<&new_link_definition, "from_node", "to", "distance_km", "base_fidelity",
                     "generation_rate_hz", "link_type", "satellite_conditions">()
        .field<&LinkDefinition::from_node>("from_node")
        .field<&LinkDefinition::to>("to")
        .field<&LinkDefinition::distance_km>("distance_km")
        .field<&LinkDefinition::base_fidelity>("base_fidelity")
        .field<&LinkDefinition::generation_rate_hz>("generation_rate_hz")
        .field<&LinkDefinition::link_type>("link_type")
        .field<&LinkDefinition::satellite_conditions>("satellite_conditions")
        .build();
}

py::Ref link_type_class(PyObject*) {
    return py::EnumBuilder<LinkType>("LinkType", kLinkTypeNames).build();
}

py::Ref strategy_type_class(PyObject*) {
    return py::EnumBuilder<StrategyType>("StrategyType", kStrategyTypeNames)
        .method<&strategy_to_u8, "to_u8">()
        .build();
}

py::Ref entanglement_request_class(PyObject*) {
    return py::ClassBuilder<EntanglementRequest>("EntanglementRequest")
        .constructor<&new_entanglement_request, "from_node", "to", "fidelity_target",
                     "max_latency_ms", "strategy">()
        .field<&EntanglementRequest::from_node>("from_node")
        .field<&EntanglementRequest::to>("to")
        .field<&EntanglementRequest::fidelity_target>("fidelity_target")
        .field<&EntanglementRequest::max_latency_ms>("max_latency_ms")
        .field<&EntanglementRequest::strategy>("strategy")
        .build();
}

py::Ref network_topology_payload_class(PyObject*) {
    return py::ClassBuilder<NetworkTopologyPayload>("NetworkTopologyPayload")
        .constructor<&new_payload, "nodes", "links">()
        .field<&NetworkTopologyPayload::nodes>("nodes")
        .field<&NetworkTopologyPayload::links>("links")
        .build();
}

}  // namespace bindings
