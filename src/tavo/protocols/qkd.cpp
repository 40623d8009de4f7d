#include "tavo/protocols/qkd.hpp"

#include "tavo/engine/engine.hpp"
#include "tavo/physics/werner.hpp"
#include "text/forms.hpp"

namespace tavo {
namespace {

// What a failed round costs the exchange, whatever the request itself reported.
constexpr double kFailedRoundCostMs = 2.5;

}  // namespace

QKDResult run_qkd(const TavoEngine& engine, const QKDParameters& params) {
    QKDResult result;
    // On the physical model each round's pair is read as a Werner state: the sum is of the error
    // rates (1 - w)/2, and round k draws from the generator seeded with k.
    const bool physical = engine.config().physics.has_value();
    double fidelity_sum = 0.0, error_sum = 0.0;
    double elapsed = 0.0;

    if (engine.has_network()) {
        for (std::uint64_t round = 0; round < params.rounds; ++round) {
            if (elapsed >= params.max_latency_ms) {
                // Only the round that found the budget spent counts as failed, not the ones after it.
                ++result.rounds_failed;
                break;
            }
            const EntanglementRequest request{
                params.from_node, params.to_node, params.fidelity_target,
                params.max_latency_ms - elapsed, StrategyType::HighestFidelity};
            SimulationResult outcome =
                physical ? engine.request_entanglement(request, ChaCha12Rng::seed_from_u64(round))
                         : engine.request_entanglement(request);
            // A failed round of the physical model took the time its request ran.
            double cost = physical ? outcome.latency_ms : kFailedRoundCostMs;
            if (outcome.success) {
                fidelity_sum += outcome.final_fidelity;
                error_sum += bb84_error_rate(werner_parameter(outcome.final_fidelity));
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
    const double rounds = static_cast<double>(completed);
    if (completed == 0) {
        result.qber = 1.0;
    } else {
        result.qber = physical ? error_sum / rounds : (1.0 - fidelity_sum / rounds) * 0.5;
    }

    if (completed > 0 && result.qber < params.error_rate_tolerance) {
        const std::uint64_t sifted = text::saturating_u64((1.0 - params.sifting_overhead_ratio) *
                                                          static_cast<double>(completed));
        // The asymptotic BB84 fraction on the physical model (nothing when not positive), the
        // fixed factor otherwise.
        const double kept =
            physical ? bb84_secret_fraction(result.qber) : params.privacy_amplification_factor;
        result.secret_key_length_bits = text::saturating_u64(static_cast<double>(sifted) * kept);
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
