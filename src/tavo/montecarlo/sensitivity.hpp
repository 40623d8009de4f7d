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
// nothing leave the copy unchanged. The global loss parameter is not scaled from the context's
// value: it sets the purify factor from a fixed attenuation of 0.2 dB/km.
PyMonteCarloContext with_mutated(const PyMonteCarloContext& context, std::string_view key,
                                 Perturbation direction);

// The success rate of an ensemble of `trials` trials built from the context in a fresh engine.
double run_trial(const PyMonteCarloContext& context, std::uint64_t trials, std::uint64_t seed);

// (|rate raised - base| + |rate lowered - base|) / base, or 0.0 when base is below 0.01.
double param_impact(const PyMonteCarloContext& context, std::string_view key, std::uint64_t trials,
                    std::uint64_t seed_low, double base_rate, std::uint64_t seed_high);

// Result keys with their impacts, largest impact first (stable among equal impacts). Throws
// InvalidValue when the statistics carry no context.
std::vector<std::pair<std::string, double>> sensitivity_analysis(const MonteCarloStats& stats,
                                                                 std::uint64_t seed_base);

}  // namespace tavo
