#include "tavo/scheduler/trial.hpp"

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
    fast.threshold_run.reserve(hops > 0 ? hops + 128 : 0);
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
    fast.thresholds.reserve(plan.hops.size());
    fast.hop_from.reserve(plan.hops.size());
    fast.hop_to.reserve(plan.hops.size());
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
    for (std::size_t i = 0; i + 2 < plan.path.size(); ++i)
        swapped = purify(swapped, plan.purify_factor);
    fast.swapped_fidelity = swapped;
    return fast;
}

}  // namespace detail
}  // namespace tavo
