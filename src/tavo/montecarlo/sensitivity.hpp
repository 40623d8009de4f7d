#pragma once
// Which physical parameters move an ensemble's success rate most: each is lowered and raised by 10 %
// in turn, the ensemble re-run, and the movement of the success rate scored.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tavo/montecarlo/stats.hpp"

namespace tavo {

enum class Perturbation { Lowered, Raised };

// A copy of `context` with the parameter named by `key` ("node[i,t2]", "link[j,distance]",
// "link[j,fidelity]", "link[j,rate]" or "alpha_loss_db_km") scaled by 0.9 or 1.1. Keys that name
// nothing leave the copy unchanged. On the cycle model the global loss parameter is not scaled
// from the context's value: it sets the purify factor from a fixed attenuation of 0.2 dB/km. On
// the physical model it scales the model's fiber_loss_db_km, and a scaled base fidelity stays
// within [0.25, 1].
PyMonteCarloContext with_mutated(const PyMonteCarloContext& context, std::string_view key,
                                 Perturbation direction);

// The success rate of an ensemble of `trials` trials built from the context in a fresh engine: on
// the cycle model at 200 km/ms, on the context's physical model at the context's speed.
double run_trial(const PyMonteCarloContext& context, std::uint64_t trials, std::uint64_t seed);

// The seeds every lowered and every raised variant runs with, and the success rates of the
// unchanged context with those seeds.
struct CommonRandomNumbers {
    std::uint64_t seed_low = 0;
    std::uint64_t seed_high = 0;
    double rate_low = 0.0;
    double rate_high = 0.0;
};

// (|rate raised - reference rate_high| + |rate lowered - reference rate_low|) / base_rate, or 0.0
// when base_rate is below 0.01 (both variants still run).
double param_impact(const PyMonteCarloContext& context, std::string_view key, std::uint64_t trials,
                    const CommonRandomNumbers& reference, double base_rate);

// Result keys with their impacts, largest impact first (stable among equal impacts). The impacts
// are measured with common random numbers (see CommonRandomNumbers), so a parameter that changes
// neither the route nor the timeline of the request scores exactly 0, and the same seed_base gives
// the same result. Throws InvalidValue when the statistics carry no context.
std::vector<std::pair<std::string, double>> sensitivity_analysis(const MonteCarloStats& stats,
                                                                 std::uint64_t seed_base);

}  // namespace tavo
