// The physical model's trials with every draw they make, for an independent model to replay.
//
//   physical-trials   reads one description from standard input, one item per line
//                         model SCHEME DETECTOR SWAP FIBER_LOSS SATELLITE_LOSS CUTOFF|none
//                         config SPEED TOTAL_TIME_CUTOFF
//                         node ID T2
//                         link FROM TO DISTANCE FIDELITY RATE fiber|satellite [VISIBILITY WEATHER]
//                         request FROM TO TARGET MAX_LATENCY
//                         trials SEED COUNT
//                     (SCHEME direct or midpoint; numbers as strtod reads them) and plays trials
//                     SEED, SEED + 1, ... each with the seeded generator of its number, printing
//                         trial I
//                         hop HOP START OUTPUT ATTEMPTS       a hop starts its attempts
//                         swap NODE TIME OUTPUT 0|1           a swap's outcome
//                         purify TIME OUTPUT 0|1              a purification's outcome
//                         outcome 0|1 LATENCY FIDELITY DROPS ATTEMPTS_0 ATTEMPTS_1 ...
//                     with times, latencies, fidelities and attempt indices in C99 hexadecimal
//                     floating point and outputs as 16 hex digits. Then the route, and whether the
//                     library's ensemble of the same trials gives the figures of their sum:
//                         route ID,ID,...
//                         ensemble same|different
//                     A value the model refuses prints "refused MESSAGE" instead (status 0).

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "probe.hpp"
#include "tavo/error.hpp"
#include "tavo/montecarlo/compensated_sum.hpp"
#include "tavo/montecarlo/ensemble.hpp"
#include "tavo/physics/plan.hpp"
#include "tavo/physics/trial.hpp"

namespace {

using namespace tavo;

double number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') throw std::invalid_argument("bad number: " + text);
    return value;
}

struct PrintDraws {
    void hop_started(std::size_t hop, double start, std::uint64_t output, double attempts) {
        std::printf("hop %zu %a %016" PRIx64 " %a\n", hop, start, output, attempts);
    }
    void swap_drawn(std::size_t node, double time, std::uint64_t output, bool success) {
        std::printf("swap %zu %a %016" PRIx64 " %d\n", node, time, output, int(success));
    }
    void purification_drawn(double time, std::uint64_t output, bool success) {
        std::printf("purify %a %016" PRIx64 " %d\n", time, output, int(success));
    }
};

int physical_trials(const std::vector<std::string>&) {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    SimulationConfig config;
    PhysicalModel model;
    EntanglementRequest request;
    std::uint64_t seed = 0, count = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::vector<std::string> w;
        for (std::string word; in >> word;) w.push_back(word);
        if (w.empty()) continue;
        if (w[0] == "model" && w.size() == 7) {
            model.scheme = w[1] == "midpoint" ? HeraldingScheme::Midpoint : HeraldingScheme::Direct;
            model.detector_efficiency = number(w[2]);
            model.swap_success = number(w[3]);
            model.fiber_loss_db_km = number(w[4]);
            model.satellite_loss_db = number(w[5]);
            if (w[6] != "none") model.link_cutoff_ms = number(w[6]);
        } else if (w[0] == "config" && w.size() == 3) {
            config.physical.speed_of_light_in_fiber_km_ms = number(w[1]);
            config.total_time_cutoff_ms = number(w[2]);
        } else if (w[0] == "node" && w.size() == 3) {
            nodes.push_back({w[1], number(w[2])});
        } else if (w[0] == "link" && (w.size() == 7 || w.size() == 9)) {
            LinkDefinition link{
                w[1],         w[2],
                number(w[3]), number(w[4]),
                number(w[5]), w[6] == "satellite" ? LinkType::Satellite : LinkType::Fiber,
                std::nullopt};
            if (w.size() == 9)
                link.satellite_conditions = SatelliteConditions{number(w[7]), number(w[8])};
            links.push_back(link);
        } else if (w[0] == "request" && w.size() == 5) {
            request = {w[1], w[2], number(w[3]), number(w[4]), std::nullopt};
        } else if (w[0] == "trials" && w.size() == 3) {
            seed = std::stoull(w[1]);
            count = std::stoull(w[2]);
        } else {
            std::fprintf(stderr, "bad line: %s\n", line.c_str());
            return 2;
        }
    }
    config.physics = model;
    const QuantumNetwork network = QuantumNetwork::from_definitions(nodes, links);

    PhysicalPlan plan;
    try {
        plan = plan_physical(network, config, model, request);
    } catch (const InvalidValue& error) {
        std::printf("refused %s\n", error.message().c_str());
        return 0;
    }
    PhysicalTrial trial(plan);
    InterruptCountdown interrupt;
    std::uint64_t successes = 0, drops = 0;
    CompensatedSum latency, fidelity;
    std::vector<std::uint64_t> total_attempts(plan.hops.size());
    for (std::uint64_t i = 0; i < count; ++i) {
        std::printf("trial %" PRIu64 "\n", i);
        ChaCha12Rng rng = ChaCha12Rng::seed_from_u64(seed + i);
        std::vector<std::uint64_t> attempts(plan.hops.size());
        PrintDraws print;
        const PhysicalTrialOutcome outcome = trial.play(rng, attempts.data(), interrupt, print);
        std::printf("outcome %d %a %a %" PRIu64, int(outcome.success), outcome.latency_ms,
                    outcome.fidelity, outcome.drops);
        for (std::size_t hop = 0; hop < attempts.size(); ++hop) {
            std::printf(" %" PRIu64, attempts[hop]);
            total_attempts[hop] += attempts[hop];
        }
        std::printf("\n");
        successes += outcome.success;
        drops += outcome.drops;
        latency.add(outcome.latency_ms);
        if (outcome.success) fidelity.add(outcome.fidelity);
    }
    std::string route;
    for (const std::string& id : plan.path) route += (route.empty() ? "" : ",") + id;
    std::printf("route %s\n", route.c_str());

    const MonteCarloSummary summary =
        MonteCarloSimulationEngine::execute_ensemble(network, config, request, count, seed);
    bool same = summary.total_runs == count &&
                summary.empirical_success_rate == double(successes) / double(count) &&
                summary.mean_latency_ms == latency.value() / double(count) &&
                summary.mean_fidelity == (successes ? fidelity.value() / double(successes) : 0.0) &&
                summary.aggregate_congestion_drops == drops;
    for (std::size_t hop = 0; hop < plan.hops.size(); ++hop) {
        same =
            same && summary.link_utilization_heatmap.get(plan.hops[hop].key) == total_attempts[hop];
    }
    std::printf("ensemble %s\n", same ? "same" : "different");
    return 0;
}

probe::Register registration("physical-trials", physical_trials);

}  // namespace
