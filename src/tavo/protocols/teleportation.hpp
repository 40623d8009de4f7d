#pragma once
// Teleportation of a state over one requested entangled pair, plus the classical side channel's cost
// per relay node.

#include <cstdint>
#include <string>
#include <vector>

namespace tavo {

class TavoEngine;

struct TeleportationParameters {
    std::string source_node;
    std::string target_node;
    std::vector<std::string> relay_nodes;  // reported in the path; routing ignores them
    double state_fidelity = 0.95;           // also the fidelity target of the resource request
    double classical_bandwidth_ms = 100.0;  // latency budget of the resource request
};

struct TeleportationOutcome {
    bool success = false;
    double teleportation_fidelity = 0.0;
    double resource_entanglement_fidelity = 0.0;
    double latency_ms = 0.0;
    std::vector<std::string> path;  // source, relays, target
    std::uint64_t classical_bits_transferred = 0;
};

// A summary of several teleportations, filled in by the caller.
struct TeleportationStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_teleportation_fidelity = 0.0;
    double teleportation_fidelity_stddev = 0.0;
    double mean_latency_ms = 0.0;
};

// Teleports once; without a network on the engine no request is made and the path stops at the
// last relay.
TeleportationOutcome execute_teleportation(const TavoEngine& engine,
                                           const TeleportationParameters& params);

std::string repr(const TeleportationOutcome& outcome);
std::string repr(const TeleportationStats& stats);

}  // namespace tavo
