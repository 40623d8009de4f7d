#pragma once
// What the cycle model needs of a request before its first cycle: the route, the limit checks and
// the per-hop values, shared by every trial of an ensemble and by a single request.

#include <optional>
#include <string>
#include <vector>

#include "tavo/network/config.hpp"
#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"
#include "tavo/scheduler/result.hpp"

namespace tavo {

// Everything about a request that does not depend on random draws. A request either ends before
// its first cycle (`outcome` set) or runs cycles.
struct TimelinePlan {
    struct Hop {
        std::string from;
        std::string to;
        std::string key;             // "from->to"
        const LinkDefinition* link;  // null when no link joins the hop's nodes
        double success_probability;  // 0 without a link
        double fidelity;             // the link's base fidelity
    };

    std::optional<SimulationResult> outcome;
    std::vector<std::string> path;
    std::vector<Hop> hops;
    double fidelity_target = 0.0;
    double latency_limit = 0.0;
    double cutoff = 0.0;
    double purify_factor = 0.0;
    double route_fidelity = 0.0;
};

TimelinePlan plan_timeline(const QuantumNetwork& network, const SimulationConfig& config,
                           const EntanglementRequest& request);

}  // namespace tavo
