#pragma once
// One trial of the cycle model: every cycle each hop of the route attempts a link, one draw per
// attempt; a cycle whose attempts all succeeded swaps and purifies, and a failed attempt leaves the
// trial unable to succeed. Ensembles and single requests play their trials with this loop.

#include <cstdint>
#include <string_view>
#include <vector>

#include "tavo/interrupt.hpp"
#include "tavo/random/chacha.hpp"
#include "tavo/scheduler/cycle_clock.hpp"
#include "tavo/scheduler/physics.hpp"
#include "tavo/scheduler/plan.hpp"
#include "tavo/simulation/runtime.hpp"

namespace tavo {
namespace detail {

// The request's plan reduced to what the cycle loop reads, in flat arrays.
struct FastPlan {
    // Per hop: the draws below succeed (see inclusive_threshold).
    std::vector<std::uint64_t> thresholds;
    // The thresholds over and over (entry k is the one of hop k % hops), long enough to start at
    // any hop and run for a whole chunk of ChaCha12Rng::take_outputs.
    std::vector<std::uint64_t> threshold_run;
    std::vector<std::string_view> hop_from, hop_to;
    double target, limit, cutoff, purify_factor, route_fidelity;
    double swapped_fidelity;  // the fidelity after swapping when every hop delivered
    bool swaps;               // the path has an intermediate node
    // Every hop's threshold is 0 or 2^52: its attempts all fail or all succeed, whatever the draw.
    bool attempts_fixed;
    std::uint64_t fixed_failures;  // then, the failed attempts of one cycle
};

struct TrialOutcome {
    bool success;
    double latency_ms;
    double fidelity;
    std::uint64_t drops;   // the congestion-drop counter when the trial ended
    std::uint64_t cycles;  // cycles run (each fires every hop once)
};

// The hop names of the result point into `plan`, which must outlive it.
FastPlan make_fast_plan(const TimelinePlan& plan);
// Fills in threshold_run, attempts_fixed and fixed_failures from the thresholds.
void derive_attempt_counts(FastPlan& plan);

// The failed attempts among the next `cycles` cycles' draws of `rng` (every hop once per cycle,
// from hop 0), taken in bulk and compared as integers.
inline std::uint64_t count_failed_attempts(const FastPlan& plan, ChaCha12Rng& rng,
                                           std::uint64_t cycles, InterruptCountdown& interrupt) {
    const std::size_t hops = plan.thresholds.size();
    if (plan.attempts_fixed) {
        // Nothing drawn can change a count, and the trial's generator is not used again.
        interrupt.tick();
        return cycles * plan.fixed_failures;
    }
    std::uint64_t failed = 0;
    std::size_t hop = 0;  // the hop of the next draw
    auto count = [&](const std::uint32_t* words, std::size_t outputs) {
        interrupt.tick(static_cast<std::int64_t>(outputs));
        failed += count_outputs_not_below(words, plan.threshold_run.data() + hop, outputs);
        hop = (hop + outputs) % hops;
    };
    // In pieces, so that the number of draws cannot overflow however long the budget.
    constexpr std::uint64_t piece = std::uint64_t{1} << 32;
    for (; cycles > piece; cycles -= piece) rng.take_outputs(piece * hops, count);
    rng.take_outputs(cycles * hops, count);
    return failed;
}

// What a caller reads of a trial besides its result. An ensemble sums every trial's drops and
// cycles (Kept). A single request reads its result alone (ResultOnly): a trial then stops drawing
// at its first failed attempt, after which it can no longer succeed, and its drops count that
// attempt alone; its end time and its cycles still follow in closed form (cycle_end).
enum class TrialCounts { Kept, ResultOnly };

// One trial of the timeline for a plan that runs cycles. Loss draws only matter on paths with an
// intermediate node, and only while every attempt so far has succeeded; elsewhere they are skipped.
// Every cycle counts its link attempts towards the next look for interruption.
template <TrialCounts counts = TrialCounts::Kept, class LossDraw>
TrialOutcome play_trial(const FastPlan& plan, ChaCha12Rng& rng, LossDraw& loss,
                        InterruptCountdown& interrupt) {
    const std::size_t hops = plan.thresholds.size();
    const std::uint64_t* thresholds = plan.thresholds.data();
    double t = 0.0;
    double fidelity = plan.route_fidelity;
    std::uint64_t cycles = 0;
    const auto attempts = static_cast<std::int64_t>(hops) + 1;
    for (;;) {
        ++cycles;
        interrupt.tick(attempts);
        std::uint64_t failed = 0;
        for (std::size_t h = 0; h < hops; ++h) {
            failed += (rng.next_u64() >> 12) >= thresholds[h];
            if constexpr (counts == TrialCounts::ResultOnly) {
                if (failed != 0) break;
            }
        }

        if (failed != 0) {
            // The drop counter is never reset again, so the trial cannot succeed any more: the
            // remaining cycles only add their failed attempts to the counter.
            const CycleEnd end = cycle_end(t, plan.limit, plan.cutoff);
            if constexpr (counts == TrialCounts::Kept)
                failed += count_failed_attempts(plan, rng, end.cycles, interrupt);
            return {false, end.t, 0.0, failed, cycles + end.cycles};
        }

        if (plan.swaps) {
            bool all_survived = true;
            for (std::size_t h = 0; h < hops; ++h) {
                if (loss(plan.hop_from[h], plan.hop_to[h], t) < kLinkLossProbability)
                    all_survived = false;
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
}  // namespace tavo
