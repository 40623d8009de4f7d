#include "tavo/montecarlo/ensemble.hpp"

namespace tavo {
namespace detail {

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
    // Swapping multiplies the hops' link fidelities in path order, then purifies once per
    // intermediate node; with every hop delivered this is the same value in every cycle.
    double swapped = 1.0;
    for (const auto& hop : plan.hops) swapped *= hop.fidelity;
    for (std::size_t i = 0; i + 2 < plan.path.size(); ++i) swapped = purify(swapped, plan.purify_factor);
    fast.swapped_fidelity = swapped;
    return fast;
}

}  // namespace detail

MonteCarloSummary MonteCarloSimulationEngine::execute_ensemble(const QuantumNetwork& network,
                                                               const SimulationConfig& config,
                                                               const EntanglementRequest& request,
                                                               std::uint64_t runs,
                                                               std::optional<std::uint64_t> seed) {
    if (!seed) {
        return execute_ensemble_with(network, config, request, runs, seed,
                                     [](const ChaCha12Rng&) { return ThreadLossDraw{}; });
    }
    return execute_ensemble_with(network, config, request, runs, seed,
                                 [](const ChaCha12Rng& rng) { return TrialLossDraw(rng.key()); });
}

}  // namespace tavo
