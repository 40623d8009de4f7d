// The physical model's seeded ensembles in trials per second, beside the cycle model's on the same
// networks and requests in the same run:
// - chains of 2, 5 and 9 hops of 50 km, memories of T2 = 1 s, a target below the fidelity the
//   chain delivers (so a trial ends with its first end-to-end pair), within 1 s (a failed trial
//   of the cycle model runs every cycle up to its limit, so its figure falls as the limit grows);
// - one hop of 10 km against one of 1,000 km (p about 1e-20), which must cost the same: a hop's
//   attempts up to its first success are one draw;
// - the floor: block 0 of seeded generators per second, computed a kernel's width at a time, which
//   every trial needs.
// One thread throughout, timed by the thread's own CPU clock: the machines these run on are shared,
// and trials per CPU second is the figure of one core whatever else runs beside it.

#include "bench_physics.hpp"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tavo/montecarlo/ensemble.hpp"
#include "tavo/random/chacha.hpp"

namespace bench {
namespace {

using namespace tavo;
double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// Best of three: trials per CPU second of an ensemble of `runs` trials.
template <class Run>
double trials_per_second(std::uint64_t runs, Run&& run) {
    double best = 0.0;
    for (int repeat = 0; repeat < 3; ++repeat) {
        const double start = thread_seconds();
        run();
        best = std::max(best, double(runs) / (thread_seconds() - start));
    }
    return best;
}

QuantumNetwork chain(std::size_t hops, double km) {
    std::vector<NodeDefinition> nodes;
    std::vector<LinkDefinition> links;
    for (std::size_t i = 0; i <= hops; ++i) nodes.push_back({"N" + std::to_string(i), 1.0});
    for (std::size_t i = 0; i < hops; ++i) {
        links.push_back(
            {nodes[i].id, nodes[i + 1].id, km, 0.99, 1e4, LinkType::Fiber, std::nullopt});
    }
    return QuantumNetwork::from_definitions(nodes, links);
}

double first_blocks_per_second() {
    const ChaChaKernel kernel = chacha_kernel();
    const std::size_t lanes = chacha_kernel_blocks(kernel);
    const std::uint64_t seeds = 10'000'000;
    volatile std::uint32_t sink = 0;
    const double rate = trials_per_second(seeds, [&] {
        alignas(64) std::uint32_t out[16 * 16];
        ChaChaKey keys[16];
        std::uint32_t acc = 0;
        for (std::uint64_t s = 0; s < seeds; s += lanes) {
            chacha12_seeded_first_blocks(kernel, s, 0, out, keys);
            acc += out[s % 64] + keys[0][0];
        }
        sink = acc;
    });
    (void)sink;
    return rate;
}

}  // namespace

void physical_ensembles() {
    std::printf(
        "physical model: seeded ensembles, trials per CPU second on one thread (kernel %s)\n",
        chacha_kernel_name(chacha_kernel()));
    std::printf("  %-34s %14s %14s %9s %9s %9s\n", "scenario", "cycle model", "physical", "ratio",
                "success", "fidelity");
    const SimulationConfig cycle = SimulationConfig::engine_default();

    struct Case {
        std::string name;
        std::size_t hops;
        double km;
        std::uint64_t runs;
        double limit;
    };
    const Case cases[] = {
        {"2 hops of 50 km, T2 = 1 s", 2, 50.0, 10'000'000, 1000.0},
        {"5 hops of 50 km, T2 = 1 s", 5, 50.0, 4'000'000, 1000.0},
        {"9 hops of 50 km, T2 = 1 s", 9, 50.0, 2'000'000, 1000.0},
        {"1 hop of 10 km", 1, 10.0, 10'000'000, 1e30},
        {"1 hop of 1,000 km (p = 1e-20)", 1, 1000.0, 10'000'000, 1e30},
    };
    for (const Case& c : cases) {
        const QuantumNetwork network = chain(c.hops, c.km);
        const EntanglementRequest request{"N0", "N" + std::to_string(c.hops), 0.5, c.limit,
                                          std::nullopt};
        SimulationConfig with_physics = cycle;
        with_physics.total_time_cutoff_ms = c.limit;
        with_physics.physics = PhysicalModel{};
        MonteCarloSummary summary;
        // Far fewer trials of the cycle model: each failed one counts its cycles to the limit.
        const double cycle_rate = trials_per_second(c.runs / 10, [&] {
            MonteCarloSimulationEngine::execute_ensemble(network, cycle, request, c.runs / 10, 7);
        });
        const double physical_rate = trials_per_second(c.runs, [&] {
            summary = MonteCarloSimulationEngine::execute_ensemble(network, with_physics, request,
                                                                   c.runs, 7);
        });
        std::printf("  %-34s %14.0f %14.0f %8.2fx %9.4f %9.4f\n", c.name.c_str(), cycle_rate,
                    physical_rate, physical_rate / cycle_rate, summary.empirical_success_rate,
                    summary.mean_fidelity);
    }
    std::printf("  floor: block 0 of %.0f seeded generators/s (a trial needs at least one)\n\n",
                first_blocks_per_second());
}

}  // namespace bench
