#include "tavo/montecarlo/ensemble.hpp"

namespace tavo {
namespace detail {

void derive_attempt_counts(FastPlan& fast) {
    constexpr std::uint64_t never_fails = std::uint64_t{1} << 52;
    fast.attempts_fixed = true;
    fast.fixed_failures = 0;
    for (const std::uint64_t threshold : fast.thresholds) {
        // No 52-bit mantissa is at or above 2^52, and every one is at or above 0.
        fast.attempts_fixed &= threshold == 0 || threshold == never_fails;
        fast.fixed_failures += threshold == 0;
    }
    // take_outputs hands out at most 128 outputs at a time.
    const std::size_t hops = fast.thresholds.size();
    fast.threshold_run.clear();
    for (std::size_t k = 0; hops > 0 && k < hops + 128; ++k) {
        fast.threshold_run.push_back(fast.thresholds[k % hops]);
    }
}

FastPlan make_fast_plan(const TimelinePlan& plan) {
    FastPlan fast{};
    fast.target = plan.fidelity_target;
    fast.limit = plan.latency_limit;
    fast.cutoff = plan.cutoff;
    fast.purify_factor = plan.purify_factor;
    fast.route_fidelity = plan.route_fidelity;
    fast.swaps = plan.path.size() >= 3;
    for (const auto& hop : plan.hops) {
        fast.thresholds.push_back(inclusive_threshold(hop.success_probability));
        fast.hop_from.push_back(hop.from);
        fast.hop_to.push_back(hop.to);
    }
    derive_attempt_counts(fast);
    // Swapping multiplies the hops' link fidelities in path order, then purifies once per
    // intermediate node; with every hop delivered this is the same value in every cycle.
    double swapped = 1.0;
    for (const auto& hop : plan.hops) swapped *= hop.fidelity;
    for (std::size_t i = 0; i + 2 < plan.path.size(); ++i) swapped = purify(swapped, plan.purify_factor);
    fast.swapped_fidelity = swapped;
    return fast;
}

MonteCarloSummary EnsembleTotals::summary(const TimelinePlan& plan, std::uint64_t runs) const {
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

MonteCarloSummary EnsembleTotals::summary(const PhysicalPlan& plan,
                                          const std::vector<std::uint64_t>& attempts,
                                          std::uint64_t runs) const {
    MonteCarloSummary summary;
    summary.total_runs = runs;
    summary.empirical_success_rate = double(successes) / double(runs);
    summary.mean_latency_ms = latency_sum.value() / double(runs);
    summary.mean_fidelity = successes > 0 ? fidelity_sum.value() / double(successes) : 0.0;
    summary.aggregate_congestion_drops = drop_sum;
    for (std::size_t hop = 0; hop < plan.hops.size(); ++hop) {
        if (attempts[hop] > 0)
            summary.link_utilization_heatmap.add(plan.hops[hop].key, attempts[hop]);
    }
    return summary;
}

namespace {

// The loss draws of a seeded trial as the reference loop made them: a generator refilling four
// blocks at a time from the start.
class ReferenceLossDraw {
public:
    explicit ReferenceLossDraw(const ChaChaKey& key) noexcept : key_(key) {}

    double operator()(std::string_view, std::string_view, double) {
        if (!rng_) {
            rng_.emplace(ChaCha12Rng::from_key(key_, kLossStream));
            rng_->with_four_block_refills();
        }
        return rng_->uniform_half_open();
    }

private:
    ChaChaKey key_;
    std::optional<ChaCha12Rng> rng_;
};

}  // namespace
}  // namespace detail

MonteCarloSummary MonteCarloSimulationEngine::execute_ensemble(const QuantumNetwork& network,
                                                               const SimulationConfig& config,
                                                               const EntanglementRequest& request,
                                                               std::uint64_t runs,
                                                               std::optional<std::uint64_t> seed) {
    if (config.physics) return execute_physical_ensemble(network, config, request, runs, seed);
    if (!seed) {
        return execute_ensemble_with(network, config, request, runs, seed,
                                     [](const ChaCha12Rng&) { return ThreadLossDraw{}; });
    }
    require_finite_limits(request, config);
    check_interrupt();  // many short ensembles in a row add up (a sensitivity analysis)
    const TimelinePlan plan = plan_timeline(network, config, request);
    const detail::FastPlan fast = detail::make_fast_plan(plan);

    detail::EnsembleTotals totals;
    InterruptCountdown interrupt;
    if (plan.outcome) {
        const detail::TrialOutcome trial{plan.outcome->success, plan.outcome->latency_ms,
                                         plan.outcome->final_fidelity, 0, 0};
        for (std::uint64_t i = 0; i < runs; ++i) {
            interrupt.tick();
            totals.add(trial);
        }
    } else {
        detail::play_seeded_trials(fast, runs, *seed, interrupt,
                                   [&](const detail::TrialOutcome& trial) { totals.add(trial); });
    }
    return totals.summary(plan, runs);
}

MonteCarloSummary MonteCarloSimulationEngine::execute_physical_ensemble(
    const QuantumNetwork& network, const SimulationConfig& config,
    const EntanglementRequest& request, std::uint64_t runs, std::optional<std::uint64_t> seed) {
    require_finite_limits(request, config);
    check_interrupt();
    const PhysicalPlan plan = plan_physical(network, config, *config.physics, request);
    PhysicalTrial trial(plan);
    std::vector<std::uint64_t> attempts(plan.hops.size());
    detail::EnsembleTotals totals;
    InterruptCountdown interrupt;
    auto add = [&](const PhysicalTrialOutcome& outcome) { totals.add(outcome); };
    if (seed) {
        detail::play_seeded_physical_trials(trial, runs, *seed, attempts.data(), interrupt, add);
    } else {
        for (std::uint64_t i = 0; i < runs; ++i) {
            interrupt.tick();
            ChaCha12Rng rng = ChaCha12Rng::zero_seeded();
            add(trial.play(rng, attempts.data(), interrupt));
        }
    }
    return totals.summary(plan, attempts, runs);
}

MonteCarloSummary MonteCarloSimulationEngine::execute_ensemble_reference(
    const QuantumNetwork& network, const SimulationConfig& config,
    const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed) {
    require_finite_limits(request, config);
    check_interrupt();
    const TimelinePlan plan = plan_timeline(network, config, request);
    const detail::FastPlan fast = detail::make_fast_plan(plan);

    detail::EnsembleTotals totals;
    InterruptCountdown interrupt;
    for (std::uint64_t i = 0; i < runs; ++i) {
        interrupt.tick();
        if (plan.outcome) {
            totals.add({plan.outcome->success, plan.outcome->latency_ms,
                        plan.outcome->final_fidelity, 0, 0});
        } else {
            ChaCha12Rng rng = ChaCha12Rng::seed_from_u64(seed + i);
            rng.with_four_block_refills();
            detail::ReferenceLossDraw loss(rng.key());
            totals.add(detail::play_trial_reference(fast, rng, loss, interrupt));
        }
    }
    return totals.summary(plan, runs);
}

}  // namespace tavo
