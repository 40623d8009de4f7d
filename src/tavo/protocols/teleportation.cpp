#include "tavo/protocols/teleportation.hpp"

#include <cmath>

#include "tavo/engine/engine.hpp"
#include "text/forms.hpp"

namespace tavo {
namespace {

// A teleported state never reaches perfect fidelity.
constexpr double kFidelityCap = 0.999;
// The classical side channel: a fixed hop length per relay at the signal speed in fiber.
constexpr double kRelayHopKm = 50.0;
constexpr double kSignalSpeedKmPerMs = 200.0;
// Two classical bits carry the Bell measurement outcome.
constexpr std::uint64_t kClassicalBits = 2;


}  // namespace

TeleportationOutcome execute_teleportation(const TavoEngine& engine,
                                           const TeleportationParameters& params) {
    double resource_fidelity = 0.0;
    double request_latency = 0.0;
    if (engine.has_network()) {
        require_finite_limit(params.classical_bandwidth_ms, "classical_bandwidth_ms");
        require_reachable_limit(params.classical_bandwidth_ms, engine.config(),
                                "classical_bandwidth_ms");
        // Only the delivered fidelity and the time it took matter here, not the route or the flag.
        SimulationResult resource = engine.request_entanglement(
            EntanglementRequest{params.source_node, params.target_node, params.state_fidelity,
                                params.classical_bandwidth_ms, StrategyType::HighestFidelity});
        resource_fidelity = resource.final_fidelity;
        request_latency = resource.latency_ms;
    }

    TeleportationOutcome outcome;
    if (!(resource_fidelity > 0.0)) {
        outcome.teleportation_fidelity = 0.0;
    } else if (engine.config().physics) {
        // The average fidelity of teleporting over a Werner pair of fidelity F.
        outcome.teleportation_fidelity = (2.0 * resource_fidelity + 1.0) / 3.0;
    } else {
        outcome.teleportation_fidelity =
            std::fmin(params.state_fidelity * resource_fidelity, kFidelityCap);
    }
    outcome.path.reserve(params.relay_nodes.size() + 2);
    outcome.path.push_back(params.source_node);
    outcome.path.insert(outcome.path.end(), params.relay_nodes.begin(), params.relay_nodes.end());
    if (engine.has_network()) {
        outcome.path.push_back(params.target_node);
        outcome.latency_ms =
            request_latency +
            static_cast<double>(params.relay_nodes.size()) * kRelayHopKm / kSignalSpeedKmPerMs;
    }
    outcome.resource_entanglement_fidelity = resource_fidelity;
    outcome.classical_bits_transferred = kClassicalBits;
    outcome.success = resource_fidelity > 0.5;
    return outcome;
}

std::string repr(const TeleportationOutcome& outcome) {
    return std::string("TeleportationOutcome(success=") + text::boolean(outcome.success) +
           ", fidelity=" + text::fixed(outcome.teleportation_fidelity, 4) +
           ", latency=" + text::fixed(outcome.latency_ms, 1) + "ms)";
}

std::string repr(const TeleportationStats& stats) {
    return "TeleportationStats(runs=" + std::to_string(stats.total_runs) +
           ", fidelity=" + text::fixed(stats.mean_teleportation_fidelity, 4) + "\u00b1" +
           text::fixed(stats.teleportation_fidelity_stddev, 4) + ")";
}

}  // namespace tavo
