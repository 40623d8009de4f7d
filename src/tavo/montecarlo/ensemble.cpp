#include "tavo/montecarlo/ensemble.hpp"

namespace tavo {
namespace detail {

MonteCarloSummary EnsembleTotals::means(std::uint64_t runs) const {
    MonteCarloSummary summary;
    summary.total_runs = runs;
    summary.empirical_success_rate = double(successes) / double(runs);
    summary.mean_latency_ms = latency_sum.value() / double(runs);
    summary.mean_fidelity = successes > 0 ? fidelity_sum.value() / double(successes) : 0.0;
    summary.aggregate_congestion_drops = drop_sum;
    return summary;
}

MonteCarloSummary EnsembleTotals::summary(const TimelinePlan& plan, std::uint64_t runs) const {
    MonteCarloSummary summary = means(runs);
    // Every cycle fires every hop once.
    if (cycle_sum > 0) {
        for (const auto& hop : plan.hops) summary.link_utilization_heatmap.add(hop.key, cycle_sum);
    }
    return summary;
}

MonteCarloSummary EnsembleTotals::summary(const PhysicalPlan& plan,
                                          const std::vector<std::uint64_t>& attempts,
                                          std::uint64_t runs) const {
    MonteCarloSummary summary = means(runs);
    for (std::size_t hop = 0; hop < plan.hops.size(); ++hop) {
        if (attempts[hop] > 0)
            summary.link_utilization_heatmap.add(plan.hops[hop].key, attempts[hop]);
    }
    return summary;
}

}  // namespace detail

MonteCarloSummary MonteCarloSimulationEngine::execute_ensemble(const QuantumNetwork& network,
                                                               const SimulationConfig& config,
                                                               const EntanglementRequest& request,
                                                               std::uint64_t runs,
                                                               std::uint64_t seed) {
    if (config.physics) return execute_physical_ensemble(network, config, request, runs, seed);
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
        detail::play_seeded_trials(fast, runs, seed, interrupt,
                                   [&](const detail::TrialOutcome& trial) { totals.add(trial); });
    }
    return totals.summary(plan, runs);
}

MonteCarloSummary MonteCarloSimulationEngine::execute_physical_ensemble(
    const QuantumNetwork& network, const SimulationConfig& config,
    const EntanglementRequest& request, std::uint64_t runs, std::uint64_t seed) {
    require_finite_limits(request, config);
    check_interrupt();
    const PhysicalPlan plan = plan_physical(network, config, *config.physics, request);
    PhysicalTrial trial(plan);
    std::vector<std::uint64_t> attempts(plan.hops.size());
    detail::EnsembleTotals totals;
    InterruptCountdown interrupt;
    if (!plan.routed) {
        // Every trial fails at once without a draw: no generator is worth starting.
        for (std::uint64_t i = 0; i < runs; ++i) {
            interrupt.tick();
            totals.add(PhysicalTrialOutcome{false, 0.0, 0.0, 0});
        }
    } else {
        detail::play_seeded_physical_trials(
            trial, runs, seed, attempts.data(), interrupt,
            [&](const PhysicalTrialOutcome& outcome) { totals.add(outcome); });
    }
    return totals.summary(plan, attempts, runs);
}

}  // namespace tavo
