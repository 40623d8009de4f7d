// Throughput of the Monte Carlo ensemble against the floor set by the random source.
//
// For a few inline networks it prints trials per second and link attempts per second; in the same
// run it measures the seeded generator's raw 64-bit output rate, the cost floor of one link attempt.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tavo/engine/engine.hpp"
#include "tavo/montecarlo/context.hpp"
#include "tavo/montecarlo/ensemble.hpp"
#include "tavo/montecarlo/sensitivity.hpp"
#include "tavo/topology/generator.hpp"

namespace {

using namespace tavo;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Best of `repeats` timings of `body`, which returns the amount of work done.
template <class Body>
std::pair<double, double> best_rate(int repeats, Body&& body) {
    double best = 0.0, work = 0.0;
    for (int r = 0; r < repeats; ++r) {
        auto start = Clock::now();
        work = body();
        double rate = work / seconds_since(start);
        if (rate > best) best = rate;
    }
    return {best, work};
}

double generator_rate() {
    volatile std::uint64_t sink = 0;
    auto [rate, work] = best_rate(5, [&] {
        ChaCha12Rng rng = ChaCha12Rng::seed_from_u64(42);
        std::uint64_t acc = 0;
        const std::uint64_t draws = 50'000'000;
        for (std::uint64_t i = 0; i < draws; ++i) acc += rng.next_u64();
        sink = acc;
        return double(draws);
    });
    (void)sink;
    return rate;
}

struct Scenario {
    std::string name;
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    EntanglementRequest request;
    SimulationConfig config = SimulationConfig::engine_default();
    std::uint64_t runs;
};

LinkDefinition fiber(std::string a, std::string b, double km, double fidelity, double rate) {
    return LinkDefinition{std::move(a), std::move(b), km, fidelity, rate, LinkType::Fiber, std::nullopt};
}

std::vector<NodeDefinition> named(std::initializer_list<const char*> ids) {
    std::vector<NodeDefinition> nodes;
    for (const char* id : ids) nodes.push_back({id, 1.0});
    return nodes;
}

std::vector<Scenario> scenarios() {
    std::vector<Scenario> list;
    list.push_back({"2-hop chain", named({"A", "B", "C"}),
                    {fiber("A", "B", 50, 0.97, 1000), fiber("B", "C", 50, 0.97, 1000)},
                    {"A", "C", 0.9, 500.0, std::nullopt}, SimulationConfig::engine_default(), 200'000});
    list.push_back({"4-hop chain", named({"N0", "N1", "N2", "N3", "N4"}),
                    {fiber("N0", "N1", 100, 0.92, 800), fiber("N1", "N2", 100, 0.92, 800),
                     fiber("N2", "N3", 100, 0.92, 800), fiber("N3", "N4", 100, 0.92, 800)},
                    {"N0", "N4", 0.8, 500.0, std::nullopt}, SimulationConfig::engine_default(), 200'000});
    list.push_back({"six-node mesh", named({"A", "B", "C", "D", "E", "F"}),
                    {fiber("A", "B", 5, 0.97, 2000), fiber("B", "C", 80, 0.93, 1200),
                     fiber("C", "D", 600, 0.88, 600), fiber("D", "E", 5500, 0.75, 150),
                     fiber("C", "F", 900, 0.91, 500), fiber("F", "E", 4800, 0.80, 200),
                     fiber("B", "F", 1200, 0.85, 400), fiber("A", "D", 700, 0.9, 500)},
                    {"A", "E", 0.7, 5000.0, StrategyType::HighestFidelity},
                    SimulationConfig::engine_default(), 100'000});
    SimulationConfig long_budget = SimulationConfig::engine_default();
    long_budget.total_time_cutoff_ms = 1e7;
    list.push_back({"long-budget failing request", named({"A", "B", "C"}),
                    {fiber("A", "B", 2000, 0.9, 100), fiber("B", "C", 2000, 0.9, 100)},
                    {"A", "C", 0.95, 1e7, StrategyType::LowestLatency}, long_budget, 20});
    return list;
}

}  // namespace

int main() {
    double floor = generator_rate();
    std::printf("seeded generator: %.1f M 64-bit outputs/s\n\n", floor / 1e6);
    std::printf("%-30s %14s %16s %10s %12s\n", "scenario", "trials/s", "attempts/s", "vs floor",
                "success");
    for (const Scenario& s : scenarios()) {
        TavoEngine engine(s.config);
        engine.define_network(s.nodes, s.links);
        MonteCarloSummary summary;
        auto [trial_rate, trials] = best_rate(3, [&] {
            summary = engine.simulate(s.request, s.runs, 7);
            return double(s.runs);
        });
        double attempts = 0;
        for (const auto& [key, count] : summary.link_utilization_heatmap.entries) attempts += double(count);
        double attempt_rate = attempts / (trials / trial_rate);
        std::printf("%-30s %14.0f %16.0f %9.2fx %12.4f\n", s.name.c_str(), trial_rate, attempt_rate,
                    attempt_rate / floor, summary.empirical_success_rate);
    }

    // The sensitivity analysis of an ensemble on the telecom backbone: 2 x (nodes + 3 x links + 1)
    // further ensembles of 300 trials each.
    NetworkTopologyPayload backbone = telecom::build();
    TavoEngine engine;
    engine.define_network(backbone.nodes, backbone.links);
    EntanglementRequest request{"A", "E", 0.7, 5000.0, std::nullopt};
    MonteCarloStats stats;
    static_cast<MonteCarloSummary&>(stats) = engine.simulate(request, 1000, 1);
    stats.context = make_context(*engine.network(), engine.config(), request, 1);
    std::size_t ensembles = 2 * (backbone.nodes.size() + 3 * backbone.links.size() + 1);
    auto [rate, work] = best_rate(3, [&] {
        auto impacts = sensitivity_analysis(stats, 5);
        return double(impacts.size());
    });
    double seconds = work / rate;
    std::printf("\nsensitivity analysis, telecom backbone A->E: %zu ensembles of 300 trials in %.3f s "
                "(%.0f trials/s)\n",
                ensembles, seconds, double(ensembles) * 300.0 / seconds);
    return 0;
}
