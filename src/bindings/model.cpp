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

constexpr std::string_view kEffectiveRateDoc = R"doc(
    Calculate effective generation rate based on conditions

    The generation rate left by these conditions: base_rate * visibility * weather_factor.

    Args:
        base_rate: A generation rate in Hz.

    Returns:
        The rate in Hz, a float.)doc";

constexpr std::string_view kToU8Doc = R"doc(
    The member's value: 0 LowestLatency, 1 HighestFidelity, 2 HighestSuccess.

    Returns:
        The value, an int.)doc";

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

std::uint8_t strategy_to_u8(const StrategyType& strategy) { return std::uint8_t(strategy); }

}  // namespace

py::Ref physical_config_class(PyObject*) {
    return py::ClassBuilder<PhysicalConfig>("PhysicalConfig")
        .record()
        .constructor<&new_physical_config, "alpha_loss_db_km">(R"(
            Made with a signal speed of 200 km/ms.

            Args:
                alpha_loss_db_km: Fiber attenuation in dB/km; baseline_purify_factor becomes a
                    tenth of it. None: baseline_purify_factor 0.022.)")
        .build();
}

py::Ref simulation_config_class(PyObject*) {
    return py::ClassBuilder<SimulationConfig>("SimulationConfig")
        .record()
        .constructor<&new_simulation_config, "total_time_cutoff_ms", "step_resolution_ms",
                     "alpha_loss_db_km", "physics">(R"(
            Each value left out takes its default.

            Args:
                total_time_cutoff_ms: Time limit of one trial in ms; None: 5000.
                step_resolution_ms: Recorded only (trials advance in 2.5 ms cycles); None: 0.1 ms.
                alpha_loss_db_km: Fiber attenuation in dB/km; physical.baseline_purify_factor
                    becomes a tenth of it (the cycle model's purification factor). None: 0.022.
                physics: A PhysicalModel to play every request on (copied); None: the cycle
                    model.)")
        .build();
}

py::Ref physical_model_class(PyObject*) {
    return py::ClassBuilder<PhysicalModel>("PhysicalModel")
        .record()
        .record_constructor()
        .value_equality()
        .record_representation()
        .build();
}

py::Ref heralding_scheme_class(PyObject*) {
    return py::EnumBuilder<HeraldingScheme>("HeraldingScheme", kHeraldingSchemeNames)
        .doc(R"(
            How a link of the physical model heralds a pair (see PhysicalModel).

            Members:
                Direct: One end emits, the photon crosses the whole link and the far end heralds
                    back (value 0): p = detector_efficiency * eta per attempt, one attempt every
                    max(1000 / generation_rate_hz, 2 L / c) ms. The default.
                Midpoint: Both ends emit towards a station in the middle of the link, which
                    heralds on two clicks (value 1; Barrett and Kok 2005): p =
                    detector_efficiency**2 * eta / 2, one attempt every
                    max(1000 / generation_rate_hz, L / c) ms.)")
        .build();
}

py::Ref node_definition_class(PyObject*) {
    return py::ClassBuilder<NodeDefinition>("NodeDefinition").record().record_constructor().build();
}

py::Ref satellite_conditions_class(PyObject*) {
    return py::ClassBuilder<SatelliteConditions>("SatelliteConditions")
        .record()
        .record_constructor()
        .method<&SatelliteConditions::effective_rate, "effective_rate", "base_rate">(
            kEffectiveRateDoc)
        .build();
}

py::Ref link_definition_class(PyObject*) {
    return py::ClassBuilder<LinkDefinition>("LinkDefinition").record().record_constructor().build();
}

py::Ref link_type_class(PyObject*) {
    return py::EnumBuilder<LinkType>("LinkType", kLinkTypeNames)
        .doc(
            "Kind of a link of the network model: Fiber or Satellite.\n"
            "\n"
            "Snapshots record it; it changes no outcome of the cycle model. On the physical\n"
            "model a satellite link has a free-space loss and signals at the speed of light.\n"
            "\n"
            "Members:\n"
            "    Fiber: A fiber link (value 0), the default.\n"
            "    Satellite: A satellite link (value 1).")
        .build();
}

py::Ref strategy_type_class(PyObject*) {
    return py::EnumBuilder<StrategyType>("StrategyType", kStrategyTypeNames)
        .doc(R"(
            How routing picks a path among all simple paths between two nodes.

            The search is exhaustive (its cost grows with the number of simple paths, fast in
            dense networks). Each hop of a path is scored by the link joining its two nodes: the
            first link listed between them, in either direction.

            Members:
                LowestLatency: Smallest sum of distance_km over the hops (value 0): the shortest
                    path, so the one with the least propagation delay.
                HighestFidelity: Largest product of base_fidelity over the hops (value 1); the
                    default. When the request's target is above that path's fidelity, the
                    LowestLatency path is used instead.
                HighestSuccess: Largest sum of base_fidelity * generation_rate_hz over the hops
                    (value 2). A sum: a path with more hops can score higher. The only place the
                    simulation reads generation rates.)")
        .method<&strategy_to_u8, "to_u8">(kToU8Doc)
        .build();
}

py::Ref entanglement_request_class(PyObject*) {
    return py::ClassBuilder<EntanglementRequest>("EntanglementRequest")
        .record()
        .record_constructor()
        .build();
}

py::Ref network_topology_payload_class(PyObject*) {
    return py::ClassBuilder<NetworkTopologyPayload>("NetworkTopologyPayload")
        .record()
        .record_constructor()
        .build();
}

}  // namespace bindings
