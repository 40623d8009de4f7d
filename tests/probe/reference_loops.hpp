#pragma once
// The loops the library's fast ones replaced, kept to check against (the probe) and to measure
// against (the benchmarks): a generator that computes four blocks at its first refill, the trial
// loop that plays one trial at a time and draws out every cycle of a failed trial, the seeded
// ensemble built on both, and the timeline of one request step by step, recording every attempt.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "tavo/interrupt.hpp"
#include "tavo/montecarlo/ensemble.hpp"
#include "tavo/random/chacha.hpp"
#include "tavo/scheduler/cycle_clock.hpp"
#include "tavo/scheduler/physics.hpp"
#include "tavo/scheduler/plan.hpp"
#include "tavo/scheduler/result.hpp"
#include "tavo/scheduler/trial.hpp"
#include "tavo/simulation/runtime.hpp"
#include "tavo/simulation/telemetry.hpp"

namespace reference {

// The outputs of ChaCha12Rng::from_key(key, stream), with refills as every generator made them
// before refills started from a single block: four blocks at least, then as many as the counter's
// lowest set bit allows, up to the selected kernel's width (4, 4, 8, 16, 16, ...).
class FourBlockRng {
public:
    explicit FourBlockRng(const tavo::ChaChaKey& key, std::uint64_t stream = 0) noexcept
        : key_(key), stream_(stream) {}
    static FourBlockRng seeded(std::uint64_t seed) noexcept {
        return FourBlockRng(tavo::ChaCha12Rng::seed_from_u64(seed).key());
    }

    const tavo::ChaChaKey& key() const noexcept { return key_; }
    std::uint64_t blocks_computed() const noexcept { return counter_; }

    std::uint32_t next_u32() noexcept {
        if (index_ == end_) refill();
        return buffer_[index_++];
    }

    std::uint64_t next_u64() noexcept {
        if (index_ + 1 < end_) [[likely]] {
            const std::uint64_t low = buffer_[index_];
            const std::uint64_t high = buffer_[index_ + 1];
            index_ += 2;
            return (high << 32) | low;
        }
        const std::uint64_t low = next_u32();
        return std::uint64_t{next_u32()} << 32 | low;
    }

    double uniform_inclusive() noexcept { return tavo::inclusive_from_u64(next_u64()); }
    double uniform_half_open() noexcept { return tavo::half_open_from_u64(next_u64()); }

private:
    void refill() noexcept {
        std::uint64_t blocks = counter_ == 0 ? 1 : counter_ & (~counter_ + 1);
        blocks = std::min<std::uint64_t>(blocks, tavo::chacha_kernel_blocks(tavo::chacha_kernel()));
        blocks = std::max<std::uint64_t>(blocks, 4);
        tavo::chacha12_block_run(key_, counter_, stream_, static_cast<std::size_t>(blocks),
                                 buffer_.data());
        counter_ += blocks;
        end_ = static_cast<std::uint32_t>(16 * blocks);
        index_ = 0;
    }

    alignas(64) std::array<std::uint32_t, tavo::ChaCha12Rng::buffer_words> buffer_;
    tavo::ChaChaKey key_;
    std::uint64_t stream_;
    std::uint64_t counter_ = 0;
    std::uint32_t index_ = 0;
    std::uint32_t end_ = 0;
};

// The loss draws of a seeded trial as the reference trial loop made them: the trial's loss
// stream, made when the first loss is drawn, refilling four blocks at a time from the start.
class ReferenceLossDraw {
public:
    explicit ReferenceLossDraw(const tavo::ChaChaKey& key) noexcept : key_(key) {}

    double operator()(std::string_view, std::string_view, double) {
        if (!rng_) rng_.emplace(key_, tavo::kLossStream);
        return rng_->uniform_half_open();
    }

private:
    tavo::ChaChaKey key_;
    std::optional<FourBlockRng> rng_;
};

// One trial as it was played before trials went in groups: each failed trial draws out its
// remaining cycles one by one.
template <class Rng, class LossDraw>
tavo::detail::TrialOutcome play_trial_reference(const tavo::detail::FastPlan& plan, Rng& rng,
                                                LossDraw& loss,
                                                tavo::InterruptCountdown& interrupt) {
    using namespace tavo;
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
        for (std::size_t h = 0; h < hops; ++h) failed += (rng.next_u64() >> 12) >= thresholds[h];

        if (failed != 0) {
            std::uint64_t drops = failed;
            for (;;) {
                t += kCycleMs;
                if (!(plan.limit > t && plan.cutoff > t)) break;
                ++cycles;
                interrupt.tick(attempts);
                for (std::size_t h = 0; h < hops; ++h)
                    drops += (rng.next_u64() >> 12) >= thresholds[h];
            }
            return {false, t, 0.0, drops, cycles};
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

// The seeded ensemble of the cycle model as it was computed before trials went in groups: trial i
// on its own generator FourBlockRng::seeded(seed + i), with the reference trial loop. The figures
// are those of MonteCarloSimulationEngine::execute_ensemble.
inline tavo::MonteCarloSummary seeded_ensemble(const tavo::QuantumNetwork& network,
                                               const tavo::SimulationConfig& config,
                                               const tavo::EntanglementRequest& request,
                                               std::uint64_t runs, std::uint64_t seed) {
    using namespace tavo;
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
            FourBlockRng rng = FourBlockRng::seeded(seed + i);
            ReferenceLossDraw loss(rng.key());
            totals.add(play_trial_reference(fast, rng, loss, interrupt));
        }
    }
    return totals.summary(plan, runs);
}

// The timeline of one request played step by step: each attempt recorded in the telemetry, each
// generated link pushed through the runtime's queue, the completed links looked up by hop for
// swapping. The fast trial loop, in ensembles and single requests alike, must give its figures to
// the bit.
//
// What a caller reads of it: the result and the telemetry and runtime counters (Everything), or
// the result alone (ResultOnly, as a single request did before it played the fast loop): attempts
// are then not recorded, and a trial that can no longer succeed stops drawing at its first failed
// attempt, the time at which its cycles end following at once (cycle_end).
enum class Observed { Everything, ResultOnly };

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
tavo::SimulationResult play_timeline(tavo::NetworkTelemetry& telemetry,
                                     const tavo::QuantumNetwork& network,
                                     tavo::SimulationRuntime& runtime,
                                     const tavo::EntanglementRequest& request,
                                     const tavo::ChaCha12Rng* generator, LossDraw&& loss,
                                     Observed observed = Observed::Everything) {
    using namespace tavo;
    check_interrupt();
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
                for (std::size_t i = 0; i + 2 < n; ++i)
                    fidelity = purify(fidelity, plan.purify_factor);
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

}  // namespace reference
