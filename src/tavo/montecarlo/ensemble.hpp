#pragma once
// Monte Carlo ensembles: many seeded trials of one request, summed into statistics.

#include <algorithm>
#include <cstdint>

#include "tavo/interrupt.hpp"
#include "tavo/montecarlo/compensated_sum.hpp"
#include "tavo/montecarlo/stats.hpp"
#include "tavo/network/config.hpp"
#include "tavo/network/quantum_network.hpp"
#include "tavo/physics/trial.hpp"
#include "tavo/scheduler/plan.hpp"
#include "tavo/scheduler/trial.hpp"

namespace tavo {

class MonteCarloSimulationEngine {
public:
    // Runs `runs` trials. Trial i draws its link attempts from seed_from_u64(seed + i) (wrapping)
    // and its losses from the same key on the loss stream (TrialLossDraw), so that it depends on
    // seed + i alone: an ensemble split into consecutive chunks (seed s for runs [0, a), seed s + a
    // for the rest) sums to the whole. Callers always have a seed: the engine reads the clock when
    // the user gives none. The figures are exactly those of the timeline that records every
    // attempt in its telemetry and runtime, played once per trial with the same draws.
    static MonteCarloSummary execute_ensemble(const QuantumNetwork& network,
                                              const SimulationConfig& config,
                                              const EntanglementRequest& request,
                                              std::uint64_t runs, std::uint64_t seed);

