#pragma once
// One trial of the physical model: every hop of the route attempts until it heralds a pair, nodes
// swap as soon as they hold both of their pairs, and the end-to-end pair is delivered, purified
// with a second one when below the target, until the target is met or the limit is passed.
//
// Time only moves from event to event (a hop heralding, a pair reaching the cutoff, a delivery, a
// purification outcome), so a trial costs the same however many attempts its hops need: a hop's
// attempts up to its first success are one geometric draw.
//
// Draws, one 64-bit output each, in the order they are made:
// - a hop starting its attempts at time s draws N, the index of its first successful attempt;
//   all hops start at 0 (in path order), and again, in path order, whenever their pairs are lost or
//   a pair has been delivered;
// - at an instant, after the hops heralding then (in path order) have taken their pairs, every run
//   of adjacent pairs swaps; with swap_success below 1 each swap of a run draws its outcome, in
//   path order, and a run whose swaps do not all succeed loses its pairs and restarts its hops;
//   runs are taken in path order, each run's restarts right after its swap draws;
// - then, with a cutoff, pairs whose oldest part has reached it are discarded, in path order, and
//   their hops restart;
// - a purification draws its outcome when that outcome is known.

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tavo/interrupt.hpp"
#include "tavo/physics/plan.hpp"
#include "tavo/physics/werner.hpp"
#include "tavo/random/chacha.hpp"

namespace tavo {

struct PhysicalTrialOutcome {
    bool success = false;
    double latency_ms = 0.0;
    double fidelity = 0.0;    // 0.0 unless successful
    std::uint64_t drops = 0;  // attempts that failed
};

// Watches the draws of a trial (the probe reports them); the trial calls it at every draw.
struct IgnoreDraws {
    // Hop `hop` starts its attempts at `start`; its first success is attempt `attempts` (+inf when
    // it never succeeds).
    void hop_started(std::size_t /*hop*/, double /*start*/, std::uint64_t /*output*/,
                     double /*attempts*/) {}
    // The swap at path node `node` at `time`.
    void swap_drawn(std::size_t /*node*/, double /*time*/, std::uint64_t /*output*/,
                    bool /*success*/) {}
    void purification_drawn(double /*time*/, std::uint64_t /*output*/, bool /*success*/) {}
};

// Uniform on (0, 1]: (m + 1) 2^-53 for the top 53 bits m of an output.
inline double uniform_above_zero(std::uint64_t output) {
    return static_cast<double>((output >> 11) + 1) * 0x1p-53;
}

// Uniform on [0, 1): m 2^-53.
inline double uniform_below_one(std::uint64_t output) {
    return static_cast<double>(output >> 11) * 0x1p-53;
}

// The index N >= 1 of the first successful attempt when each succeeds with p = 1 -
// exp(log_failure), by inversion of one uniform u in (0, 1]: P(N > k) = P(u <= (1 - p)^k) = (1 -
// p)^k. +inf when p is 0. log_failure = log1p(-p) keeps p near 1e-20 exact, where 1 - p rounds
// to 1.
inline double geometric_attempts(double u, double log_failure) {
    if (!(log_failure < 0.0)) return std::numeric_limits<double>::infinity();
    return 1.0 + std::floor(std::log(u) / log_failure);
}

// The number of attempts begun before time `end` by a hop that started at `start` with attempts
// every `period`: the k with start + j period < end for j < k.
double attempts_begun(double start, double period, double end);

// The exponent a stored qubit's decay adds: held time times rate (0 when nothing was held, even at
// an infinite rate).
inline double decay_exponent(double held, double rate) { return held > 0.0 ? held * rate : 0.0; }

// A count held in a double, into 64 bits: 0 for nothing (or NaN), the largest count past the top.
inline std::uint64_t saturating_count(double count) {
    if (!(count > 0.0)) return 0;
    if (count >= 0x1p64) return ~std::uint64_t{0};
    return static_cast<std::uint64_t>(count);
}

// The earlier of two times (neither is NaN); std::fmin is a library call on baseline x86-64.
inline double earlier(double a, double b) { return b < a ? b : a; }

class PhysicalTrial {
public:
    // The plan must outlive the trial; one trial object plays every trial of an ensemble.
    explicit PhysicalTrial(const PhysicalPlan& plan)
        : plan_(plan),
          hops_(plan.hops.size()),
          ready_(hops_),
          started_(hops_),
          drawn_(hops_),
          created_(hops_),
          generating_(hops_),
          heralded_(hops_),
          right_(hops_ + 1),
          left_(hops_ + 1),
          excess_(hops_ + 1),
          decay_(hops_ + 1),
          oldest_(hops_ + 1) {}

