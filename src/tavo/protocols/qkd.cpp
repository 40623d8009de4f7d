#include "tavo/protocols/qkd.hpp"

#include "tavo/engine/engine.hpp"
#include "text/forms.hpp"

namespace tavo {
namespace {

// What a failed round costs the exchange, whatever the request itself reported.
constexpr double kFailedRoundCostMs = 2.5;

}  // namespace

QKDResult run_qkd(const TavoEngine& engine, const QKDParameters& params) {
    QKDResult result;
    double fidelity_sum = 0.0;
    double elapsed = 0.0;

    if (engine.has_network()) {
        for (std::uint64_t round = 0; round < params.rounds; ++round) {
            if (elapsed >= params.max_latency_ms) {
                // Only the round that found the budget spent counts as failed, not the ones after it.
                ++result.rounds_failed;
                break;
            }
            SimulationResult outcome = engine.request_entanglement(
                EntanglementRequest{params.from_node, params.to_node, params.fidelity_target,
                                    params.max_latency_ms - elapsed, StrategyType::HighestFidelity});
            double cost = kFailedRoundCostMs;
            if (outcome.success) {
                fidelity_sum += outcome.final_fidelity;
                ++result.rounds_completed;
                result.execution_path = std::move(outcome.execution_path);
                cost = outcome.latency_ms;
            } else {
                ++result.rounds_failed;
            }
            elapsed += cost;
        }
    }

    const std::uint64_t completed = result.rounds_completed;
    result.qber = completed > 0
                      ? (1.0 - fidelity_sum / static_cast<double>(completed)) * 0.5
                      : 1.0;

    if (completed > 0 && result.qber < params.error_rate_tolerance) {
        const std::uint64_t sifted = text::saturating_u64((1.0 - params.sifting_overhead_ratio) *
                                                          static_cast<double>(completed));
        result.secret_key_length_bits =
            text::saturating_u64(static_cast<double>(sifted) * params.privacy_amplification_factor);
    }

    result.efficiency_rate =
        params.rounds > 0 ? static_cast<double>(result.secret_key_length_bits) /
                                static_cast<double>(params.rounds)
                          : 0.0;
    result.success = completed > 0;
    result.latency_ms = elapsed;
    return result;
}

std::string repr(const QKDResult& result) {
    return std::string("QKDResult(success=") + text::boolean(result.success) +
           ", key_bits=" + std::to_string(result.secret_key_length_bits) +
           ", qber=" + text::fixed(result.qber, 4) + ")";
}

std::string repr(const QKDStats& stats) {
    return "QKDStats(runs=" + std::to_string(stats.total_runs) +
           ", success=" + text::fixed(stats.success_rate * 100.0, 0) +
           ", mean_key_len=" + text::fixed(stats.mean_key_length_bits, 1) + ")";
}

}  // namespace tavo
