// Figures of the simulator's hot paths, each next to the code path it replaced, measured in the
// same run:
// - the random source, with each block function this CPU runs (the portable one is what there was
//   before the wide ones): the block function alone; a long stream's failed attempts counted one
//   draw at a time (before) and in bulk (after); block 0 of many seeded generators, each with four
//   blocks at its first refill (before), one, and a kernel's width of generators in lanes (after);
//   the link attempts per second of a long failing request;
// - routing: a request across long chains (the plain exhaustive search with a scan of the link list
//   per lookup, as the timeline's plan used to do it, against the whole request now), a 7x7 grid
//   and complete graphs of 13 nodes (the plain exhaustive search against the pruned one);
// - seeded Monte Carlo ensembles on a few inline networks, with each block function: trials per
//   second of the reference trial loop (before) and of trials played in groups (after), whose
//   figures must agree to the bit, and link attempts per second against the seeded generator's
//   64-bit outputs per second;
// - a sensitivity analysis on the telecom backbone.
//
// - the physical model's ensembles beside the cycle model's (bench_physics.cpp).
//
// Usage: tavo_bench [--full | --ensembles | --physics]. --full also runs the exhaustive search on
// the 7x7 grid (over a minute); without it the grid's exhaustive figure is taken on 6x6.
// --ensembles runs the seeded ensembles alone, --physics the physical model's alone.

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench_physics.hpp"
#include "reference_loops.hpp"
#include "tavo/engine/engine.hpp"
#include "tavo/montecarlo/context.hpp"
#include "tavo/montecarlo/ensemble.hpp"
#include "tavo/montecarlo/sensitivity.hpp"
#include "tavo/random/chacha.hpp"
#include "tavo/routing/routing.hpp"
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
    auto [rate, work] = best_rate(3, [&] {
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
    list.push_back({"2-hop chain",
                    named({"A", "B", "C"}),
                    {fiber("A", "B", 50, 0.97, 1000), fiber("B", "C", 50, 0.97, 1000)},
                    {"A", "C", 0.9, 500.0, std::nullopt},
                    SimulationConfig::engine_default(),
                    1'000'000});
    list.push_back({"4-hop chain", named({"N0", "N1", "N2", "N3", "N4"}),
                    {fiber("N0", "N1", 100, 0.92, 800), fiber("N1", "N2", 100, 0.92, 800),
                     fiber("N2", "N3", 100, 0.92, 800), fiber("N3", "N4", 100, 0.92, 800)},
                    {"N0", "N4", 0.8, 500.0, std::nullopt}, SimulationConfig::engine_default(), 200'000});
    list.push_back({"six-node mesh",
                    named({"A", "B", "C", "D", "E", "F"}),
                    {fiber("A", "B", 5, 0.97, 2000), fiber("B", "C", 80, 0.93, 1200),
                     fiber("C", "D", 600, 0.88, 600), fiber("D", "E", 5500, 0.75, 150),
                     fiber("C", "F", 900, 0.91, 500), fiber("F", "E", 4800, 0.80, 200),
                     fiber("B", "F", 1200, 0.85, 400), fiber("A", "D", 700, 0.9, 500)},
                    {"A", "E", 0.7, 5000.0, StrategyType::HighestFidelity},
                    SimulationConfig::engine_default(),
                    20'000});
    SimulationConfig long_budget = SimulationConfig::engine_default();
    long_budget.total_time_cutoff_ms = 1e7;
    list.push_back({"long-budget failing request",
                    named({"A", "B", "C"}),
                    {fiber("A", "B", 2000, 0.9, 100), fiber("B", "C", 2000, 0.9, 100)},
                    {"A", "C", 0.95, 1e7, StrategyType::LowestLatency},
                    long_budget,
                    10});
    return list;
}

// The block function alone, in 64-bit outputs' worth of words per second: what the generator could
// deliver if handing out an output cost nothing.
double block_function_rate(ChaChaKernel kernel) {
    alignas(64) std::uint32_t out[16 * 16];
    volatile std::uint32_t sink = 0;
    const ChaChaKey key{1, 2, 3, 4, 5, 6, 7, 8};
    auto [rate, work] = best_rate(3, [&] {
        const std::uint64_t blocks = 8'000'000;
        for (std::uint64_t counter = 0; counter < blocks; counter += chacha_kernel_blocks(kernel)) {
            chacha12_blocks(kernel, key, counter, 0, out);
            sink = out[counter % 64];
        }
        return double(blocks) * 8;
    });
    (void)sink;
    return rate;
}

constexpr ChaChaKernel all_kernels[] = {ChaChaKernel::Portable, ChaChaKernel::Avx2,
                                        ChaChaKernel::Avx512};

// Link attempts per second of a request that fails on its first cycle and then runs out a long
// budget: nothing but draws and comparisons.
double failing_request_rate(const Scenario& s) {
    TavoEngine engine(s.config);
    engine.define_network(s.nodes, s.links);
    MonteCarloSummary summary;
    auto [trial_rate, trials] = best_rate(3, [&] {
        summary = engine.simulate(s.request, s.runs, 7);
        return double(s.runs);
    });
    double attempts = 0;
    for (const auto& [key, count] : summary.link_utilization_heatmap.entries()) {
        attempts += double(count);
    }
    return attempts / (trials / trial_rate);
}

// Block 0 of many seeded generators, in generators per second: each made and drawn from once as
// before (four blocks at its first refill), each made and drawn from once now (one block), and
// computed a kernel's width at a time, one generator per lane.
struct FirstBlockRates {
    double four_blocks, one_block, in_lanes;
};

FirstBlockRates first_block_rates(ChaChaKernel kernel) {
    volatile std::uint64_t sink = 0;
    const std::uint64_t seeds = 1'000'000;
    FirstBlockRates rates{};
    rates.four_blocks = best_rate(3, [&] {
                            std::uint64_t acc = 0;
                            for (std::uint64_t s = 0; s < seeds; ++s) {
                                acc += reference::FourBlockRng::seeded(s).next_u64();
                            }
                            sink = acc;
                            return double(seeds);
                        }).first;
    rates.one_block = best_rate(3, [&] {
                          std::uint64_t acc = 0;
                          for (std::uint64_t s = 0; s < seeds; ++s)
                              acc += ChaCha12Rng::seed_from_u64(s).next_u64();
                          sink = acc;
                          return double(seeds);
                      }).first;
    rates.in_lanes = best_rate(3, [&] {
                         const std::size_t lanes = chacha_kernel_blocks(kernel);
                         alignas(64) std::uint32_t out[16 * 16];
                         ChaChaKey keys[16];
                         std::uint64_t acc = 0;
                         for (std::uint64_t s = 0; s < seeds; s += lanes) {
                             chacha12_seeded_first_blocks(kernel, s, 0, out, keys);
                             acc += out[s % 64] + keys[0][0];
                         }
                         sink = acc;
                         return double(seeds);
                     }).first;
    (void)sink;
    return rates;
}

// Failed attempts counted over a long stream, in 64-bit outputs per second: one draw and one
// compare at a time (as failed trials did before), and outputs taken in bulk and counted in
// vectors.
std::pair<double, double> counting_rates() {
    volatile std::uint64_t sink = 0;
    const std::uint64_t draws = 40'000'000;
    const std::uint64_t threshold = inclusive_threshold(0.95);
    const double one_by_one = best_rate(3, [&] {
                                  ChaCha12Rng rng = ChaCha12Rng::seed_from_u64(42);
                                  std::uint64_t failed = 0;
                                  for (std::uint64_t i = 0; i < draws; ++i)
                                      failed += (rng.next_u64() >> 12) >= threshold;
                                  sink = failed;
                                  return double(draws);
                              }).first;
    std::vector<std::uint64_t> thresholds(128, threshold);
    const double bulk =
        best_rate(3, [&] {
            ChaCha12Rng rng = ChaCha12Rng::seed_from_u64(42);
            std::uint64_t failed = 0;
            rng.take_outputs(draws, [&](const std::uint32_t* words, std::size_t outputs) {
                failed += count_outputs_not_below(words, thresholds.data(), outputs);
            });
            sink = failed;
            return double(draws);
        }).first;
    (void)sink;
    return {one_by_one, bulk};
}

void random_source(const Scenario& failing) {
    std::printf("random source, per block function (portable: the only one before)\n");
    std::printf("  %-10s %14s %14s %14s %14s %14s %14s\n", "kernel", "block function", "one by one",
                "bulk, counted", "first block", "first block", "first blocks");
    std::printf("  %-10s %14s %14s %14s %14s %14s %14s\n", "", "alone", "(before)", "(after)",
                "4 at first", "1 at first", "in lanes");
    std::printf("  %-10s %14s %14s %14s %14s %14s %14s\n", "", "(M outputs/s)", "(M outputs/s)",
                "(M outputs/s)", "(before, M/s)", "(M gen./s)", "(after, M/s)");
    const ChaChaKernel active = chacha_kernel();
    for (ChaChaKernel kernel : all_kernels) {
        if (!select_chacha_kernel(kernel)) {
            std::printf("  %-10s %14s\n", chacha_kernel_name(kernel), "not on this CPU");
            continue;
        }
        const double alone = block_function_rate(kernel);
        const auto [one_by_one, bulk] = counting_rates();
        const FirstBlockRates first = first_block_rates(kernel);
        std::printf("  %-10s %14.1f %14.1f %14.1f %14.1f %14.1f %14.1f\n",
                    chacha_kernel_name(kernel), alone / 1e6, one_by_one / 1e6, bulk / 1e6,
                    first.four_blocks / 1e6, first.one_block / 1e6, first.in_lanes / 1e6);
    }
    std::printf("  long failing request, link attempts/s:");
    for (ChaChaKernel kernel : all_kernels) {
        if (!select_chacha_kernel(kernel)) continue;
        std::printf("  %s %.1f M", chacha_kernel_name(kernel), failing_request_rate(failing) / 1e6);
    }
    select_chacha_kernel(active);
    std::printf("\n  in use: %s\n\n", chacha_kernel_name(active));
}

// Seconds for the best of `repeats` runs of `body`.
template <class Body>
double best_seconds(int repeats, Body&& body) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        auto start = Clock::now();
        body();
        best = std::min(best, seconds_since(start));
    }
    return best;
}

struct Network {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
};

Network chain(std::size_t n) {
    Network net;
    for (std::size_t i = 0; i < n; ++i) net.nodes.push_back({"N" + std::to_string(i), 1.0});
    for (std::size_t i = 0; i + 1 < n; ++i) {
        net.links.push_back(fiber(net.nodes[i].id, net.nodes[i + 1].id, 1.0, 0.999, 1000));
    }
    return net;
}

// k x k nodes joined to their right and lower neighbours. Fidelities vary a little so that paths
// of the same length score differently, unless `alike` gives them all one value.
Network grid(std::size_t k, std::optional<double> alike = std::nullopt) {
    Network net;
    auto id = [](std::size_t r, std::size_t c) {
        return "g" + std::to_string(r) + "_" + std::to_string(c);
    };
    ChaCha12Rng pick = ChaCha12Rng::seed_from_u64(5);
    const double fidelities[] = {0.9, 0.95, 0.97, 0.99};
    for (std::size_t r = 0; r < k; ++r) {
        for (std::size_t c = 0; c < k; ++c) {
            net.nodes.push_back({id(r, c), 1.0});
            auto fidelity = [&] { return alike.value_or(fidelities[pick.next_u32() % 4]); };
            if (c + 1 < k) net.links.push_back(fiber(id(r, c), id(r, c + 1), 10, fidelity(), 1000));
            if (r + 1 < k) net.links.push_back(fiber(id(r, c), id(r + 1, c), 10, fidelity(), 1000));
        }
    }
    return net;
}

// K_n in which the chain n0, n2, n3, ..., n1 is the one good route and every other link is poor:
// the search has to go deep to find it.
Network complete_graph(std::size_t n) {
    Network net;
    for (std::size_t i = 0; i < n; ++i) net.nodes.push_back({"n" + std::to_string(i), 1.0});
    auto position = [n](std::size_t i) { return i == 0 ? 0 : i == 1 ? n - 1 : i - 1; };
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            const bool good = position(i) + 1 == position(j) || position(j) + 1 == position(i);
            net.links.push_back(fiber(net.nodes[i].id, net.nodes[j].id, good ? 1.0 : 1000.0,
                                      good ? 0.99 : 0.1, good ? 1000 : 1));
        }
    }
    return net;
}

QuantumNetwork quantum_network(const Network& net) {
    return QuantumNetwork::from_definitions(net.nodes, net.links);
}

// What planning a request cost before the link index: each search followed by a scan of the link
// list per hop for the route's fidelity, then another per hop for the timeline's values.
std::size_t plan_with_linear_lookups(const QuantumNetwork& network,
                                     const EntanglementRequest& request) {
    std::size_t found = 0;
    auto lookups = [&](const RouteInfo& route) {
        for (std::size_t i = 1; i < route.path.size(); ++i) {
            found += network.link_between(route.path[i - 1], route.path[i]) != nullptr;
        }
    };
    const StrategyType strategy = request.strategy.value_or(StrategyType::HighestFidelity);
    auto route = find_route_exhaustive(network, request.from_node, request.to, strategy);
    if (!route) return found;
    lookups(*route);
    if (strategy == StrategyType::HighestFidelity && request.fidelity_target > route->fidelity) {
        route = find_route_exhaustive(network, request.from_node, request.to,
                                      StrategyType::LowestLatency);
        if (!route) return found;
        lookups(*route);
    }
    lookups(*route);
    return found;
}

void row(const std::string& what, double before, double after) {
    if (before > 0) {
        std::printf("  %-52s %12.2f ms %12.2f ms %9.0fx\n", what.c_str(), before * 1e3, after * 1e3,
                    before / after);
    } else {
        std::printf("  %-52s %15s %12.2f ms\n", what.c_str(), "-", after * 1e3);
    }
}

void routing(bool full) {
    std::printf("routing (before: plain exhaustive search, link lookups scanning the link list)\n");
    std::printf("  %-52s %15s %15s %10s\n", "case", "before", "after", "speed-up");

    // Chains: the fidelity-first route misses the target, so the request searches twice. A 1 ms
    // budget fails on the propagation check before any cycle; a 5 ms cutoff runs two cycles.
    SimulationConfig short_cutoff = SimulationConfig::engine_default();
    short_cutoff.total_time_cutoff_ms = 5.0;
    for (std::size_t n : {1'000, 10'000, 100'000}) {
        const Network net = chain(n);
        const QuantumNetwork network = quantum_network(net);
        const EntanglementRequest fails_fast{"N0", net.nodes.back().id, 0.5, 1.0, std::nullopt};
        TavoEngine engine;
        engine.define_network(net.nodes, net.links);
        const double after = best_seconds(5, [&] { engine.request_entanglement(fails_fast); });
        const double before =
            n <= 10'000 ? best_seconds(n <= 1'000 ? 5 : 1,
                                       [&] { plan_with_linear_lookups(network, fails_fast); })
                        : 0.0;
        row("chain of " + std::to_string(n) + ", request failing before any cycle", before, after);
        // Before: the reference timeline recording every attempt; after: the engine's single
        // request, the fast trial loop keeping only its result.
        TavoEngine cycling(short_cutoff);
        cycling.define_network(net.nodes, net.links);
        const EntanglementRequest runs{"N0", net.nodes.back().id, 0.5, 1e9, std::nullopt};
        const double recorded =
            n <= 10'000
                ? best_seconds(1,
                               [&] {
                                   SimulationRuntime runtime;
                                   NetworkTelemetry telemetry(short_cutoff);
                                   reference::play_timeline(telemetry, network, runtime, runs,
                                                            nullptr, ThreadLossDraw{});
                               })
                : 0.0;
        row("chain of " + std::to_string(n) + ", two cycles (before: recording all)", recorded,
            best_seconds(3, [&] { cycling.request_entanglement(runs); }));
    }

    auto search_pair = [&](const std::string& what, const Network& net, const std::string& from,
                           const std::string& to, StrategyType strategy, bool exhaustive) {
        const QuantumNetwork network = quantum_network(net);
        std::optional<RouteInfo> fast, plain;
        const double after =
            best_seconds(3, [&] { fast = find_route(network, from, to, strategy); });
        double before = 0.0;
        if (exhaustive) {
            before = best_seconds(
                1, [&] { plain = find_route_exhaustive(network, from, to, strategy); });
            if (!fast || !plain || fast->path != plain->path || fast->fidelity != plain->fidelity) {
                std::printf("  %s: the two searches disagree\n", what.c_str());
                std::exit(1);
            }
        }
        row(what, before, after);
    };
    const Network grid6 = grid(6), grid7 = grid(7);
    search_pair("6x6 grid corner to corner, HighestFidelity", grid6, "g0_0", "g5_5",
                StrategyType::HighestFidelity, true);
    search_pair("7x7 grid corner to corner, HighestFidelity", grid7, "g0_0", "g6_6",
                StrategyType::HighestFidelity, full);
    // Every path of a length ties: the last one met wins, and the walk has to see them all.
    search_pair("  the same, every fidelity 0.95", grid(7, 0.95), "g0_0", "g6_6",
                StrategyType::HighestFidelity, full);
    search_pair("  the same, every fidelity 1.0", grid(7, 1.0), "g0_0", "g6_6",
                StrategyType::HighestFidelity, full);
    search_pair("7x7 grid corner to corner, LowestLatency", grid7, "g0_0", "g6_6",
                StrategyType::LowestLatency, full);
    const Network k13 = complete_graph(13);
    search_pair("K13, HighestFidelity", k13, "n0", "n1", StrategyType::HighestFidelity, true);
    search_pair("K13, LowestLatency", k13, "n0", "n1", StrategyType::LowestLatency, full);
    if (!full)
        std::printf(
            "  (\"before\" figures left out above take from ten seconds to minutes each: "
            "--full)\n");
    std::printf("\n");
}

bool same_summary(const MonteCarloSummary& a, const MonteCarloSummary& b) {
    auto same = [](double x, double y) {
        return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
    };
    if (a.total_runs != b.total_runs || !same(a.empirical_success_rate, b.empirical_success_rate) ||
        !same(a.mean_latency_ms, b.mean_latency_ms) || !same(a.mean_fidelity, b.mean_fidelity) ||
        a.aggregate_congestion_drops != b.aggregate_congestion_drops ||
        a.link_utilization_heatmap.entries().size() !=
            b.link_utilization_heatmap.entries().size()) {
        return false;
    }
    for (const auto& [key, count] : a.link_utilization_heatmap.entries()) {
        if (b.link_utilization_heatmap.get(key) != count) return false;
    }
    return true;
}

// The seeded ensembles, trials in groups against the reference trial loop (one generator per
// trial, failed trials drawn out one attempt at a time), with each kernel this CPU runs; the
// figures of both must agree to the bit.
void ensembles(const std::vector<Scenario>& all, double floor) {
    std::printf(
        "seeded ensembles, trials/s (before: the reference trial loop; after: trials in "
        "groups)\n");
    std::printf("  %-30s %-9s %13s %13s %9s %15s %9s %9s\n", "scenario", "kernel", "before",
                "after", "speed-up", "attempts/s", "vs floor", "success");
    const ChaChaKernel active = chacha_kernel();
    for (const Scenario& s : all) {
        const QuantumNetwork network = QuantumNetwork::from_definitions(s.nodes, s.links);
        for (ChaChaKernel kernel : all_kernels) {
            if (!select_chacha_kernel(kernel)) continue;
            MonteCarloSummary before, after;
            auto [before_rate, runs] = best_rate(3, [&] {
                before = reference::seeded_ensemble(network, s.config, s.request, s.runs, 7);
                return double(s.runs);
            });
            auto [after_rate, runs_again] = best_rate(3, [&] {
                after = MonteCarloSimulationEngine::execute_ensemble(network, s.config, s.request,
                                                                     s.runs, 7);
                return double(s.runs);
            });
            if (!same_summary(before, after)) {
                std::printf("  %s (%s): the two trial loops disagree\n", s.name.c_str(),
                            chacha_kernel_name(kernel));
                std::exit(1);
            }
            double attempts = 0;
            for (const auto& [key, count] : after.link_utilization_heatmap.entries()) {
                attempts += double(count);
            }
            const double attempt_rate = attempts * after_rate / runs_again;
            std::printf("  %-30s %-9s %13.0f %13.0f %8.2fx %15.0f %8.2fx %9.4f\n", s.name.c_str(),
                        chacha_kernel_name(kernel), before_rate, after_rate,
                        after_rate / before_rate, attempt_rate, attempt_rate / floor,
                        after.empirical_success_rate);
        }
    }
    select_chacha_kernel(active);
    std::printf(
        "  (vs floor: link attempts per second against the seeded generator's 64-bit "
        "outputs per second, with the kernel in use)\n");
}

}  // namespace

int main(int argc, char** argv) {
    const bool full = argc > 1 && std::string(argv[1]) == "--full";
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows through a pipe too
    const std::vector<Scenario> all = scenarios();
    if (argc > 1 && std::string(argv[1]) == "--ensembles") {
        ensembles(all, generator_rate());
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--physics") {
        bench::physical_ensembles();
        return 0;
    }
    random_source(all.back());
    routing(full);

    double floor = generator_rate();
    std::printf("seeded generator: %.1f M 64-bit outputs/s\n\n", floor / 1e6);
    ensembles(all, floor);
    std::printf("\n");
    bench::physical_ensembles();

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
