#include "tavo/montecarlo/sensitivity.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "tavo/error.hpp"
#include "tavo/montecarlo/context.hpp"
#include "tavo/montecarlo/ensemble.hpp"
#include "tavo/simulation/telemetry.hpp"

namespace tavo {
namespace {

constexpr double kLoweredFactor = 0.9;
constexpr double kRaisedFactor = 1.1;

// A decimal index: digits only, optionally after one plus sign.
std::optional<std::size_t> parse_index(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        std::size_t digit = std::size_t(c - '0');
        if (value > (SIZE_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// "node[3,t2]" with prefix "node[" gives {"3", "t2"}; anything but exactly two fields fails.
std::optional<std::pair<std::string_view, std::string_view>> parse_fields(std::string_view key,
                                                                          std::string_view prefix) {
    if (key.substr(0, prefix.size()) != prefix) return std::nullopt;
    key.remove_prefix(prefix.size());
    while (!key.empty() && key.back() == ']') key.remove_suffix(1);
    auto comma = key.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    std::string_view first = key.substr(0, comma), second = key.substr(comma + 1);
    if (second.find(',') != std::string_view::npos) return std::nullopt;
    return std::pair{first, second};
}

}  // namespace

PyMonteCarloContext with_mutated(const PyMonteCarloContext& context, std::string_view key,
                                 Perturbation direction) {
    PyMonteCarloContext copy = context;
    const double factor = direction == Perturbation::Lowered ? kLoweredFactor : kRaisedFactor;
    if (key.size() < 5) return copy;
    if (auto fields = parse_fields(key, "node[")) {
        auto index = parse_index(fields->first);
        if (index && *index < copy.nodes.size() && fields->second == "t2") {
            copy.nodes[*index].memory_lifetime_t2 *= factor;
        }
    } else if (auto fields = parse_fields(key, "link[")) {
        auto index = parse_index(fields->first);
        if (index && *index < copy.links.size()) {
            auto& link = copy.links[*index];
            if (fields->second == "distance") link.distance_km *= factor;
            if (fields->second == "fidelity") {
                link.base_fidelity *= factor;
                // A fidelity is a fidelity: the physical model keeps it between the maximally
                // mixed state and a perfect pair rather than refusing the variant.
                if (copy.physics) link.base_fidelity = std::clamp(link.base_fidelity, 0.25, 1.0);
            }
            if (fields->second == "rate") link.generation_rate_hz *= factor;
        }
    } else if (key == "alpha_loss_db_km") {
        if (copy.physics) {
            copy.physics->fiber_loss_db_km *= factor;
        } else {
            copy.baseline_purify_factor = (factor * 0.2) / 10.0;
        }
    }
    return copy;
}

double run_trial(const PyMonteCarloContext& context, std::uint64_t trials, std::uint64_t seed) {
    SimulationConfig config;
    config.physical.baseline_purify_factor = context.baseline_purify_factor;
    config.physical.speed_of_light_in_fiber_km_ms = 200.0;
    config.total_time_cutoff_ms = context.total_time_cutoff_ms;
    config.step_resolution_ms = context.step_resolution_ms;
    if (context.physics) {
        config.physics = context.physics;
        config.physical.speed_of_light_in_fiber_km_ms = context.speed_of_light_in_fiber_km_ms;
    }

    const QuantumNetwork network = network_of(context);
    EntanglementRequest request{context.from_node, context.to_node, context.fidelity_target,
                                context.max_latency_ms, context.strategy};
    return MonteCarloSimulationEngine::execute_ensemble(network, config, request, trials, seed)
        .empirical_success_rate;
}

double param_impact(const PyMonteCarloContext& context, std::string_view key, std::uint64_t trials,
                    const CommonRandomNumbers& reference, double base_rate) {
    double low =
        run_trial(with_mutated(context, key, Perturbation::Lowered), trials, reference.seed_low);
    double high =
        run_trial(with_mutated(context, key, Perturbation::Raised), trials, reference.seed_high);
    if (base_rate < 0.01) return 0.0;
    return (std::fabs(high - reference.rate_high) + std::fabs(low - reference.rate_low)) /
           base_rate;
}

std::vector<std::pair<std::string, double>> sensitivity_analysis(const MonteCarloStats& stats,
                                                                 std::uint64_t seed_base) {
    if (!stats.context) {
        throw InvalidValue("No simulation context available. Pass store_context=True to simulate().");
    }
    const PyMonteCarloContext& context = *stats.context;
    const double base_rate = stats.empirical_success_rate;
    const std::uint64_t nodes = context.nodes.size();
    const std::uint64_t trials = nodes * 50 >= 201 ? nodes * 50 : 200;

    // Every variant runs on the trials of the unchanged context it is compared with: lowered ones
    // with seed_base, raised ones with seed_base + 1. What moves the rate is then the parameter,
    // not the sampling.
    CommonRandomNumbers reference;
    reference.seed_low = seed_base;
    reference.seed_high = seed_base + 1;
    reference.rate_low = run_trial(context, trials, reference.seed_low);
    reference.rate_high = run_trial(context, trials, reference.seed_high);

    std::vector<std::pair<std::string, double>> impacts;
    auto measure = [&](const std::string& key) {
        return param_impact(context, key, trials, reference, base_rate);
    };
    for (std::size_t i = 0; i < context.nodes.size(); ++i) {
        double impact = measure("node[" + std::to_string(i) + ",t2]");
        impacts.emplace_back("memory_lifetime_t2:" + context.nodes[i].id, impact);
    }
    static constexpr std::pair<const char*, const char*> kLinkParameters[] = {
        {"distance", "distance_km"}, {"fidelity", "base_fidelity"}, {"rate", "generation_rate_hz"}};
    for (std::size_t j = 0; j < context.links.size(); ++j) {
        const auto& link = context.links[j];
        for (const auto& [parameter, name] : kLinkParameters) {
            double impact = measure("link[" + std::to_string(j) + "," + parameter + "]");
            impacts.emplace_back(std::string(name) + ":" + link_key(link.from_node, link.to),
                                 impact);
        }
    }
    impacts.emplace_back("alpha_loss_db_km", measure("alpha_loss_db_km"));

    // Largest first; a NaN impact (from a NaN base rate) sorts last.
    std::stable_sort(impacts.begin(), impacts.end(), [](const auto& a, const auto& b) {
        return a.second > b.second || (!std::isnan(a.second) && std::isnan(b.second));
    });
    return impacts;
}

}  // namespace tavo
