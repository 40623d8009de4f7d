#pragma once
// Monte Carlo ensembles: many seeded trials of one request, summed into statistics.

#include <cstdint>
#include <optional>

#include "tavo/montecarlo/compensated_sum.hpp"
#include "tavo/montecarlo/stats.hpp"
#include "tavo/network/config.hpp"
#include "tavo/network/quantum_network.hpp"
#include "tavo/scheduler/orchestrator.hpp"

namespace tavo {

class MonteCarloSimulationEngine {
public:
    // Runs `runs` trials. Trial i draws its link attempts from seed_from_u64(seed + i) (wrapping)
    // and its losses from the same key on the loss stream (TrialLossDraw), so that it depends on
    // seed + i alone: an ensemble split into consecutive chunks (seed s for runs [0, a), seed s + a
    // for the rest) sums to the whole. Without a seed, every trial uses a zero-seeded generator and
    // the per-thread loss draw. The figures are exactly those of running
    // NetworkOrchestratorPolicy::coordinate_timeline once per trial with the same draws.
    static MonteCarloSummary execute_ensemble(const QuantumNetwork& network,
                                              const SimulationConfig& config,
                                              const EntanglementRequest& request,
                                              std::uint64_t runs, std::optional<std::uint64_t> seed);

    // The same with the losses of each trial drawn by `loss_for(trial generator)`, which returns a
    // loss draw for that trial (tests use draws that are pure functions of the event).
    template <class LossFor>
    static MonteCarloSummary execute_ensemble_with(const QuantumNetwork& network,
                                                   const SimulationConfig& config,
                                                   const EntanglementRequest& request,
                                                   std::uint64_t runs,
                                                   std::optional<std::uint64_t> seed,
                                                   LossFor&& loss_for);
};

namespace detail {

// The request's plan reduced to what the cycle loop reads, in flat arrays.
struct FastPlan {
    std::vector<std::uint64_t> thresholds;  // per hop: draws below succeed (see inclusive_threshold)
    std::vector<std::string_view> hop_from, hop_to;
    double target, limit, cutoff, purify_factor, route_fidelity;
    double swapped_fidelity;  // the fidelity after swapping when every hop delivered
    bool swaps;               // the path has an intermediate node
};

struct TrialOutcome {
    bool success;
    double latency_ms;
    double fidelity;
    std::uint64_t drops;   // the congestion-drop counter when the trial ended
    std::uint64_t cycles;  // cycles run (each fires every hop once)
};

FastPlan make_fast_plan(const TimelinePlan& plan);

// One trial of the timeline for a plan that runs cycles. Loss draws only matter on paths with an
// intermediate node, and only while every attempt so far has succeeded; elsewhere they are skipped.
template <class LossDraw>
TrialOutcome play_trial(const FastPlan& plan, ChaCha12Rng& rng, LossDraw& loss) {
    const std::size_t hops = plan.thresholds.size();
    const std::uint64_t* thresholds = plan.thresholds.data();
    double t = 0.0;
    double fidelity = plan.route_fidelity;
    std::uint64_t cycles = 0;
    for (;;) {
        ++cycles;
        std::uint64_t failed = 0;
        for (std::size_t h = 0; h < hops; ++h) failed += (rng.next_u64() >> 12) >= thresholds[h];

        if (failed != 0) {
            // The drop counter is never reset again, so the trial cannot succeed any more: the
            // remaining cycles only add their failed attempts to the counter.
            std::uint64_t drops = failed;
            for (;;) {
                t += kCycleMs;
                if (!(plan.limit > t && plan.cutoff > t)) break;
                ++cycles;
                for (std::size_t h = 0; h < hops; ++h) drops += (rng.next_u64() >> 12) >= thresholds[h];
            }
            return {false, t, 0.0, drops, cycles};
        }

        if (plan.swaps) {
            bool all_survived = true;
            for (std::size_t h = 0; h < hops; ++h) {
                if (loss(plan.hop_from[h], plan.hop_to[h], t) < kLinkLossProbability) all_survived = false;
            }
            if (all_survived) fidelity = plan.swapped_fidelity;
        }
        if (plan.target > fidelity && fidelity > 0.5) {
            t += kPurificationMs;
            fidelity = purify(fidelity, plan.purify_factor);
        }
        if (fidelity >= plan.target) return {true, t, fidelity, 0, cycles};
        if (t >= plan.limit) return {false, t, 0.0, 0, cycles};
        t += kCycleMs;
        if (!(plan.limit > t && plan.cutoff > t)) return {false, t, 0.0, 0, cycles};
    }
}

}  // namespace detail

template <class LossFor>
MonteCarloSummary MonteCarloSimulationEngine::execute_ensemble_with(
    const QuantumNetwork& network, const SimulationConfig& config,
    const EntanglementRequest& request, std::uint64_t runs, std::optional<std::uint64_t> seed,
    LossFor&& loss_for) {
    require_finite_limits(request, config);
    // Network and request are the same in every trial: route and plan once.
    const TimelinePlan plan = plan_timeline(network, config, request);
    const detail::FastPlan fast = detail::make_fast_plan(plan);

    std::uint64_t successes = 0;
    CompensatedSum latency_sum;
    CompensatedSum fidelity_sum;
    std::uint64_t drop_sum = 0;
    std::uint64_t cycle_sum = 0;
    for (std::uint64_t i = 0; i < runs; ++i) {
        detail::TrialOutcome trial;
        if (plan.outcome) {
            trial = {plan.outcome->success, plan.outcome->latency_ms, plan.outcome->final_fidelity, 0, 0};
        } else {
            ChaCha12Rng rng =
                seed ? ChaCha12Rng::seed_from_u64(*seed + i) : ChaCha12Rng::zero_seeded();
            auto loss = loss_for(rng);
            trial = detail::play_trial(fast, rng, loss);
        }
        if (trial.success) fidelity_sum.add(trial.fidelity);
        latency_sum.add(trial.latency_ms);
        drop_sum += trial.drops;
        cycle_sum += trial.cycles;
        successes += trial.success ? 1 : 0;
    }

    MonteCarloSummary summary;
    summary.total_runs = runs;
    summary.empirical_success_rate = double(successes) / double(runs);
    summary.mean_latency_ms = latency_sum.value() / double(runs);
    summary.mean_fidelity = successes > 0 ? fidelity_sum.value() / double(successes) : 0.0;
    summary.aggregate_congestion_drops = drop_sum;
    // Every cycle fires every hop once.
    if (cycle_sum > 0) {
        for (const auto& hop : plan.hops) summary.link_utilization_heatmap.add(hop.key, cycle_sum);
    }
    return summary;
}

}  // namespace tavo
