#pragma once
// The timeline of one entanglement request: route, limits, then cycles of link attempts, event
// processing, swapping and purification.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tavo/interrupt.hpp"
#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"
#include "tavo/random/chacha.hpp"
#include "tavo/scheduler/cycle_clock.hpp"
#include "tavo/scheduler/physics.hpp"
#include "tavo/scheduler/plan.hpp"
#include "tavo/scheduler/result.hpp"
#include "tavo/simulation/runtime.hpp"
#include "tavo/simulation/telemetry.hpp"

namespace tavo {

class NetworkOrchestratorPolicy {
public:
    // Plays out one request. Draws one uniform value per hop and cycle from a copy of `generator`
    // (a zero-seeded generator when none is given); loss draws come from the per-thread generator.
    static SimulationResult coordinate_timeline(NetworkTelemetry& telemetry,
                                                const QuantumNetwork& network,
                                                SimulationRuntime& runtime,
                                                const EntanglementRequest& request,
                                                const ChaCha12Rng* generator);

    // What a caller reads of a played-out request: the result and the telemetry and runtime
    // counters (an ensemble's trial), or the result alone (a single request, whose telemetry and
    // runtime are discarded). For the result alone, attempts are not counted, and a trial that
    // can no longer succeed stops drawing at its first failed attempt: the time at which its
    // cycles end follows at once (cycle_end), however far its limits lie.
    enum class Observed { Everything, ResultOnly };

    // The same with a chosen loss draw (see ThreadLossDraw).
    template <class LossDraw>
    static SimulationResult coordinate_timeline(NetworkTelemetry& telemetry,
                                                const QuantumNetwork& network,
                                                SimulationRuntime& runtime,
                                                const EntanglementRequest& request,
                                                const ChaCha12Rng* generator, LossDraw&& loss,
                                                Observed observed = Observed::Everything);
};

// Unordered key of a hop: the two ids with the bytewise smaller one first.
inline std::pair<std::string_view, std::string_view> unordered_hop(std::string_view a,
                                                                   std::string_view b) {
    return a <= b ? std::pair{a, b} : std::pair{b, a};
}

struct HopKeyHash {
    std::size_t operator()(const std::pair<std::string_view, std::string_view>& key) const {
        const std::size_t first = std::hash<std::string_view>{}(key.first);
        return first ^ (std::hash<std::string_view>{}(key.second) + 0x9E3779B97F4A7C15ull +
                        (first << 6) + (first >> 2));
    }
};

template <class LossDraw>
SimulationResult NetworkOrchestratorPolicy::coordinate_timeline(
    NetworkTelemetry& telemetry, const QuantumNetwork& network, SimulationRuntime& runtime,
    const EntanglementRequest& request, const ChaCha12Rng* generator, LossDraw&& loss,
    Observed observed) {
    check_interrupt();  // many short requests in a row add up (a protocol's rounds)
    TimelinePlan plan = plan_timeline(network, telemetry.config(), request);
    if (plan.outcome) return std::move(*plan.outcome);

    ChaCha12Rng rng = generator ? *generator : ChaCha12Rng::zero_seeded();
    const double target = plan.fidelity_target;
    const double limit = plan.latency_limit;
    const std::size_t n = plan.path.size();
    double t = 0.0;
    double fidelity = plan.route_fidelity;
    std::unordered_map<std::pair<std::string_view, std::string_view>, double, HopKeyHash> stored;

    InterruptCountdown interrupt;
    const auto attempts = static_cast<std::int64_t>(plan.hops.size()) + 1;
    for (;;) {
        interrupt.tick(attempts);
        for (const auto& hop : plan.hops) {
            if (observed == Observed::Everything) telemetry.record_link_firing(hop.key);
            double u = rng.uniform_inclusive();
            if (u < hop.success_probability) {
                runtime.push(EventWrapper{hop.from, hop.to, hop.fidelity, t});
            } else {
                ++runtime.congestion_drops;
                // Seen from the result alone, the trial has failed: nothing after this counts.
                if (observed == Observed::ResultOnly) break;
            }
        }
        if (observed == Observed::Everything || runtime.congestion_drops == 0) {
            runtime.process_events_up_to(t, loss);
        }

        if (runtime.congestion_drops != 0) {
            runtime.completed.clear();
            if (observed == Observed::ResultOnly) {
                // The drop counter is never reset again: every later cycle ends here too, and only
                // the time at which the cycles stop can be seen in the result.
                t = cycle_end(t, limit, plan.cutoff).t;
                return SimulationResult{false, t, 0.0, std::move(plan.path)};
            }
        } else {
            // Swapping: only when every hop delivered a link this cycle. The completed list is
            // looked up once per hop, so it is hashed by unordered key (the last entry wins).
            stored.clear();
            for (const auto& link : runtime.completed) {
                stored.insert_or_assign(unordered_hop(link.node_a, link.node_b), link.fidelity);
            }
            bool all_ready = true;
            for (const auto& hop : plan.hops) {
                if (!stored.contains(unordered_hop(hop.from, hop.to))) {
                    all_ready = false;
                    break;
                }
            }
            if (all_ready && n >= 3) {
                fidelity = 1.0;
                for (const auto& hop : plan.hops) {
                    fidelity *= stored.at(unordered_hop(hop.from, hop.to));
                }
                for (std::size_t i = 0; i + 2 < n; ++i) fidelity = purify(fidelity, plan.purify_factor);
            }
            runtime.completed.clear();

            if (target > fidelity && fidelity > 0.5) {
                t += kPurificationMs;
                fidelity = purify(fidelity, plan.purify_factor);
            }
            if (fidelity >= target) return SimulationResult{true, t, fidelity, plan.path};
            if (t >= limit) return SimulationResult{false, t, 0.0, plan.path};
            runtime.congestion_drops = 0;
            runtime.loss_count = 0;
        }

        t += kCycleMs;
        if (!(limit > t && plan.cutoff > t)) break;
    }
    return SimulationResult{false, t, 0.0, std::move(plan.path)};
}

}  // namespace tavo