    // Plays one trial with `rng`, adding each hop's attempts to attempts[hop].
    template <class Observer = IgnoreDraws>
    PhysicalTrialOutcome play(ChaCha12Rng& rng, std::uint64_t* attempts,
                              InterruptCountdown& interrupt, Observer&& observer = {});

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    static constexpr double kInfinity = std::numeric_limits<double>::infinity();

    template <class Observer>
    void start_hop(std::size_t hop, double at, ChaCha12Rng& rng, Observer& observer) {
        const std::uint64_t output = rng.next_u64();
        const PhysicalHop& constants = plan_.hops[hop];
        const double n = geometric_attempts(uniform_above_zero(output), constants.log_failure);
        generating_[hop] = true;
        started_[hop] = at;
        drawn_[hop] = n;
        ready_[hop] = at + n * constants.attempt_period_ms;
        observer.hop_started(hop, at, output, n);
    }

    template <class Observer>
    void start_hops(std::size_t first, std::size_t end, double at, ChaCha12Rng& rng,
                    Observer& observer) {
        for (std::size_t hop = first; hop < end; ++hop) start_hop(hop, at, rng, observer);
    }

    // The pairs of nodes [left, right) are gone: forget them.
    void clear_pairs(std::size_t left, std::size_t right) {
        for (std::size_t node = left; node < right;) {
            const std::size_t next = right_[node];
            right_[node] = kNone;
            left_[next] = kNone;
            node = next;
        }
    }

    // Hop `hop` heralds its pair at `at`.
    void herald(std::size_t hop, double at, std::uint64_t* attempts, std::uint64_t& drops) {
        const std::uint64_t count = saturating_count(drawn_[hop]);
        attempts[hop] += count;
        drops += count - 1;
        generating_[hop] = false;
        ready_[hop] = kInfinity;
        created_[hop] = at;
        right_[hop] = hop + 1;
        left_[hop + 1] = hop;
        excess_[hop] = plan_.hops[hop].fresh_excess;
        decay_[hop] = 0.0;
        oldest_[hop] = at;
    }

    // Counts the attempts the hops still attempting began before the trial ended at `end`.
    void count_unfinished(double end, std::uint64_t* attempts, std::uint64_t& drops) const {
        for (std::size_t hop = 0; hop < hops_; ++hop) {
            if (!generating_[hop]) continue;
            const double begun = std::fmin(
                attempts_begun(started_[hop], plan_.hops[hop].attempt_period_ms, end), drawn_[hop]);
            const std::uint64_t count = saturating_count(begun);
            attempts[hop] += count;
            // The successful attempt, when it has begun, has not failed.
            drops += count - (count > 0 && begun == drawn_[hop] ? 1 : 0);
        }
    }

    // The swaps of the run of adjacent pairs from node `left` to node `right`, at `at`.
    template <class Observer>
    void swap_run(std::size_t left, std::size_t right, double at, ChaCha12Rng& rng,
                  Observer& observer) {
        bool swapped = true;
        if (plan_.swap_success < 1.0) {
            for (std::size_t node = right_[left]; node < right; node = right_[node]) {
                const std::uint64_t output = rng.next_u64();
                const bool success = uniform_below_one(output) < plan_.swap_success;
                swapped = swapped && success;
                observer.swap_drawn(node, at, output, success);
            }
        }
        if (!swapped) {
            clear_pairs(left, right);
            start_hops(left, right, at, rng, observer);
            return;
        }
        double excess = excess_[left], decay = decay_[left], oldest = oldest_[left];
        for (std::size_t node = right_[left]; node < right;) {
            // Both of the node's qubits are measured now: hop node - 1's and hop node's.
            const double rate = plan_.decay_per_ms[node];
            decay += decay_[node] + decay_exponent(at - created_[node - 1], rate) +
                     decay_exponent(at - created_[node], rate);
            excess = swapped_excess(excess, excess_[node]);
            oldest = earlier(oldest, oldest_[node]);
            const std::size_t next = right_[node];
            right_[node] = kNone;
            left_[node] = kNone;
            node = next;
        }
        right_[left] = right;
        left_[right] = left;
        excess_[left] = excess;
        decay_[left] = decay;
        oldest_[left] = oldest;
    }

