#pragma once
// What the physical model needs of a request before its first trial: the route (chosen as for every
// model) and, per hop, the constants every trial of an ensemble shares.

#include <cstdint>
#include <string>
#include <vector>

#include "tavo/network/config.hpp"
#include "tavo/network/physical_model.hpp"
#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"

namespace tavo {

// Light in vacuum, for satellite links (fiber links use the configuration's speed in fiber).
inline constexpr double kSpeedOfLightKmMs = 299.792458;

// Transmission of a link: the share of photons that reach the far end (Direct) or, for Midpoint,
// the product of both halves' shares. Fiber: 10^(-alpha L / 10). Satellite: visibility times
// weather times the loss at 1000 km, growing with the square of the distance (at most 1).
double link_transmission(const LinkDefinition& link, const PhysicalModel& model);

// Probability that one attempt heralds a pair: Direct eta_d eta, Midpoint eta_d^2 eta / 2.
double attempt_success_probability(const LinkDefinition& link, const PhysicalModel& model);

// The speed of the link's signals in km/ms, and its one-way propagation time L/c in ms.
double signal_speed_km_ms(const LinkDefinition& link, const SimulationConfig& config);
double propagation_ms(const LinkDefinition& link, const SimulationConfig& config);

// Time between attempts in ms: the longer of the generation period 1000/R and the time a herald
// takes to come back (2L/c for Direct, L/c for Midpoint).
double attempt_period_ms(const LinkDefinition& link, const PhysicalModel& model,
                         const SimulationConfig& config);

// Refuses, with InvalidValue naming the field and the node or link, every value the physical model
// cannot use: the model's own fields, the configuration's speed of light, each node's T2 and each
// link's length, fidelity, rate and satellite conditions and ends (all of them, on the route or
// not), and a request whose ends are not nodes of the network.
void check_physical_inputs(const QuantumNetwork& network, const SimulationConfig& config,
                           const PhysicalModel& model, const EntanglementRequest& request);

struct PhysicalHop {
    std::string key;             // "from->to" in route direction
    double success_probability;  // p of one attempt
    double log_failure;          // log(1 - p), for the geometric draws
    double attempt_period_ms;    // tau
    double fresh_excess;         // F0 - 1/4 of a heralded pair
};

struct PhysicalPlan {
    bool routed = false;            // false: no route, every trial fails at latency 0
    std::vector<std::string> path;  // route, source first
    std::vector<PhysicalHop> hops;  // path.size() - 1 of them
    // Per node of the path: the decay rate of a stored qubit, 1 / T2 in 1/ms (0 for T2 = +inf).
    std::vector<double> decay_per_ms;
    double propagation_ms = 0.0;  // t_prop, sum over the hops of L/c
    double limit_ms = 0.0;        // min(max_latency_ms, total_time_cutoff_ms); NaN if either is
    double fidelity_target = 0.0;
    double swap_success = 1.0;
    double cutoff_ms = 0.0;  // +inf without a cutoff
};

// Checks the inputs (check_physical_inputs), routes the request and derives the per-hop constants.
PhysicalPlan plan_physical(const QuantumNetwork& network, const SimulationConfig& config,
                           const PhysicalModel& model, const EntanglementRequest& request);

}  // namespace tavo