    // The ensemble on the physical model of the configuration (see execute_ensemble, which calls
    // it when the configuration has one): the same seeding, chunking and statistics, with the
    // trials of src/tavo/physics. Refuses what the model cannot use (check_physical_inputs).
    static MonteCarloSummary execute_physical_ensemble(const QuantumNetwork& network,
                                                       const SimulationConfig& config,
                                                       const EntanglementRequest& request,
                                                       std::uint64_t runs, std::uint64_t seed);
};

namespace detail {

// Whether every attempt of a trial's first cycle succeeds, read from block 0 of its stream (the
// first cycle's draws must lie within it: at most eight hops).
inline bool first_cycle_delivers(const FastPlan& plan, const std::uint32_t* block) {
    bool delivers = true;
    for (std::size_t h = 0; h < plan.thresholds.size(); ++h) {
        const std::uint64_t x = std::uint64_t{block[2 * h]} | std::uint64_t{block[2 * h + 1]} << 32;
        delivers &= (x >> 12) < plan.thresholds[h];
    }
    return delivers;
}

// The seeded trials of an ensemble (trial i uses seed + i, wrapping), `runs` of them from trial 0,
// in groups: block 0 of stream 0 of every trial of a group is computed in one call, one trial per
// vector lane, as most trials are short and need little more than that block. Hands each group,
// in order, to visit_group(kernel, keys, blocks, group): trial b of the group has key keys[b] and
// block 0 at blocks + 16 * b, for b < group.
template <class VisitGroup>
void for_each_seeded_group(std::uint64_t runs, std::uint64_t seed, VisitGroup&& visit_group) {
    const ChaChaKernel kernel = chacha_kernel();
    const std::size_t lanes = chacha_kernel_blocks(kernel);
    constexpr std::size_t most = chacha_kernel_blocks(ChaChaKernel::Avx512);
    alignas(64) std::uint32_t blocks[16 * most];
    ChaChaKey keys[most];
    for (std::uint64_t done = 0; done < runs;) {
        const auto group = static_cast<std::size_t>(std::min<std::uint64_t>(lanes, runs - done));
        // Lanes past the end of the ensemble compute blocks nobody reads.
        chacha12_seeded_first_blocks(kernel, seed + done, 0, blocks, keys);
        visit_group(kernel, static_cast<const ChaChaKey*>(keys),
                    static_cast<const std::uint32_t*>(blocks), group);
        done += group;
    }
}

// Plays the seeded trials of an ensemble for a plan that runs cycles, and hands each outcome, in
// order, to visit(outcome).
//
// Block 0 of the loss stream is computed in groups too, for the trials whose first cycle delivers
// every link (the only ones that draw losses, when that cycle fits in block 0). Each trial then
// plays on with generators that already hold their block 0.
template <class Visit>
void play_seeded_trials(const FastPlan& plan, std::uint64_t runs, std::uint64_t seed,
                        InterruptCountdown& interrupt, Visit&& visit) {
    const bool foresee_losses = plan.swaps && plan.thresholds.size() <= 8;
    constexpr std::size_t most = chacha_kernel_blocks(ChaChaKernel::Avx512);
    alignas(64) std::uint32_t loss_blocks[16 * most];
    ChaChaKey loss_keys[most];
    std::size_t loss_lane[most];
    constexpr std::size_t no_lane = most;
    for_each_seeded_group(
        runs, seed,
        [&](ChaChaKernel kernel, const ChaChaKey* keys, const std::uint32_t* attempt_blocks,
            std::size_t group) {
            const std::size_t lanes = chacha_kernel_blocks(kernel);
            std::size_t with_losses = 0;
            for (std::size_t b = 0; b < group; ++b) {
                loss_lane[b] = no_lane;
                if (foresee_losses && first_cycle_delivers(plan, attempt_blocks + 16 * b)) {
                    loss_lane[b] = with_losses;
                    loss_keys[with_losses++] = keys[b];
                }
            }
            if (with_losses > 0) {
                for (std::size_t b = with_losses; b < lanes; ++b) loss_keys[b] = loss_keys[0];
                chacha12_first_blocks(kernel, loss_keys, kLossStream, loss_blocks);
            }
            for (std::size_t b = 0; b < group; ++b) {
                interrupt.tick();
                ChaCha12Rng rng =
                    ChaCha12Rng::with_first_block(keys[b], 0, attempt_blocks + 16 * b);
                TrialLossDraw loss(
                    keys[b], loss_lane[b] == no_lane ? nullptr : loss_blocks + 16 * loss_lane[b]);
                visit(play_trial(plan, rng, loss, interrupt));
            }
        });
}

// The seeded trials of an ensemble on the physical model, each outcome handed in order to
// visit(outcome); each hop's attempts are added to attempts[hop].
template <class Visit>
void play_seeded_physical_trials(PhysicalTrial& trial, std::uint64_t runs, std::uint64_t seed,
                                 std::uint64_t* attempts, InterruptCountdown& interrupt,
                                 Visit&& visit) {
    for_each_seeded_group(
        runs, seed,
        [&](ChaChaKernel, const ChaChaKey* keys, const std::uint32_t* blocks, std::size_t group) {
            for (std::size_t b = 0; b < group; ++b) {
                interrupt.tick();
                ChaCha12Rng rng = ChaCha12Rng::with_first_block(keys[b], 0, blocks + 16 * b);
                visit(trial.play(rng, attempts, interrupt));
            }
        });
}

// The sums an ensemble keeps over its trials, in trial order.
struct EnsembleTotals {
    std::uint64_t successes = 0;
    CompensatedSum latency_sum;
    CompensatedSum fidelity_sum;
    std::uint64_t drop_sum = 0;
    std::uint64_t cycle_sum = 0;

    void add(const TrialOutcome& trial) {
        if (trial.success) fidelity_sum.add(trial.fidelity);
        latency_sum.add(trial.latency_ms);
        drop_sum += trial.drops;
        cycle_sum += trial.cycles;
        successes += trial.success ? 1 : 0;
    }

    // The rate and means over `runs` trials, without the heatmap.
    MonteCarloSummary means(std::uint64_t runs) const;
    MonteCarloSummary summary(const TimelinePlan& plan, std::uint64_t runs) const;
    // For the physical model, whose hops each count their own attempts.
    MonteCarloSummary summary(const PhysicalPlan& plan, const std::vector<std::uint64_t>& attempts,
                              std::uint64_t runs) const;

    void add(const PhysicalTrialOutcome& trial) {
        add(TrialOutcome{trial.success, trial.latency_ms, trial.fidelity, trial.drops, 0});
    }
};

}  // namespace detail

}  // namespace tavo