    const PhysicalPlan& plan_;
    std::size_t hops_;
    // Per hop: when its pair will herald (+inf while it holds one, rests or never succeeds), when
    // its current attempts began and the index of their first success, when its pair heralded.
    std::vector<double> ready_, started_, drawn_, created_;
    std::vector<char> generating_;
    std::vector<std::size_t> heralded_;  // the hops heralding at the current instant
    // Per node: the pair whose left end it holds, if any: its right end, excess fidelity at
    // creation times the swaps' factors, the decay exponent of the qubits measured so far, and the
    // time the oldest of the fresh pairs it was made from heralded; and the left end of the pair
    // whose right end it holds.
    std::vector<std::size_t> right_, left_;
    std::vector<double> excess_, decay_, oldest_;
};

template <class Observer>
PhysicalTrialOutcome PhysicalTrial::play(ChaCha12Rng& rng, std::uint64_t* attempts,
                                         InterruptCountdown& interrupt, Observer&& observer) {
    const PhysicalPlan& plan = plan_;
    if (!plan.routed) return {false, 0.0, 0.0, 0};
    const double limit = plan.limit_ms;
    const double target = plan.fidelity_target;
    std::uint64_t drops = 0;
    auto fail = [&]() -> PhysicalTrialOutcome {
        count_unfinished(limit, attempts, drops);
        return {false, limit, 0.0, drops};
    };
    if (hops_ == 0) {
        // A node and itself share perfect entanglement without any pair.
        if (0.0 <= limit && 1.0 >= target) return {true, 0.0, 1.0, 0};
        return {false, limit, 0.0, 0};
    }

    const double end_decay = plan.decay_per_ms.front() + plan.decay_per_ms.back();
    const double delivery_delay = hops_ > 1 ? plan.propagation_ms : 0.0;
    const bool cutoff = plan.cutoff_ms < kInfinity;
    // The end-to-end pair kept for purification, as its fidelity at a time.
    bool kept = false;
    double kept_fidelity = 0.0, kept_at = 0.0;

    for (std::size_t node = 0; node <= hops_; ++node) right_[node] = left_[node] = kNone;
    start_hops(0, hops_, 0.0, rng, observer);
    for (;;) {
        interrupt.tick();
        double now = kInfinity;
        for (std::size_t hop = 0; hop < hops_; ++hop) now = earlier(now, ready_[hop]);
        if (cutoff) {
            for (std::size_t node = 0; node < hops_; ++node) {
                if (right_[node] != kNone) now = earlier(now, oldest_[node] + plan.cutoff_ms);
            }
        }
        if (!(now <= limit)) return fail();

        std::size_t heralding = 0;
        for (std::size_t hop = 0; hop < hops_; ++hop) {
            if (ready_[hop] == now) {
                herald(hop, now, attempts, drops);
                heralded_[heralding++] = hop;
            }
        }
        // Only pairs heralded now can join others: the run around each of them swaps, runs in
        // path order (those of later hops come later), a pair already swapped now skipped.
        for (std::size_t k = 0; k < heralding; ++k) {
            const std::size_t hop = heralded_[k];
            if (right_[hop] != hop + 1) continue;
            std::size_t left = hop, right = hop + 1;
            while (left_[left] != kNone) left = left_[left];
            while (right < hops_ && right_[right] != kNone) right = right_[right];
            if (left != hop || right != hop + 1) swap_run(left, right, now, rng, observer);
        }
        if (right_[0] != hops_) {
            if (cutoff) {
                for (std::size_t node = 0; node < hops_; ++node) {
                    const std::size_t right = right_[node];
                    if (right != kNone && oldest_[node] + plan.cutoff_ms <= now) {
                        clear_pairs(node, right);
                        start_hops(node, right, now, rng, observer);
                    }
                }
            }
            continue;
        }

        // The end-to-end pair exists; its swap outcomes reach the ends after t_prop.
        right_[0] = kNone;
        left_[hops_] = kNone;
        const double delivered = now + delivery_delay;
        if (!(delivered <= limit)) return fail();
        const double exponent =
            decay_[0] + decay_exponent(delivered - created_[0], plan.decay_per_ms.front()) +
            decay_exponent(delivered - created_[hops_ - 1], plan.decay_per_ms.back());
        const double fidelity = kMixedFidelity + excess_[0] * std::exp(-exponent);
        double restart = delivered;
        if (!kept) {
            if (fidelity >= target) return {true, delivered, fidelity, drops};
            kept = true;
            kept_fidelity = fidelity;
            kept_at = delivered;
        } else {
            const double older =
                kMixedFidelity + (kept_fidelity - kMixedFidelity) *
                                     std::exp(-decay_exponent(delivered - kept_at, end_decay));
            const PurificationStep step = bbpssw(older, fidelity);
            const double known = delivered + plan.propagation_ms;
            if (!(known <= limit)) return fail();
            const std::uint64_t output = rng.next_u64();
            const bool success = uniform_below_one(output) < step.success_probability;
            observer.purification_drawn(known, output, success);
            restart = known;
            kept = success;
            if (success) {
                const double purified =
                    kMixedFidelity + (step.fidelity - kMixedFidelity) *
                                         std::exp(-decay_exponent(plan.propagation_ms, end_decay));
                if (purified >= target) return {true, known, purified, drops};
                kept_fidelity = purified;
                kept_at = known;
            }
        }
        start_hops(0, hops_, restart, rng, observer);
    }
}

}  // namespace tavo
