#pragma once
// The timeline of one entanglement request: route, limits, then cycles of link attempts, event
// processing, swapping and purification.

#include <utility>

#include "tavo/interrupt.hpp"
#include "tavo/network/quantum_network.hpp"
#include "tavo/network/request.hpp"
#include "tavo/random/chacha.hpp"
#include "tavo/scheduler/plan.hpp"
#include "tavo/scheduler/result.hpp"
#include "tavo/scheduler/trial.hpp"
#include "tavo/simulation/runtime.hpp"
#include "tavo/simulation/telemetry.hpp"

namespace tavo {

class NetworkOrchestratorPolicy {
public:
    // Plays out one request and returns its result: the plan of the request (route and limits,
    // plan_timeline, with the configuration the telemetry carries), then the cycle model's trial
    // (detail::play_trial), drawing one value per hop and cycle from a copy of `generator` (a
    // zero-seeded generator when none is given) and its losses from the per-thread generator.
    //
    // The result is all a single request observes: nothing is recorded in the telemetry or the
    // runtime (ensembles count attempts and drops themselves), and the trial stops drawing at its
    // first failed attempt, after which it can no longer succeed: the time at which its cycles end
    // follows at once (cycle_end), however far its limits lie.
    static SimulationResult coordinate_timeline(NetworkTelemetry& telemetry,
                                                const QuantumNetwork& network,
                                                SimulationRuntime& runtime,
                                                const EntanglementRequest& request,
                                                const ChaCha12Rng* generator);

    // The same with a chosen loss draw (see ThreadLossDraw).
    template <class LossDraw>
    static SimulationResult coordinate_timeline(NetworkTelemetry& telemetry,
                                                const QuantumNetwork& network,
                                                SimulationRuntime& runtime,
                                                const EntanglementRequest& request,
                                                const ChaCha12Rng* generator, LossDraw&& loss);
};

template <class LossDraw>
SimulationResult NetworkOrchestratorPolicy::coordinate_timeline(
    NetworkTelemetry& telemetry, const QuantumNetwork& network, SimulationRuntime&,
    const EntanglementRequest& request, const ChaCha12Rng* generator, LossDraw&& loss) {
    check_interrupt();  // many short requests in a row add up (a protocol's rounds)
    TimelinePlan plan = plan_timeline(network, telemetry.config(), request);
    if (plan.outcome) return std::move(*plan.outcome);

    ChaCha12Rng rng = generator ? *generator : ChaCha12Rng::zero_seeded();
    InterruptCountdown interrupt;
    const detail::TrialOutcome trial = detail::play_trial<detail::TrialCounts::ResultOnly>(
        detail::make_fast_plan(plan), rng, loss, interrupt);
    return SimulationResult{trial.success, trial.latency_ms, trial.fidelity, std::move(plan.path)};
}

}  // namespace tavo
