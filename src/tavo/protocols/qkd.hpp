#pragma once
// BB84-style key distribution over entanglement requests: every round is one request, and the
// sequence of round outcomes becomes an error rate, a sifted and an amplified key length.

#include <cstdint>
#include <string>
#include <vector>

#include "tavo/record.hpp"

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

template <>
struct Fields<QKDParameters> {
    using P = QKDParameters;
    static constexpr std::string_view name = "QKDParameters";
    static constexpr std::string_view doc = R"(
        Parameters of a key exchange (TavoEngine.run_qkd).

        A record; the key exchange copies it and never changes it.

        Key exchange parameters; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&P::from_node>({
            .name = "from_node",
            .doc = "Node id of one party (each round's request source).",
        }),
        field<&P::to_node>({
            .name = "to_node",
            .doc = "Node id of the other party (each round's request target).",
            .argument = "Node id of the other party.",
        }),
        field<&P::fidelity_target>({
            .name = "fidelity_target",
            .doc = "Fidelity target of every round's request, a fraction.",
        }),
        field<&P::max_latency_ms>({
            .name = "max_latency_ms",
            .doc = "Time budget of the whole exchange in ms.",
        }),
        field<&P::rounds>({
            .name = "rounds",
            .doc = "Number of rounds to attempt (default 100).",
            .parameter = Parameter::Optional,
            .argument = "Number of rounds to attempt, 0 or more; None: 100.",
        }),
        field<&P::error_rate_tolerance>({
            .name = "error_rate_tolerance",
            .doc = R"(
                A key is produced only when the QBER is strictly below this fraction (default 0.11).)",
            .parameter = Parameter::Optional,
            .argument = "The QBER must be below it for a key; None: 0.11.",
        }),
        field<&P::sifting_overhead_ratio>({
            .name = "sifting_overhead_ratio",
            .doc = "Fraction of the successful rounds discarded by basis sifting (default 0.5).",
            .parameter = Parameter::Optional,
            .argument = "Fraction of the successful rounds sifted away; None: 0.5.",
        }),
        field<&P::privacy_amplification_factor>({
            .name = "privacy_amplification_factor",
            .doc = R"(
                Fraction of the sifted bits kept after privacy amplification (default 0.8). The
                physical model keeps 1 - 2 h(qber) instead.)",
            .parameter = Parameter::Optional,
            .argument = "Fraction of the sifted bits kept; None: 0.8.",
        }),
    };
};

template <>
struct Fields<QKDResult> {
    using R = QKDResult;
    static constexpr std::string_view name = "QKDResult";
    static constexpr std::string_view doc = R"(
        The outcome of a key exchange.

        A result record; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&R::success>({
            .name = "success",
            .doc = "Whether at least one round succeeded (even when the key is empty).",
            .argument = "Whether at least one round succeeded.",
        }),
        field<&R::secret_key_length_bits>({
            .name = "secret_key_length_bits",
            .doc = "Length of the final key in bits.",
            .argument = "Key length in bits.",
        }),
        field<&R::efficiency_rate>({
            .name = "efficiency_rate",
            .doc = "Key bits per requested round (0.0 for 0 rounds).",
            .argument = "Key bits per requested round.",
        }),
        field<&R::qber>({
            .name = "qber",
            .doc = R"(
                Quantum bit error rate, a fraction: (1 - mean fidelity of the successful rounds) /
                2, or 1.0 when no round succeeded. On the physical model the mean of (1 - w)/2
                over the successful rounds, w = (4F - 1)/3 the Werner parameter of each pair.)",
            .argument = "Quantum bit error rate, a fraction.",
        }),
        field<&R::latency_ms>({
            .name = "latency_ms",
            .doc = R"(
                Time the exchange took in ms: the latencies of the successful rounds plus 2.5 ms per
                failed request (on the physical model, plus each failed request's own time).)",
            .argument = "Time the exchange took, in ms.",
        }),
        field<&R::execution_path>({
            .name = "execution_path",
            .doc = R"(
                Route of the last successful round, source first (a new list); empty when none
                succeeded.)",
            .argument = "Route of the last successful round.",
        }),
        field<&R::rounds_completed>({
            .name = "rounds_completed",
            .doc = "Number of successful rounds.",
            .argument = "Successful rounds.",
        }),
        field<&R::rounds_failed>({
            .name = "rounds_failed",
            .doc = R"(
                Number of failed rounds, including the one that found the time budget spent (rounds
                after it are not counted).)",
            .argument = "Failed rounds.",
        }),
    };
};

template <>
struct Fields<QKDStats> {
    using S = QKDStats;
    static constexpr std::string_view name = "QKDStats";
    static constexpr std::string_view doc = R"(
        Summary of several key exchanges. No operation produces it: a record to fill yourself.

        A summary record; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&S::total_runs>({
            .name = "total_runs",
            .doc = "Number of key exchanges summarised.",
            .argument = "Number of exchanges.",
        }),
        field<&S::success_rate>({
            .name = "success_rate",
            .doc = "Fraction of successful exchanges, 0..1.",
            .argument = "Fraction of successful exchanges.",
        }),
        field<&S::mean_key_length_bits>({
            .name = "mean_key_length_bits",
            .doc = "Mean key length in bits.",
        }),
        field<&S::mean_efficiency>({
            .name = "mean_efficiency",
            .doc = "Mean key bits per requested round.",
        }),
        field<&S::mean_qber>({
            .name = "mean_qber",
            .doc = "Mean quantum bit error rate, a fraction.",
        }),
    };
};

}  // namespace tavo
