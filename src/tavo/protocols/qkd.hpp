#pragma once
// BB84-style key distribution over entanglement requests: every round is one request, and the
// sequence of round outcomes becomes an error rate, a sifted and an amplified key length.

#include <cstdint>
#include <string>
#include <vector>

namespace tavo {

class TavoEngine;

struct QKDParameters {
    std::string from_node;
    std::string to_node;
    double fidelity_target = 0.0;
    double max_latency_ms = 0.0;  // budget of the whole exchange
    std::uint64_t rounds = 100;
    double error_rate_tolerance = 0.11;  // the error rate must stay strictly below it
    double sifting_overhead_ratio = 0.5;
    double privacy_amplification_factor = 0.8;
};

struct QKDResult {
    bool success = false;
    std::uint64_t secret_key_length_bits = 0;
    double efficiency_rate = 0.0;  // key bits per requested round
    double qber = 0.0;
    double latency_ms = 0.0;
    std::vector<std::string> execution_path;  // route of the last successful round
    std::uint64_t rounds_completed = 0;
    std::uint64_t rounds_failed = 0;
};

// A summary of several exchanges, filled in by the caller.
struct QKDStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_key_length_bits = 0.0;
    double mean_efficiency = 0.0;
    double mean_qber = 0.0;
};

// Runs the exchange; without a network on the engine, no round is attempted.
QKDResult run_qkd(const TavoEngine& engine, const QKDParameters& params);

std::string repr(const QKDResult& result);
std::string repr(const QKDStats& stats);

}  // namespace tavo
